/* What the system's per-file work costs on this machine at best, for the
 * benchmark (bench/run.sh) to hold bigtool and tar against: the files of an
 * archive's entries made, read or compared from THREADS threads, with the
 * list of them handed over for free (no walk, no name checks, no lines, no
 * order kept). No tool can do the same work in less.
 *
 *   floor extract ARCHIVE OUT THREADS     each entry's file made below OUT and filled
 *                                         from the archive by copy_file_range(2)
 *   floor create ARCHIVE TREE OUT THREADS each file of TREE read into 1 MiB runs,
 *                                         written at its entry's place in OUT
 *   floor compare ARCHIVE TREE THREADS    each file of TREE read and compared with
 *                                         its entry's bytes
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "bigtool.h"

#define RUN (1u << 20)

static int mode; /* 'e', 'c' or 'm' */
static int archive_fd, out_fd = -1, threads;
static const char* base;
static uint32_t count;
static char** names;
static uint32_t *sizes, *offsets;
static unsigned char* data; /* the whole archive, for compare */

static void die(const char* what) {
    perror(what);
    exit(2);
}

static void* work(void* share) {
    long t = (long)share;
    uint32_t from = (uint32_t)((uint64_t)count * t / threads), to = (uint32_t)((uint64_t)count * (t + 1) / threads);
    unsigned char* run = malloc(RUN);
    uint64_t filled = 0, at = 0;
    char path[4096];
    for (uint32_t i = from; i < to; ++i) {
        snprintf(path, sizeof path, "%s/%s", base, names[i]);
        if (mode == 'e') {
            int file = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
            loff_t source = offsets[i];
            if (file < 0 || copy_file_range(archive_fd, &source, file, NULL, sizes[i], 0) != (ssize_t)sizes[i]) {
                die(path);
            }
            close(file);
            continue;
        }
        int file = open(path, O_RDONLY | O_CLOEXEC);
        struct stat st;
        if (file < 0 || fstat(file, &st) != 0 || st.st_size > RUN) {
            die(path);
        }
        if (filled + (uint64_t)st.st_size > RUN || (mode == 'm' && filled > 0)) {
            if (mode == 'c' && pwrite(out_fd, run, filled, (off_t)at) != (ssize_t)filled) {
                die("pwrite");
            }
            filled = 0;
        }
        if (filled == 0) {
            at = offsets[i];
        }
        if (read(file, run + filled, (size_t)st.st_size) != st.st_size) {
            die(path);
        }
        if (mode == 'm' && (st.st_size != sizes[i] || memcmp(run, data + offsets[i], sizes[i]) != 0)) {
            printf("%s differs\n", names[i]);
        }
        filled += (uint64_t)st.st_size;
        close(file);
    }
    if (mode == 'c' && filled > 0 && pwrite(out_fd, run, filled, (off_t)at) != (ssize_t)filled) {
        die("pwrite");
    }
    free(run);
    return NULL;
}

/* Every entry's name (with '/'), size and offset, through the library. */
static void load(const char* path) {
    bt_archive* archive;
    if (bt_open(&archive, path) != BT_OK) {
        fprintf(stderr, "floor: %s: %s\n", path, bt_last_errmsg());
        exit(2);
    }
    count = bt_entry_count(archive);
    names = calloc(count, sizeof *names);
    sizes = calloc(count, sizeof *sizes);
    offsets = calloc(count, sizeof *offsets);
    for (uint32_t i = 0; i < count; ++i) {
        const char* name;
        size_t length;
        if (bt_entry(archive, i, &name, &length, &sizes[i], &offsets[i]) != BT_OK) {
            exit(2);
        }
        names[i] = strndup(name, length);
        for (char* c = names[i]; *c; ++c) {
            *c = *c == '\\' ? '/' : *c;
        }
    }
    bt_close(archive);
}

/* Entry i's folders below OUT, made once each: the entries come folder by folder. */
static void make_folders(uint32_t i, char* last) {
    char path[4096];
    snprintf(path, sizeof path, "%s/%s", base, names[i]);
    *strrchr(path, '/') = '\0';
    if (strcmp(path, last) == 0) {
        return;
    }
    strcpy(last, path);
    for (char* c = path + strlen(base) + 1; (c = strchr(c, '/')) != NULL; ++c) {
        *c = '\0';
        mkdir(path, 0777);
        *c = '/';
    }
    mkdir(path, 0777);
}

int main(int argc, char** argv) {
    if (argc < 5 || (strcmp(argv[1], "create") == 0 && argc < 6)) {
        fprintf(stderr, "usage: see bench/floor.c\n");
        return 2;
    }
    mode = strcmp(argv[1], "extract") == 0 ? 'e' : strcmp(argv[1], "create") == 0 ? 'c' : 'm';
    load(argv[2]);
    base = argv[3];
    threads = atoi(argv[mode == 'c' ? 5 : 4]);
    if ((archive_fd = open(argv[2], O_RDONLY | O_CLOEXEC)) < 0) {
        die(argv[2]);
    }
    if (mode == 'e') {
        char last[4096] = "";
        mkdir(base, 0777);
        for (uint32_t i = 0; i < count; ++i) {
            make_folders(i, last);
        }
    } else if (mode == 'c' && (out_fd = open(argv[4], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666)) < 0) {
        die(argv[4]);
    } else if (mode == 'm') {
        off_t size = lseek(archive_fd, 0, SEEK_END);
        data = malloc((size_t)size);
        if (data == NULL || pread(archive_fd, data, (size_t)size, 0) != size) {
            die("the archive");
        }
    }
    pthread_t workers[64];
    threads = threads < 1 ? 1 : threads > 64 ? 64 : threads;
    for (long t = 0; t < threads; ++t) {
        pthread_create(&workers[t], NULL, work, (void*)t);
    }
    for (int t = 0; t < threads; ++t) {
        pthread_join(workers[t], NULL);
    }
    return 0;
}
