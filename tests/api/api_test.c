/* The public API, from C, through the header alone: every call, every
 * status a caller can meet, two archives at once, and one handle read from
 * several threads. Linked with the shared library and nothing else of the
 * project. Archives are written here, byte by byte. */
#ifndef _WIN32
#define _POSIX_C_SOURCE 200112L /* symlink */
#endif
#include <dirent.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include "bigtool.h"

static int failures = 0;

#define CHECK(cond)                                                          \
    do {                                                                     \
        if (!(cond)) {                                                       \
            fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #cond); \
            ++failures;                                                      \
        }                                                                    \
    } while (0)

#define CHECK_STATUS(call, status, message)                                          \
    do {                                                                             \
        int got_ = (call);                                                           \
        CHECK(got_ == (status));                                                     \
        if (strcmp(bt_last_errmsg(), (message)) != 0) {                              \
            fprintf(stderr, "%s:%d: message '%s', not '%s'\n", __FILE__, __LINE__,    \
                    bt_last_errmsg(), (message));                                    \
            ++failures;                                                              \
        }                                                                            \
    } while (0)

struct entry {
    const char* name;
    const char* data;
};

static void be32(unsigned char* p, uint32_t v) {
    p[0] = (unsigned char)(v >> 24);
    p[1] = (unsigned char)(v >> 16);
    p[2] = (unsigned char)(v >> 8);
    p[3] = (unsigned char)v;
}

static void le32(unsigned char* p, uint32_t v) {
    p[0] = (unsigned char)v;
    p[1] = (unsigned char)(v >> 8);
    p[2] = (unsigned char)(v >> 16);
    p[3] = (unsigned char)(v >> 24);
}

/* An archive of `count` entries in `out`, which has room for it; its size. */
static size_t make_archive(unsigned char* out, const struct entry* entries, int count) {
    size_t index = 0;
    for (int i = 0; i < count; ++i) {
        index += 9 + strlen(entries[i].name);
    }
    size_t at = 16 + index + 8;
    size_t put = 16;
    for (int i = 0; i < count; ++i) {
        size_t length = strlen(entries[i].data);
        be32(out + put, (uint32_t)at);
        be32(out + put + 4, (uint32_t)length);
        strcpy((char*)out + put + 8, entries[i].name);
        put += 9 + strlen(entries[i].name);
        memcpy(out + at, entries[i].data, length);
        at += length;
    }
    memcpy(out + put, "L225\0\0\0\0", 8);
    memcpy(out, "BIGF", 4);
    le32(out + 4, (uint32_t)at);
    be32(out + 8, (uint32_t)count);
    be32(out + 12, (uint32_t)(16 + index + 8));
    return at;
}

static void write_file(const char* path, const unsigned char* bytes, size_t size) {
    FILE* file = fopen(path, "wb");
    if (file == NULL || fwrite(bytes, 1, size, file) != size || fclose(file) != 0) {
        fprintf(stderr, "cannot write %s\n", path);
        exit(1);
    }
}

static const struct entry MOD[] = {
    {"data\\ini\\weapon.ini", "damage = 40\n"},
    {"maps\\harbour.map", "HARBOUR MAP DATA, 32 BYTES LONG."},
    {"Data/INI/Weapon.ini", "damage = 45\n"},
};

struct memory {
    const unsigned char* bytes;
    size_t size;
    int fail;
};

static int read_memory(void* context, uint64_t offset, void* buffer, size_t count, size_t* got) {
    const struct memory* memory = context;
    if (memory->fail) {
        return 1;
    }
    size_t left = offset < memory->size ? memory->size - (size_t)offset : 0;
    *got = count < left ? count : left;
    memcpy(buffer, memory->bytes + offset, *got);
    return 0;
}

static void test_reading(const char* path) {
    bt_archive* archive = NULL;
    CHECK(bt_open(&archive, path) == BT_OK);
    if (archive == NULL) {
        return;
    }
    uint32_t size = 0, count = 0, start = 0;
    CHECK(bt_header(archive, &size, &count, &start) == BT_OK);
    CHECK(size == 161 && count == 3 && start == 105);
    CHECK(bt_entry_count(archive) == 3);

    const char* name = NULL;
    size_t length = 0;
    uint32_t data_size = 0, offset = 0;
    CHECK(bt_entry(archive, 1, &name, &length, &data_size, &offset) == BT_OK);
    CHECK(length == 16 && strcmp(name, "maps\\harbour.map") == 0);
    CHECK(data_size == 32 && offset == start + 12);
    CHECK(bt_entry(archive, 2, NULL, NULL, NULL, NULL) == BT_OK);
    CHECK_STATUS(bt_entry(archive, 3, &name, NULL, NULL, NULL), BT_ERR_ARGUMENT,
                 "bt_entry: there is no entry 3; the archive has 3.");
    CHECK(strcmp(bt_errmsg(archive), "bt_entry: there is no entry 3; the archive has 3.") == 0);

    /* Many entries a call: whole names only, each with its zero byte. */
    char names[40];
    size_t used = 0;
    uint32_t sizes[3], offsets[3], filled = 0;
    CHECK(bt_entries(archive, 0, 3, names, sizeof names, &used, sizes, offsets, &filled) == BT_OK);
    CHECK(filled == 2 && used == 37 && memcmp(names, "data\\ini\\weapon.ini\0maps\\harbour.map\0", 37) == 0);
    CHECK(sizes[1] == 32 && offsets[1] == start + 12);
    CHECK(bt_entries(archive, 3, 0, NULL, 0, &used, NULL, NULL, &filled) == BT_OK && filled == 0);
    CHECK_STATUS(bt_entries(archive, 1, 1, names, 16, &used, NULL, NULL, &filled), BT_ERR_BUFFER_TOO_SMALL,
                 "bt_entries: the name of entry 1 does not fit in 16 bytes.");
    CHECK_STATUS(bt_entries(archive, 2, 2, names, sizeof names, &used, NULL, NULL, &filled), BT_ERR_ARGUMENT,
                 "bt_entries: 2 entries from entry 2 run past the archive's 3.");

    /* The game's rule, and the first of two entries of one name. */
    uint32_t index = 99;
    CHECK(bt_lookup(archive, "DATA/ini/WEAPON.INI", 19, &index) == BT_OK && index == 0);
    CHECK(bt_lookup(archive, "maps/harbour.mapX", 16, &index) == BT_OK && index == 1);
    CHECK(strcmp(bt_errmsg(archive), "") == 0);
    CHECK_STATUS(bt_lookup(archive, "maps/harbour", 12, &index), BT_ERR_NOT_FOUND,
                 "No entry matches 'maps/harbour'.");

    uint32_t found[3];
    size_t total = 0;
    const char* inis[] = {"*.INI"};
    CHECK(bt_select(archive, inis, 1, found, 3, &total) == BT_OK);
    CHECK(total == 2 && found[0] == 0 && found[1] == 2);
    const char* both[] = {"maps?harbour.map", "data\\ini\\weapon.ini"};
    CHECK(bt_select(archive, both, 2, NULL, 0, &total) == BT_OK && total == 3);
    CHECK_STATUS(bt_select(archive, both, 2, found, 1, &total), BT_ERR_BUFFER_TOO_SMALL,
                 "bt_select: 3 entries match; the buffer holds 1.");
    CHECK(total == 3 && found[0] == 0);
    const char* missing[] = {"*.map", "sounds\\*"};
    CHECK_STATUS(bt_select(archive, missing, 2, found, 3, &total), BT_ERR_NOT_FOUND,
                 "No entry matches 'sounds\\*'.");
    CHECK_STATUS(bt_select(archive, missing, 0, found, 3, &total), BT_ERR_ARGUMENT,
                 "bt_select: no patterns, or no place for the count.");

    char buffer[64];
    size_t got = 0;
    CHECK(bt_read(archive, 1, 8, buffer, sizeof buffer, &got) == BT_OK);
    CHECK(got == 24 && memcmp(buffer, "MAP DATA, 32 BYTES LONG.", 24) == 0);
    CHECK(bt_read(archive, 2, 9, buffer, 2, &got) == BT_OK && got == 2 && memcmp(buffer, "45", 2) == 0);
    CHECK(bt_read(archive, 0, 12, buffer, 8, &got) == BT_OK && got == 0);
    CHECK(bt_read(archive, 0, UINT64_MAX, buffer, 8, &got) == BT_OK && got == 0);
    CHECK_STATUS(bt_read(archive, 0, 0, NULL, 8, &got), BT_ERR_ARGUMENT,
                 "bt_read: the buffer or the count's place is NULL.");
    bt_close(archive);
}

static void test_refusals(const char* folder) {
    char path[512];
    unsigned char bytes[4096];
    size_t size = make_archive(bytes, MOD, 3);
    bt_archive* archive = (bt_archive*)1;

    snprintf(path, sizeof path, "%s/missing.big", folder);
    CHECK_STATUS(bt_open(&archive, path), BT_ERR_OPEN, "Could not open file.");
    CHECK(archive == NULL);
    CHECK_STATUS(bt_open(&archive, folder), BT_ERR_OPEN, "Could not open file.");

    struct {
        size_t at;      /* a byte changed, or the size cut when `cut` */
        unsigned char value;
        int cut;
        int status;
        const char* message;
    } damaged[] = {
        {0, 'b', 0, BT_ERR_NOT_ARCHIVE, "This is not a tarvenor BIG file."},
        {4, 0, 0, BT_ERR_DAMAGED, "Header filesize mismatch."},
        {8, 0x80, 0, BT_ERR_DAMAGED, "Does not contain any file."},
        {11, 4, 0, BT_ERR_DAMAGED, "Header file count mismatch."},
        {12, 0, 0, BT_ERR_DAMAGED, "Invalid start offset."},
        {12, 0, 1, BT_ERR_DAMAGED, "Header filesize mismatch."},
    };
    for (size_t i = 0; i < sizeof damaged / sizeof damaged[0]; ++i) {
        unsigned char copy[4096];
        memcpy(copy, bytes, size);
        size_t length = damaged[i].cut ? damaged[i].at : size;
        if (!damaged[i].cut) {
            copy[damaged[i].at] = damaged[i].value;
            if (damaged[i].at == 12) {
                memset(copy + 12, 0, 4);
                copy[15] = 15;
            }
        }
        snprintf(path, sizeof path, "%s/damaged%u.big", folder, (unsigned)i);
        write_file(path, copy, length);
        CHECK_STATUS(bt_open(&archive, path), damaged[i].status, damaged[i].message);
        struct memory memory = {copy, length, 0};
        CHECK_STATUS(bt_open_reader(&archive, read_memory, &memory, length), damaged[i].status,
                     damaged[i].message);
    }

    struct memory failing = {bytes, size, 1};
    CHECK_STATUS(bt_open_reader(&archive, read_memory, &failing, size), BT_ERR_READ, "Could not read file.");

    /* Data that lies past the archive's end reads as a failure. */
    unsigned char outside[4096];
    memcpy(outside, bytes, size);
    be32(outside + 16, (uint32_t)size - 4);
    struct memory memory = {outside, size, 0};
    CHECK(bt_open_reader(&archive, read_memory, &memory, size) == BT_OK);
    char buffer[16];
    size_t got = 0;
    CHECK_STATUS(bt_read(archive, 0, 0, buffer, sizeof buffer, &got), BT_ERR_READ,
                 "Could not read from BIG file.");
    CHECK(got == 4);
    bt_close(archive);

    CHECK_STATUS(bt_open(NULL, path), BT_ERR_ARGUMENT, "bt_open: the handle's place or the path is NULL.");
    CHECK_STATUS(bt_header(NULL, NULL, NULL, NULL), BT_ERR_ARGUMENT,
                 "bt_header: the archive handle is not an open one.");
    CHECK(bt_entry_count(NULL) == 0);
    CHECK(strcmp(bt_errmsg(NULL), "The archive handle is not an open one.") == 0);
    bt_close(NULL);
#ifdef _WIN32
    wchar_t wide[512];
    snprintf(path, sizeof path, "%s/mod.big", folder);
    CHECK(mbstowcs(wide, path, 512) < 512);
    CHECK(bt_open_wide(&archive, wide) == BT_OK && bt_entry_count(archive) == 3);
    bt_close(archive);
#else
    CHECK_STATUS(bt_open_wide(&archive, L"x.big"), BT_ERR_UNSUPPORTED,
                 "bt_open_wide: wide-character paths are Windows' alone.");
#endif
}

/* Two handles, two archives: neither sees the other. */
static void test_two_archives(const char* first, const char* second) {
    bt_archive* a = NULL;
    bt_archive* b = NULL;
    CHECK(bt_open(&a, first) == BT_OK && bt_open(&b, second) == BT_OK);
    if (a == NULL || b == NULL) {
        return;
    }
    uint32_t index = 0;
    CHECK(bt_lookup(b, "maps\\harbour.map", 16, &index) == BT_ERR_NOT_FOUND);
    CHECK(bt_lookup(a, "maps\\harbour.map", 16, &index) == BT_OK && index == 1);
    CHECK(strcmp(bt_errmsg(a), "") == 0 && strcmp(bt_errmsg(b), "No entry matches 'maps\\harbour.map'.") == 0);
    CHECK(bt_entry_count(a) == 3 && bt_entry_count(b) == 1);
    bt_close(a);
    char buffer[8];
    size_t got = 0;
    CHECK(bt_read(b, 0, 0, buffer, sizeof buffer, &got) == BT_OK && got == 5 && memcmp(buffer, "solo\n", 5) == 0);
    bt_close(b);
}

struct reader_job {
    bt_archive* archive;
    unsigned seed;
    int wrong;
};

static void* read_at_random(void* context) {
    struct reader_job* job = context;
    for (int i = 0; i < 2000; ++i) {
        job->seed = job->seed * 1103515245u + 12345u;
        uint32_t entry = (job->seed >> 8) % 3;
        uint32_t from = (job->seed >> 16) % 12;
        char buffer[40];
        size_t got = 0;
        size_t expected = strlen(MOD[entry].data) - from;
        if (bt_read(job->archive, entry, from, buffer, sizeof buffer, &got) != BT_OK || got != expected ||
            memcmp(buffer, MOD[entry].data + from, got) != 0) {
            ++job->wrong;
        }
    }
    return NULL;
}

static void test_threads(const char* path) {
    bt_archive* archive = NULL;
    CHECK(bt_open(&archive, path) == BT_OK);
    struct reader_job jobs[4];
    pthread_t threads[4];
    for (int t = 0; t < 4; ++t) {
        jobs[t].archive = archive;
        jobs[t].seed = (unsigned)t + 1;
        jobs[t].wrong = 0;
        CHECK(pthread_create(&threads[t], NULL, read_at_random, &jobs[t]) == 0);
    }
    for (int t = 0; t < 4; ++t) {
        pthread_join(threads[t], NULL);
        CHECK(jobs[t].wrong == 0);
    }
    bt_close(archive);
}

struct conflicts_seen {
    char text[256];
    int stop_after;
    int calls;
};

static int note_conflict(void* context, const char* name, size_t name_length, const uint32_t* positions,
                         const uint32_t* indices, size_t holders) {
    struct conflicts_seen* seen = context;
    size_t used = strlen(seen->text);
    used += (size_t)snprintf(seen->text + used, sizeof seen->text - used, "%.*s:", (int)name_length, name);
    for (size_t h = 0; h < holders && used < sizeof seen->text; ++h) {
        used += (size_t)snprintf(seen->text + used, sizeof seen->text - used, " %u/%u", (unsigned)positions[h],
                                 (unsigned)indices[h]);
    }
    if (used < sizeof seen->text) {
        snprintf(seen->text + used, sizeof seen->text - used, ";");
    }
    return ++seen->calls == seen->stop_after;
}

/* Three archives in a load order: one by path, one open handle, one read
 * from memory; which entry wins, in which order, and the conflicts. */
static void test_overlay(const char* mod, const char* solo) {
    static const struct entry PATCH[] = {
        {"DATA\\INI\\WEAPON.INI", "damage = 50\n"},
        {"maps/harbour.map", "HARBOUR MAP DATA, 32 BYTES LONG."},
        {"readme.txt", "solo\n"},
    };
    unsigned char bytes[4096];
    struct memory memory = {bytes, make_archive(bytes, PATCH, 3), 0};
    bt_archive* patch = NULL;
    bt_archive* alone = NULL;
    bt_overlay* overlay = NULL;
    CHECK(bt_open_reader(&patch, read_memory, &memory, memory.size) == BT_OK);
    CHECK(bt_open(&alone, solo) == BT_OK);
    CHECK(bt_overlay_new(&overlay) == BT_OK);
    if (patch == NULL || alone == NULL || overlay == NULL) {
        return;
    }
    CHECK_STATUS(bt_overlay_new(NULL), BT_ERR_ARGUMENT, "bt_overlay_new: the handle's place is NULL.");
    CHECK(bt_overlay_add_path(overlay, mod) == BT_OK);
    CHECK_STATUS(bt_overlay_add_path(overlay, "missing.big"), BT_ERR_OPEN, "Could not open file.");
    CHECK(strcmp(bt_overlay_errmsg(overlay), "Could not open file.") == 0);
    CHECK_STATUS(bt_overlay_add_path(overlay, NULL), BT_ERR_ARGUMENT, "bt_overlay_add_path: the path is NULL.");
    CHECK(bt_overlay_add(overlay, alone) == BT_OK && bt_overlay_add(overlay, patch) == BT_OK);
    CHECK(strcmp(bt_overlay_errmsg(overlay), "") == 0);
    CHECK_STATUS(bt_overlay_add(overlay, NULL), BT_ERR_ARGUMENT,
                 "bt_overlay_add: the archive handle is not an open one.");
    CHECK(bt_overlay_archive_count(overlay) == 3 && bt_overlay_name_count(overlay) == 3);
    const bt_archive* held = NULL;
    CHECK(bt_overlay_archive(overlay, 1, &held) == BT_OK && held == alone);
    CHECK_STATUS(bt_overlay_archive(overlay, 3, &held), BT_ERR_ARGUMENT,
                 "bt_overlay_archive: there is no archive 3; the overlay has 3.");

    uint32_t position = 9, index = 9;
    CHECK(bt_overlay_lookup(overlay, "data/ini/weapon.ini", 19, &position, &index) == BT_OK);
    CHECK(position == 2 && index == 0);
    CHECK(bt_overlay_lookup(overlay, "README.TXT", 10, &position, NULL) == BT_OK && position == 2);
    CHECK_STATUS(bt_overlay_lookup(overlay, "maps", 4, &position, &index), BT_ERR_NOT_FOUND,
                 "No entry matches 'maps'.");
    /* Merge order: the mod's names in its order, then the solo's. */
    CHECK(bt_overlay_winner(overlay, 1, &position, &index) == BT_OK && position == 2 && index == 1);
    CHECK(bt_overlay_winner(overlay, 2, &position, &index) == BT_OK && position == 2 && index == 2);
    CHECK_STATUS(bt_overlay_winner(overlay, 3, &position, &index), BT_ERR_ARGUMENT,
                 "bt_overlay_winner: there is no name 3; the overlay has 3.");

    struct conflicts_seen seen = {"", 0, 0};
    uint64_t same = 0;
    CHECK(bt_overlay_conflicts(overlay, note_conflict, &seen, &same) == BT_OK);
    CHECK(strcmp(seen.text, "DATA\\INI\\WEAPON.INI: 0/0 2/0;") == 0 && same == 2);
    CHECK_STATUS(bt_overlay_conflicts(overlay, NULL, NULL, NULL), BT_ERR_ARGUMENT,
                 "bt_overlay_conflicts: the function is NULL.");

    /* An entry whose data lies past its archive's end ends the walk. */
    unsigned char outside[4096];
    struct memory broken = {outside, make_archive(outside, PATCH, 3), 0};
    be32(outside + 16, (uint32_t)broken.size - 4);
    bt_archive* damaged = NULL;
    bt_overlay* two = NULL;
    CHECK(bt_open_reader(&damaged, read_memory, &broken, broken.size) == BT_OK);
    CHECK(bt_overlay_new(&two) == BT_OK && bt_overlay_add(two, damaged) == BT_OK && bt_overlay_add(two, patch) == BT_OK);
    CHECK_STATUS(bt_overlay_conflicts(two, note_conflict, &seen, NULL), BT_ERR_READ,
                 "Entry 0 'DATA\\INI\\WEAPON.INI' of archive 0: its data cannot be read.");
    /* At most 65535 archives. */
    for (int n = 2; n < 65535; ++n) {
        bt_overlay_add(two, patch);
    }
    CHECK(bt_overlay_archive_count(two) == 65535);
    CHECK_STATUS(bt_overlay_add(two, patch), BT_ERR_ARGUMENT, "bt_overlay_add: an overlay holds at most 65535 archives.");
    bt_overlay_free(two);
    bt_close(damaged);

    bt_overlay_free(overlay);
    CHECK_STATUS(bt_overlay_lookup(NULL, "a", 1, &position, &index), BT_ERR_ARGUMENT,
                 "bt_overlay_lookup: the overlay handle is not an open one.");
    CHECK(bt_overlay_name_count(NULL) == 0);
    CHECK(strcmp(bt_overlay_errmsg(NULL), "The overlay handle is not an open one.") == 0);
    bt_overlay_free(NULL);
    bt_close(alone);
    bt_close(patch);
}

/* The number of names in `folder` but "." and "..": what a build left. */
static int names_in(const char* folder) {
    DIR* dir = opendir(folder);
    int names = 0;
    for (struct dirent* item; dir != NULL && (item = readdir(dir)) != NULL;) {
        names += strcmp(item->d_name, ".") != 0 && strcmp(item->d_name, "..") != 0;
    }
    if (dir != NULL) {
        closedir(dir);
    }
    return names;
}

static int read_file(const char* path, unsigned char* bytes, size_t capacity, size_t* size) {
    FILE* file = fopen(path, "rb");
    if (file == NULL) {
        return 0;
    }
    *size = fread(bytes, 1, capacity, file);
    fclose(file);
    return 1;
}

static void test_writer(const char* mod, const char* folder) {
    char built[512], input[512], exists[600];
    snprintf(built, sizeof built, "%s/built.big", folder);
    snprintf(input, sizeof input, "%s/in.txt", folder);
    snprintf(exists, sizeof exists, "'%s' exists already. It is left as it is.", built);
    write_file(input, (const unsigned char*)"from a file\n", 12);
    const int before = names_in(folder);
    static const struct entry WANTED[] = {
        {"a\\bytes.bin", "raw"},
        {"b/file.txt", "from a file\n"},
        {"c.txt", "read back"},
        {"maps\\harbour.map", "HARBOUR MAP DATA, 32 BYTES LONG."},
        {"empty", ""},
    };
    unsigned char expected[4096], got[4096];
    size_t expected_size = make_archive(expected, WANTED, 5), got_size = 0;
    struct memory memory = {(const unsigned char*)"read back", 9, 0};
    bt_archive* from = NULL;
    bt_writer* writer = NULL;
    CHECK(bt_open(&from, mod) == BT_OK);
    CHECK(bt_writer_new(&writer, built) == BT_OK);
    CHECK(bt_writer_add_bytes(writer, "a\\bytes.bin", 11, "raw", 3) == BT_OK);
    CHECK(bt_writer_add_file(writer, "b/file.txt", 10, input) == BT_OK);
    CHECK(bt_writer_add_reader(writer, "c.txt", 5, read_memory, &memory, 9) == BT_OK);
    CHECK(bt_writer_add_entry(writer, from, 1) == BT_OK);
    CHECK(bt_writer_add_bytes(writer, "empty", 5, NULL, 0) == BT_OK);
    /* Refusals leave the plan as it was. */
    CHECK_STATUS(bt_writer_add_bytes(writer, "..\\up.txt", 9, "x", 1), BT_ERR_UNSAFE_NAME,
                 "'..\\up.txt' cannot be stored: its name would be unsafe to extract.");
    CHECK_STATUS(bt_writer_add_bytes(writer, "C.TXT", 5, "x", 1), BT_ERR_UNSAFE_NAME,
                 "'C.TXT' cannot be stored: 'c.txt' has the same name in the archive.");
    CHECK_STATUS(bt_writer_add_bytes(writer, "", 0, "x", 1), BT_ERR_ARGUMENT,
                 "'' cannot be stored: an entry's name is 1 or more bytes, none of them 0.");
    CHECK_STATUS(bt_writer_add_bytes(writer, "big", 3, "x", (uint64_t)1 << 32), BT_ERR_LIMIT,
                 "An entry of 4 GiB or more is too large for a BIG archive.");
    CHECK(strcmp(bt_writer_errmsg(writer), "An entry of 4 GiB or more is too large for a BIG archive.") == 0);
    CHECK(bt_writer_add_entry(writer, from, 3) == BT_ERR_ARGUMENT);
    CHECK(bt_writer_count(writer) == 5);
    CHECK(names_in(folder) == before);
    CHECK(bt_writer_commit(writer) == BT_OK);
    CHECK(read_file(built, got, sizeof got, &got_size) && got_size == expected_size &&
          memcmp(got, expected, got_size) == 0);
    CHECK(bt_writer_add_bytes(writer, "late", 4, "x", 1) == BT_ERR_ARGUMENT);
    bt_writer_free(writer);

    /* Never over a file, and nothing left by a failure or an abandoned build. */
    CHECK(bt_writer_new(&writer, built) == BT_OK && bt_writer_add_bytes(writer, "x", 1, "x", 1) == BT_OK);
    CHECK_STATUS(bt_writer_commit(writer), BT_ERR_EXISTS, exists);
    CHECK(read_file(built, got, sizeof got, &got_size) && got_size == expected_size);
    bt_writer_free(writer);
    CHECK(remove(built) == 0);
    CHECK(bt_writer_new(&writer, built) == BT_OK && bt_writer_add_file(writer, "f", 1, input) == BT_OK);
    write_file(input, (const unsigned char*)"longer than it was\n", 19);
    CHECK_STATUS(bt_writer_commit(writer), BT_ERR_READ, "The file grew while the archive was made.");
    memory.fail = 1;
    CHECK(bt_writer_add_reader(writer, "r", 1, read_memory, &memory, 9) == BT_OK);
    write_file(input, (const unsigned char*)"from a file\n", 12);
    CHECK_STATUS(bt_writer_commit(writer), BT_ERR_READ, "Could not read from BIG file.");
    CHECK(names_in(folder) == before);
    bt_writer_free(writer);
    CHECK(bt_writer_new(&writer, built) == BT_OK && bt_writer_add_bytes(writer, "x", 1, "x", 1) == BT_OK);
    bt_writer_free(writer);
    CHECK(bt_writer_new(&writer, built) == BT_OK);
    CHECK_STATUS(bt_writer_commit(writer), BT_ERR_ARGUMENT, "An archive with no entry cannot be read.");
    bt_writer_free(writer);
    CHECK(names_in(folder) == before);
    CHECK(bt_writer_new(NULL, built) == BT_ERR_ARGUMENT);
    CHECK_STATUS(bt_writer_commit(NULL), BT_ERR_ARGUMENT, "bt_writer_commit: the writer handle is not an open one.");
    bt_close(from);
}

static void test_edit(const char* mod, const char* folder) {
    char path[512], gone[512], held[700];
    unsigned char bytes[4096], got[4096];
    size_t size = 0, removed = 0, read = 0;
    static const struct entry BEFORE[] = {{"a.txt", "a"}, {"sub\\b.txt", "bb"}, {"c.txt", "c"}};
    static const struct entry AFTER[] = {{"a.txt", "a"}, {"sub\\b.txt", "NEW"}, {"d.txt", "d"}};
    snprintf(path, sizeof path, "%s/edit.big", folder);
    snprintf(gone, sizeof gone, "%s/gone.txt", folder);
    snprintf(held, sizeof held, "Could not open file: another program is changing '%s'.", path);
    write_file(path, bytes, make_archive(bytes, BEFORE, 3));
    const int before = names_in(folder);
    bt_archive* reader = NULL;
    bt_edit* edit = NULL;
    bt_edit* second = NULL;
    CHECK(bt_open(&reader, path) == BT_OK);
    CHECK(bt_edit_open(&edit, path) == BT_OK && bt_entry_count(bt_edit_archive(edit)) == 3);
    CHECK_STATUS(bt_edit_open(&second, path), BT_ERR_OPEN, held);
    CHECK(bt_edit_put_bytes(edit, "SUB/B.TXT", 9, "NEW", 3) == BT_OK);
    CHECK(bt_edit_put_bytes(edit, "d.txt", 5, "x", 1) == BT_OK && bt_edit_put_bytes(edit, "D.TXT", 5, "d", 1) == BT_OK);
    CHECK_STATUS(bt_edit_put_bytes(edit, "..\\x", 4, "x", 1), BT_ERR_UNSAFE_NAME,
                 "'..\\x' cannot be stored: its name would be unsafe to extract.");
    const char* wild[] = {"C*"};
    const char* none[] = {"none"};
    CHECK(bt_edit_remove(edit, wild, 1, &removed) == BT_OK && removed == 1);
    CHECK_STATUS(bt_edit_remove(edit, none, 1, &removed), BT_ERR_NOT_FOUND, "No entry matches 'none'.");
#ifdef _WIN32
    /* Windows replaces no file that a handle holds. */
    bt_close(reader);
    reader = NULL;
#endif
    CHECK(bt_edit_commit(edit) == BT_OK);
    CHECK(read_file(path, got, sizeof got, &size) && size == make_archive(bytes, AFTER, 3) &&
          memcmp(got, bytes, size) == 0);
    CHECK(names_in(folder) == before);
    /* A reader keeps the archive it opened. */
    CHECK(reader == NULL ||
          (bt_read(reader, 1, 0, got, sizeof got, &read) == BT_OK && read == 2 && memcmp(got, "bb", 2) == 0));
    CHECK_STATUS(bt_edit_commit(edit), BT_ERR_ARGUMENT, "bt_edit_commit: the edit was committed already.");
    bt_edit_free(edit);

    /* A commit that fails leaves the archive as it was, and nothing beside. */
    write_file(gone, (const unsigned char*)"x", 1);
    CHECK(bt_edit_open(&edit, path) == BT_OK && bt_edit_put_file(edit, "e.txt", 5, gone) == BT_OK);
    CHECK(remove(gone) == 0);
    CHECK(bt_edit_commit(edit) == BT_ERR_OPEN);
    bt_edit_free(edit);
    CHECK(read_file(path, got, sizeof got, &size) && size == make_archive(bytes, AFTER, 3) &&
          memcmp(got, bytes, size) == 0);
    CHECK(names_in(folder) == before);
    /* Two entries of one name: which to replace is not clear. */
    CHECK(bt_edit_open(&edit, mod) == BT_OK);
    CHECK(bt_edit_put_bytes(edit, "data/ini/weapon.ini", 19, "x", 1) == BT_ERR_UNSAFE_NAME);
    bt_edit_free(edit);
    CHECK(bt_edit_open(&edit, gone) == BT_ERR_OPEN && edit == NULL);
    CHECK(bt_edit_put_bytes(NULL, "a", 1, "a", 1) == BT_ERR_ARGUMENT);
    bt_edit_free(NULL);
#ifndef _WIN32
    /* A name that leaves no room for ".tmp-N": the new file's name gives way. */
    static const struct entry KEPT[] = {{"a.txt", "a"}, {"sub\\b.txt", "bb"}};
    char longest[600];
    int at = snprintf(longest, sizeof longest, "%s/", folder);
    memset(longest + at, 'n', 251);
    strcpy(longest + at + 251, ".big");
    write_file(longest, bytes, make_archive(bytes, BEFORE, 3));
    CHECK(bt_edit_open(&edit, longest) == BT_OK && bt_edit_remove(edit, wild, 1, &removed) == BT_OK);
    CHECK(bt_edit_commit(edit) == BT_OK);
    bt_edit_free(edit);
    CHECK(read_file(longest, got, sizeof got, &size) && size == make_archive(bytes, KEPT, 2) &&
          memcmp(got, bytes, size) == 0);
    CHECK(remove(longest) == 0 && names_in(folder) == before);
#endif
    bt_close(reader);
}

/* Kept entries that follow on are copied together, a run of 1 MiB or more
   by the system: what is removed or replaced between them stays out. */
static void test_kept_runs(const char* folder) {
    enum { PART = 400 * 1024, PARTS = 8, WHOLE = PARTS * (PART + 16) + 64 };
    static char data[PARTS][PART + 1];
    static char names[PARTS][4];
    static unsigned char expected[WHOLE], got[WHOLE];
    struct entry before[PARTS], after[PARTS - 1];
    for (int i = 0; i < PARTS; ++i) {
        memset(data[i], 'a' + i, PART);
        snprintf(names[i], sizeof names[i], "p%d", i);
        before[i].name = names[i];
        before[i].data = data[i];
    }
    char path[512];
    size_t size = 0, removed = 0;
    snprintf(path, sizeof path, "%s/runs.big", folder);
    write_file(path, expected, make_archive(expected, before, PARTS));
    /* p0 | p2 p3 | p4 replaced | p5 p6 p7, 1.2 MiB */
    for (int i = 0; i < PARTS - 1; ++i) {
        after[i] = before[i == 0 ? 0 : i + 1];
    }
    after[3].data = "new";
    const char* second[] = {"p1"};
    bt_edit* edit = NULL;
    CHECK(bt_edit_open(&edit, path) == BT_OK && bt_edit_remove(edit, second, 1, &removed) == BT_OK);
    CHECK(bt_edit_put_bytes(edit, "p4", 2, "new", 3) == BT_OK && bt_edit_commit(edit) == BT_OK);
    bt_edit_free(edit);
    CHECK(read_file(path, got, sizeof got, &size) && size == make_archive(expected, after, PARTS - 1) &&
          memcmp(got, expected, size) == 0);
    CHECK(remove(path) == 0);
}

/* Extraction: what bt_extract_entries writes and what it refuses. */
static const struct entry HOSTILE[] = {
    {"..\\x", "out"}, {"/tmp/abs", "abs"}, {"same.txt", "first"}, {"same.txt", "second"},
    {"sub\\f", "via"}, {"hostile.big", "over"},
};

static int file_holds(const char* path, const char* data) {
    char got[64] = "";
    FILE* file = fopen(path, "rb");
    size_t n = file != NULL ? fread(got, 1, sizeof got - 1, file) : 0;
    if (file != NULL) {
        fclose(file);
    }
    return file != NULL && n == strlen(data) && memcmp(got, data, n) == 0;
}

static void count_file(void* context, uint32_t index, const char* path) {
    (void)index;
    (void)path;
    ++*(int*)context;
}

struct extraction {
    const bt_archive* archive;
    char directory[520];
    int status;
};

static void* extract_all(void* context) {
    struct extraction* run = context;
    static const uint32_t BOTH[] = {0, 1};
    run->status = bt_extract_entries(run->archive, BOTH, 2, run->directory, NULL, NULL);
    return NULL;
}

static void test_extract(const char* folder, const char* mod) {
    char path[1100], out[512], big[512], message[1200];
    unsigned char bytes[4096];
    bt_archive* archive = NULL;
    snprintf(out, sizeof out, "%s/out", folder);
    snprintf(big, sizeof big, "%s/hostile.big", folder);
    write_file(big, bytes, make_archive(bytes, HOSTILE, 6));
    CHECK(bt_open(&archive, big) == BT_OK);

    CHECK_STATUS(bt_extract(archive, 0, out), BT_ERR_UNSAFE_NAME, "Refusing to extract '..\\x': unsafe file name.");
    CHECK_STATUS(bt_extract(archive, 1, out), BT_ERR_UNSAFE_NAME, "Refusing to extract '/tmp/abs': unsafe file name.");
    const uint32_t safe_then_unsafe[] = {2, 0};
    CHECK(bt_extract_entries(archive, safe_then_unsafe, 2, out, NULL, NULL) == BT_ERR_UNSAFE_NAME);
    snprintf(path, sizeof path, "%s/same.txt", out);
    CHECK(fopen(path, "rb") == NULL);  /* checked before anything is made */

    int seen = 0;
    const uint32_t twice[] = {2, 2, 3};
    CHECK_STATUS(bt_extract_entries(archive, twice, 3, out, count_file, &seen), BT_ERR_UNSAFE_NAME,
                 "Entry 3 'same.txt' names the file already extracted for entry 2 'same.txt'; it keeps entry 2's data.");
    CHECK(seen == 3 && file_holds(path, "first"));
    /* The same with eight threads: the first failure in order, the first file kept. */
    char threaded[600];
    snprintf(threaded, sizeof threaded, "%s/eight", out);
    seen = 0;
    CHECK_STATUS(bt_extract_threads(archive, twice, 3, threaded, count_file, &seen, 8), BT_ERR_UNSAFE_NAME,
                 "Entry 3 'same.txt' names the file already extracted for entry 2 'same.txt'; it keeps entry 2's data.");
    snprintf(path, sizeof path, "%s/same.txt", threaded);
    CHECK(seen == 3 && file_holds(path, "first"));
    CHECK_STATUS(bt_extract_threads(archive, twice, 1, threaded, NULL, NULL, 65), BT_ERR_ARGUMENT,
                 "bt_extract_threads: threads must be 0 to 64.");
    snprintf(path, sizeof path, "%s/same.txt", out);

    CHECK_STATUS(bt_extract(archive, 5, folder), BT_ERR_OPEN, "Failed to create.\nPlease, remove the file if it exists.");
    CHECK(bt_entry_count(archive) == 6);
    bt_archive* again = NULL;
    CHECK(bt_open(&again, big) == BT_OK);  /* never written over */
    bt_close(again);
#ifndef _WIN32
    snprintf(path, sizeof path, "%s/sub", out);
    CHECK(symlink(folder, path) == 0);
    snprintf(message, sizeof message, "Refusing to extract 'sub\\f': '%s' is a link.", path);
    CHECK_STATUS(bt_extract(archive, 4, out), BT_ERR_UNSAFE_NAME, message);
    snprintf(path, sizeof path, "%s/f", folder);
    CHECK(fopen(path, "rb") == NULL);
#else
    (void)message;
    fprintf(stderr, "skipped: links below the directory (symbolic links need privileges on Windows)\n");
#endif

    CHECK_STATUS(bt_extract(NULL, 0, out), BT_ERR_ARGUMENT, "bt_extract: the archive handle is not an open one.");
    CHECK_STATUS(bt_extract(archive, 6, out), BT_ERR_ARGUMENT, "bt_extract: there is no entry 6; the archive has 6.");
    CHECK_STATUS(bt_extract(archive, 2, NULL), BT_ERR_ARGUMENT, "bt_extract: no directory, or no indices.");
    CHECK_STATUS(bt_extract_entries(archive, NULL, 1, out, NULL, NULL), BT_ERR_ARGUMENT,
                 "bt_extract_entries: no directory, or no indices.");
    bt_close(archive);

    /* Two threads, one handle, two directories: each tree whole. */
    CHECK(bt_open(&archive, mod) == BT_OK);
    struct extraction runs[2];
    pthread_t threads[2];
    for (int t = 0; t < 2; ++t) {
        runs[t].archive = archive;
        snprintf(runs[t].directory, sizeof runs[t].directory, "%s/tree%d/a", folder, t);
        CHECK(pthread_create(&threads[t], NULL, extract_all, &runs[t]) == 0);
    }
    for (int t = 0; t < 2; ++t) {
        pthread_join(threads[t], NULL);
        snprintf(path, sizeof path, "%s/maps/harbour.map", runs[t].directory);
        CHECK(runs[t].status == BT_OK && file_holds(path, MOD[1].data));
        snprintf(path, sizeof path, "%s/data/ini/weapon.ini", runs[t].directory);
        CHECK(file_holds(path, MOD[0].data));
    }
    bt_close(archive);
}

/* A folder through the library's walk: the tree test_extract made, in
 * CREATE's order, a hidden file passed over. */
static void test_folder(const char* folder) {
    char tree[512], path[600], built[512], missing[600];
    unsigned char expected[4096], got[4096];
    size_t got_size = 0;
    snprintf(tree, sizeof tree, "%s/tree0/a", folder);
    snprintf(path, sizeof path, "%s/.hidden", tree);
    write_file(path, (const unsigned char*)"x", 1);
    snprintf(built, sizeof built, "%s/folder.big", folder);
    static const struct entry WALKED[] = {
        {"data\\ini\\weapon.ini", "damage = 40\n"},
        {"maps\\harbour.map", "HARBOUR MAP DATA, 32 BYTES LONG."},
    };
    const size_t expected_size = make_archive(expected, WALKED, 2);
    bt_writer* writer = NULL;
    CHECK(bt_writer_new(&writer, built) == BT_OK);
    CHECK(bt_writer_add_folder(writer, tree) == BT_OK && bt_writer_count(writer) == 2);
    snprintf(missing, sizeof missing, "Could not list directory '%s/none'.", folder);
    snprintf(path, sizeof path, "%s/none", folder);
    CHECK_STATUS(bt_writer_add_folder(writer, path), BT_ERR_OPEN, missing);
    CHECK_STATUS(bt_writer_add_folder(writer, tree), BT_ERR_UNSAFE_NAME,
                 "'data\\ini\\weapon.ini' cannot be stored: 'data\\ini\\weapon.ini' has the same name in the archive.");
    CHECK(bt_writer_count(writer) == 2);
    CHECK(bt_writer_commit(writer) == BT_OK);
    CHECK(read_file(built, got, sizeof got, &got_size) && got_size == expected_size &&
          memcmp(got, expected, got_size) == 0);
    bt_writer_free(writer);
}

/* Findings as "kind error entry other: message;", the other -1 for none. */
struct findings_seen {
    char text[1024];
    int stop_after; /* 0: never */
    int given;
};

static int note_finding(void* context, const bt_finding* finding) {
    struct findings_seen* seen = context;
    size_t used = strlen(seen->text);
    snprintf(seen->text + used, sizeof seen->text - used, "%d %d %d %d: %s;", bt_finding_kind(finding),
             bt_finding_is_error(finding), (int)bt_finding_entry(finding), (int)bt_finding_other(finding),
             bt_finding_message(finding));
    return ++seen->given == seen->stop_after;
}

static void test_check(const char* solo) {
    bt_archive* clean = NULL;
    struct findings_seen seen = {"", 0, 0};
    uint64_t errors = 9;
    CHECK(bt_open(&clean, solo) == BT_OK);
    CHECK(bt_check(clean, note_finding, &seen, &errors) == BT_OK && errors == 0 && seen.given == 0);
    bt_close(clean);

    /* Entry 3's data is entry 1's; entry 2 has entry 0's name; entry 1
     * needs a folder where entry 0 is a file. */
    static const struct entry BROKEN[] = {{"a", "1"}, {"a\\b.txt", "22"}, {"a", "333"}, {"c.txt", "22"}};
    unsigned char bytes[4096];
    struct memory memory = {bytes, make_archive(bytes, BROKEN, 4), 0};
    memcpy(bytes + 16 + 10 + 16 + 10, bytes + 16 + 10, 4);
    bt_archive* broken = NULL;
    CHECK(bt_open_reader(&broken, read_memory, &memory, memory.size) == BT_OK);
    if (broken == NULL) {
        return;
    }
    CHECK(bt_check(broken, note_finding, &seen, &errors) == BT_OK && errors == 2);
    CHECK(strcmp(seen.text, "10 0 3 1: its data overlaps that of entry 1.;"
                            "11 1 2 0: entry 0 has the same name; extracting both would lose one.;"
                            "13 1 1 0: it needs a folder where entry 0 'a' is a file; extraction cannot write both.;") == 0);
    /* Stopped by the function at the first finding, a warning. */
    struct findings_seen first = {"", 1, 0};
    CHECK(bt_check(broken, note_finding, &first, &errors) == BT_OK && first.given == 1 && errors == 0);
    CHECK(bt_check(broken, NULL, NULL, &errors) == BT_OK && errors == 2);
    memory.fail = 1;
    CHECK(bt_check(broken, NULL, NULL, &errors) == BT_ERR_READ && strcmp(bt_errmsg(broken), "Could not read file.") == 0);
    bt_close(broken);
    CHECK_STATUS(bt_check(NULL, NULL, NULL, NULL), BT_ERR_ARGUMENT, "bt_check: the archive handle is not an open one.");
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: api_test <empty folder>\n");
        return 2;
    }
    CHECK(bt_version_number() == BT_VERSION_NUMBER);
    CHECK(strcmp(bt_version(), BT_VERSION_STRING) == 0);
    CHECK(strcmp(bt_status_name(BT_ERR_DAMAGED), "BT_ERR_DAMAGED") == 0);
    CHECK(strcmp(bt_status_name(BT_OK), "BT_OK") == 0 && bt_status_name(7) == NULL);

    char mod[512], solo[512];
    unsigned char bytes[4096];
    snprintf(mod, sizeof mod, "%s/mod.big", argv[1]);
    write_file(mod, bytes, make_archive(bytes, MOD, 3));
    static const struct entry SOLO[] = {{"readme.txt", "solo\n"}};
    snprintf(solo, sizeof solo, "%s/solo.big", argv[1]);
    write_file(solo, bytes, make_archive(bytes, SOLO, 1));

    test_reading(mod);
    test_refusals(argv[1]);
    test_two_archives(mod, solo);
    test_threads(mod);
    test_overlay(mod, solo);
    test_writer(mod, argv[1]);
    test_edit(mod, argv[1]);
    test_kept_runs(argv[1]);
    test_extract(argv[1], mod);
    test_folder(argv[1]);
    test_check(solo);
    printf("%s: %d failed\n", failures == 0 ? "passed" : "FAILED", failures);
    return failures == 0 ? 0 : 1;
}
