/* A small program on the bigtool library: opens an archive, looks a name
 * up by the game's rule, prints part of that entry's data, and builds a
 * new archive, `<archive>.excerpt.big`, of that entry and the part read.
 *
 *   read_entry mod.big 'data\ini\weapon.ini' [offset [count]]
 *
 * Build it with pkg-config or CMake (see the README). */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <bigtool.h>

int main(int argc, char** argv) {
    if (argc < 3 || argc > 5) {
        fprintf(stderr, "usage: %s <archive> <entry name> [offset [count]]\n", argv[0]);
        return 1;
    }
    unsigned long long offset = argc > 3 ? strtoull(argv[3], NULL, 10) : 0;
    size_t count = argc > 4 ? (size_t)strtoull(argv[4], NULL, 10) : 64;

    bt_archive* archive = NULL;
    if (bt_open(&archive, argv[1]) != BT_OK) {
        fprintf(stderr, "Error: %s\n", bt_last_errmsg());
        return 2;
    }
    uint32_t entries = 0;
    bt_header(archive, NULL, &entries, NULL);
    printf("%s: %lu entries (bigtool %s)\n", argv[1], (unsigned long)entries, bt_version());

    uint32_t index = 0;
    const char* name = NULL;
    uint32_t size = 0;
    if (bt_lookup(archive, argv[2], strlen(argv[2]), &index) != BT_OK ||
        bt_entry(archive, index, &name, NULL, &size, NULL) != BT_OK) {
        fprintf(stderr, "Error: %s\n", bt_errmsg(archive));
        bt_close(archive);
        return 2;
    }
    printf("entry %lu '%s': %lu bytes\n", (unsigned long)index, name, (unsigned long)size);

    char* buffer = malloc(count > 0 ? count : 1);
    size_t got = 0;
    int status = buffer == NULL ? BT_ERR_NO_MEMORY : bt_read(archive, index, offset, buffer, count, &got);
    if (status != BT_OK) {
        fprintf(stderr, "Error: %s\n", buffer == NULL ? "Out of memory." : bt_errmsg(archive));
    } else {
        printf("bytes %llu to %llu:\n", offset, offset + got);
        fwrite(buffer, 1, got, stdout);
        printf("\n");
    }

    /* Nothing is at the new path until the commit has written it whole. */
    bt_writer* writer = NULL;
    char excerpt[4096];
    snprintf(excerpt, sizeof excerpt, "%s.excerpt.big", argv[1]);
    if (status == BT_OK && (status = bt_writer_new(&writer, excerpt)) == BT_OK &&
        (status = bt_writer_add_entry(writer, archive, index)) == BT_OK &&
        (status = bt_writer_add_bytes(writer, "excerpt.bin", 11, buffer, got)) == BT_OK &&
        (status = bt_writer_commit(writer)) == BT_OK) {
        printf("built '%s': %lu entries\n", excerpt, (unsigned long)bt_writer_count(writer));
    } else if (writer != NULL) {
        fprintf(stderr, "Error: %s\n", bt_writer_errmsg(writer));
    }
    bt_writer_free(writer);
    free(buffer);
    bt_close(archive);
    return status == BT_OK ? 0 : 2;
}
