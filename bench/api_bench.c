/* The library's side of the benchmark (bench/run.sh), one case a run:
 *
 *   api_bench lookup ARCHIVE NAME       open, look NAME up, print its index
 *   api_bench list ARCHIVE              every entry's name, size and offset read, as FIND reads them
 *   api_bench read ARCHIVE THREADS N    N random 4 KiB reads of entry data, from THREADS threads
 *   api_bench pread ARCHIVE THREADS N   the same reads by pread(2) on a descriptor of its own
 *
 * read and pread draw the same entries and offsets from the same seed; pread
 * takes the entries' places from the library before it starts. */
#define _XOPEN_SOURCE 700
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "bigtool.h"

#define READ_SIZE 4096

static bt_archive* archive;
static int fd = -1;
static uint32_t entries;
static uint32_t* sizes;
static uint32_t* offsets;
static long reads_each;

static void die(const char* what) {
    fprintf(stderr, "api_bench: %s: %s\n", what, bt_last_errmsg());
    exit(2);
}

static void* reader(void* seed_place) {
    unsigned long long seed = *(unsigned long long*)seed_place;
    char buffer[READ_SIZE];
    long sum = 0;
    for (long i = 0; i < reads_each; ++i) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        uint32_t k = (uint32_t)(seed >> 33) % entries;
        uint32_t room = sizes[k] > READ_SIZE ? sizes[k] - READ_SIZE : 0;
        uint64_t at = room ? (seed >> 7) % room : 0;
        size_t got = 0;
        if (fd < 0) {
            if (bt_read(archive, k, at, buffer, READ_SIZE, &got) != BT_OK) {
                die("bt_read");
            }
        } else {
            ssize_t n = pread(fd, buffer, READ_SIZE < sizes[k] ? READ_SIZE : sizes[k], (off_t)(offsets[k] + at));
            if (n < 0) {
                die("pread");
            }
            got = (size_t)n;
        }
        sum += buffer[got ? got - 1 : 0];
    }
    *(unsigned long long*)seed_place = (unsigned long long)sum;
    return NULL;
}

static void read_case(const char* path, int threads, long reads, int by_pread) {
    entries = bt_entry_count(archive);
    sizes = malloc(entries * sizeof *sizes);
    offsets = malloc(entries * sizeof *offsets);
    for (uint32_t k = 0; k < entries; ++k) {
        bt_entry(archive, k, NULL, NULL, &sizes[k], &offsets[k]);
    }
    if (by_pread && (fd = open(path, O_RDONLY)) < 0) {
        die("open");
    }
    reads_each = reads / threads;
    pthread_t ids[64];
    unsigned long long seeds[64];
    for (int t = 0; t < threads; ++t) {
        seeds[t] = 12345 + (unsigned long long)t;
        pthread_create(&ids[t], NULL, reader, &seeds[t]);
    }
    for (int t = 0; t < threads; ++t) {
        pthread_join(ids[t], NULL);
    }
}

int main(int argc, char** argv) {
    if (argc < 3 || bt_open(&archive, argv[2]) != BT_OK) {
        die(argc < 3 ? "usage" : "bt_open");
    }
    if (strcmp(argv[1], "lookup") == 0 && argc == 4) {
        uint32_t k;
        if (bt_lookup(archive, argv[3], strlen(argv[3]), &k) != BT_OK) {
            die("bt_lookup");
        }
        printf("%lu\n", (unsigned long)k);
    } else if (strcmp(argv[1], "list") == 0) {
        /* Each name's bytes are read too: its last byte goes into the sum. */
        uint32_t count = bt_entry_count(archive);
        unsigned long long sum = 0;
        for (uint32_t k = 0; k < count; ++k) {
            const char* name;
            size_t length;
            uint32_t size, offset;
            bt_entry(archive, k, &name, &length, &size, &offset);
            sum += size + offset + (length ? (unsigned char)name[length - 1] : 0);
        }
        printf("%lu entries, sum %llu\n", (unsigned long)count, sum);
    } else if ((strcmp(argv[1], "read") == 0 || strcmp(argv[1], "pread") == 0) && argc == 5) {
        int threads = atoi(argv[3]);
        read_case(argv[2], threads < 1 ? 1 : threads > 64 ? 64 : threads, atol(argv[4]),
                  strcmp(argv[1], "pread") == 0);
    } else {
        die("usage");
    }
    bt_close(archive);
    return 0;
}
