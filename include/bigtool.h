/* bigtool: reading BIG archives, the single-file containers of the game
 * Tarvenor, from any program.
 *
 * Usable from C99 and C++ and from any language's C interface: opaque
 * handles, plain integers and pointers, every name prefixed bt_ or BT_.
 *
 * Errors: every call returns a bt_status, BT_OK (0) on success and a
 * negative value on failure. The message of a handle's last failure is
 * bt_errmsg(handle); every failing call also leaves its message in a slot
 * of the calling thread, bt_last_errmsg(), which is where a failed open,
 * which gives no handle, leaves it. Messages are worded as the bigtool
 * command line words them ("Header filesize mismatch."), without its
 * "Error: " prefix. Nothing in the library prints, ends the process, or
 * reads the environment.
 *
 * Threads: a bt_archive may be shared by any number of threads for every
 * call that takes it as const (reads are positioned: no shared file
 * cursor); bt_close must not race with them. bt_errmsg(handle) is only
 * meaningful while one thread uses the handle; with several, each reads its
 * own bt_last_errmsg(). Distinct handles are independent, whatever file
 * they read.
 *
 * Memory: an open archive holds its index (the names and 9 bytes per
 * entry) and a table of 12 bytes per entry, and 8 more once a name is
 * looked up, whatever the header claims; while it opens, up to 1 MiB (or
 * half the index) more.
 */
#ifndef BIGTOOL_H
#define BIGTOOL_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32) && defined(BT_SHARED_BUILD)
#define BT_API __declspec(dllexport)
#elif defined(_WIN32) && !defined(BT_STATIC)
#define BT_API __declspec(dllimport)
#elif defined(BT_SHARED_BUILD)
#define BT_API __attribute__((visibility("default")))
#else
#define BT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The version of this header; bt_version_number() gives the library's. A
 * minor version adds calls and statuses; only a major version, which is the
 * shared library's ABI version (libbigtool.so.1, bigtool-1.dll), changes or
 * removes them. */
#define BT_VERSION_MAJOR 1
#define BT_VERSION_MINOR 1
#define BT_VERSION_PATCH 0
#define BT_VERSION_STRING "1.1.0"
#define BT_VERSION_NUMBER (BT_VERSION_MAJOR * 10000 + BT_VERSION_MINOR * 100 + BT_VERSION_PATCH)

typedef enum bt_status {
    BT_OK = 0,
    /* The call was wrong: a null handle or pointer, an index past the
     * entries, a pattern list of no patterns. */
    BT_ERR_ARGUMENT = -1,
    BT_ERR_NO_MEMORY = -2,
    /* The file could not be opened: missing, not a regular file, or
     * refused by the system. */
    BT_ERR_OPEN = -3,
    /* The file could not be read, or ended before what the archive claims. */
    BT_ERR_READ = -4,
    /* It is not a BIG archive: its first bytes are not the magic. */
    BT_ERR_NOT_ARCHIVE = -5,
    /* A BIG archive whose header or index cannot be right: its size, its
     * entry count, its start offset, or an index that ends early. */
    BT_ERR_DAMAGED = -6,
    /* No entry has that name, or a pattern selected nothing. */
    BT_ERR_NOT_FOUND = -7,
    /* The caller's buffer cannot hold the result; the call says how much
     * it needs. */
    BT_ERR_BUFFER_TOO_SMALL = -8,
    /* The call is not available on this system (a wide-character path
     * outside Windows). */
    BT_ERR_UNSUPPORTED = -9
} bt_status;

/* The statuses' names ("BT_ERR_DAMAGED"), for messages and bindings; NULL
 * for a value that is none of them. */
BT_API const char* bt_status_name(int status);

BT_API const char* bt_version(void);
BT_API int bt_version_number(void);

/* An open archive, validated. */
typedef struct bt_archive bt_archive;

/* Opens and validates the archive at `path`, a path in the system's own
 * narrow encoding (Windows: the ANSI code page), and reads its index.
 * On success *out is a handle for bt_close; on failure *out is NULL and
 * bt_last_errmsg() says why. An archive whose index holds fewer entries
 * than its header counts is damaged. */
BT_API int bt_open(bt_archive** out, const char* path);

/* The same from a UTF-16 path (Windows only; BT_ERR_UNSUPPORTED elsewhere). */
BT_API int bt_open_wide(bt_archive** out, const wchar_t* path);

/* Reads up to `count` bytes at `offset` of the caller's archive into
 * `buffer`, setting *got: fewer only at its end. 0 on success, anything else
 * on failure. Called from whichever threads read the handle, at once. */
typedef int (*bt_read_fn)(void* context, uint64_t offset, void* buffer, size_t count, size_t* got);

/* Opens an archive of `size` bytes that the caller reads through `read`;
 * `context` is handed to it and must outlive the handle. */
BT_API int bt_open_reader(bt_archive** out, bt_read_fn read, void* context, uint64_t size);

/* Releases the handle; NULL is allowed. */
BT_API void bt_close(bt_archive* archive);

/* The message of the handle's last failure, "" when none; valid until the
 * handle's next call. */
BT_API const char* bt_errmsg(const bt_archive* archive);

/* The message of this thread's last failure, "" when none; valid until the
 * thread's next failing call. */
BT_API const char* bt_last_errmsg(void);

/* The header's fields: the archive's size, its entry count and the offset
 * of its data. Any out-pointer may be NULL. */
BT_API int bt_header(const bt_archive* archive, uint32_t* archive_size, uint32_t* entry_count,
                     uint32_t* start_offset);

/* The number of entries: the header's count, which the index holds. */
BT_API uint32_t bt_entry_count(const bt_archive* archive);

/* Entry `index` (from 0, in the index's order): its name as stored (its
 * bytes, followed by the zero byte that ends it in the archive; valid while
 * the handle is open), the name's length, the size of its
 * data and where the data starts in the archive. Any out-pointer may be
 * NULL. Constant time. */
BT_API int bt_entry(const bt_archive* archive, uint32_t index, const char** name,
                    size_t* name_length, uint32_t* size, uint32_t* offset);

/* The entry named `name` (`length` bytes) by the game's rule: '\' and '/'
 * are one separator and the letters A to Z match in either case. Where
 * several entries have that name, the first in index order. BT_ERR_NOT_FOUND
 * when none has. Constant time on average. */
BT_API int bt_lookup(const bt_archive* archive, const char* name, size_t length, uint32_t* index);

/* The entries that `count` patterns select, in index order, each once:
 * '\' and '/' are one separator, A to Z match in either case, '*' matches
 * any run of bytes and '?' any one byte; nothing else is special. With
 * `indices` NULL it only counts. *found is the number selected; when it
 * exceeds `capacity` the call is BT_ERR_BUFFER_TOO_SMALL and the first
 * `capacity` are given. Every pattern must select an entry: the first that
 * selects none makes the call BT_ERR_NOT_FOUND ("No entry matches 'x'."). */
BT_API int bt_select(const bt_archive* archive, const char* const* patterns, size_t count,
                     uint32_t* indices, size_t capacity, size_t* found);

/* Reads up to `count` bytes of entry `index`'s data from byte `offset` of
 * the entry on into `buffer`, setting *got: fewer only at the entry's end
 * (0 from there on). Safe from many threads at once on one handle. */
BT_API int bt_read(const bt_archive* archive, uint32_t index, uint64_t offset, void* buffer,
                   size_t count, size_t* got);

#ifdef __cplusplus
}
#endif

#endif
