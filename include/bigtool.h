/* bigtool: reading, extracting, writing and changing BIG archives, the
 * single-file containers of the game Tarvenor, from any program.
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
 * "Error: " prefix. Nothing in the library prints, ends the process,
 * changes the current directory, or reads the environment.
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
#define BT_VERSION_MINOR 3
#define BT_VERSION_PATCH 0
#define BT_VERSION_STRING "1.3.0"
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
    BT_ERR_UNSUPPORTED = -9,
    /* A name that would be unsafe to extract or would come back as another
     * (a ".." part, an absolute or drive name, a device name; see the
     * README), a path too long to extract, a link below the directory, an
     * entry that names the file another entry of the run was written to;
     * or a name the archive being built holds already, by the game's
     * rule. */
    BT_ERR_UNSAFE_NAME = -10,
    /* A file could not be made or written: an extracted file, or a new
     * archive. */
    BT_ERR_WRITE = -11,
    /* A limit of the format: an archive or an entry that would reach 4 GiB. */
    BT_ERR_LIMIT = -12,
    /* A file has the name of the archive to be made: it is left as it is. */
    BT_ERR_EXISTS = -13
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

/* Entries `first` onwards, as many as fit, in one call, for a caller to
 * whom one call per entry costs more than the work (a script's language):
 * up to `count` names copied one after another into `names`, each followed
 * by a zero byte (no name holds one), and the entries' sizes and data
 * offsets into `sizes[i]` and `offsets[i]` (either may be NULL). *filled
 * is the number of entries given, fewer than `count` only where the next
 * name does not fit in `names_size`, and *names_used the bytes written.
 * BT_ERR_BUFFER_TOO_SMALL when not even the first name fits; first +
 * count past the entries is BT_ERR_ARGUMENT. */
BT_API int bt_entries(const bt_archive* archive, uint32_t first, uint32_t count, char* names,
                      size_t names_size, size_t* names_used, uint32_t* sizes, uint32_t* offsets,
                      uint32_t* filled);

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

/* Checking: what the command line's CHECK finds in an archive, as data.
 * Each finding has a kind, is an error (a problem: CHECK's status 2) or a
 * warning, concerns an entry and perhaps another, and has CHECK's message:
 * the text CHECK prints after "Error: Entry 4 'a\b.txt': " ("it needs a
 * folder where entry 3 'a' is a file; extraction cannot write both."), or
 * for a finding about the whole archive the line's text after "Error: " or
 * "Warning: ". Names in messages are as stored (cut after 259 bytes), not
 * made printable. Names are judged by this system's rules and code page,
 * as CHECK here judges them. */
typedef enum bt_check_kind {
    BT_CHECK_EMPTY_NAME = 1,        /* error */
    BT_CHECK_UNSAFE_NAME = 2,       /* error: extraction here would refuse it */
    BT_CHECK_NAME_TOO_LONG = 3,     /* error: 260 bytes or longer */
    BT_CHECK_REFUSED_ELSEWHERE = 4, /* warning: the other system (Windows, Linux) would refuse it */
    BT_CHECK_DATA_PAST_END = 5,     /* error: the data runs past the file's end, or wraps past 4 GiB */
    BT_CHECK_DATA_OVER_INDEX = 6,   /* error: the data starts inside the header or the index */
    /* error, about the archive: the index holds fewer entries than the
     * header counts. bt_open refuses such an archive (BT_ERR_DAMAGED), so
     * only the command line's CHECK meets it. */
    BT_CHECK_INDEX_SHORT = 7,
    BT_CHECK_END_RECORD = 8,        /* warning, about the archive: not the one CREATE writes */
    BT_CHECK_DATA_UNREADABLE = 9,   /* error: the data cannot be read */
    BT_CHECK_DATA_OVERLAP = 10,     /* warning: the data overlaps that of the other entry */
    BT_CHECK_SAME_NAME = 11,        /* error: the other, earlier entry extracts to the same file */
    BT_CHECK_SAME_BUT_CASE = 12,    /* warning: the other, earlier entry's name but for letter case */
    BT_CHECK_FOLDER_IS_FILE = 13,   /* error: it needs a folder where the other entry is a file */
    BT_CHECK_FOLDER_IS_FILE_BUT_CASE = 14, /* warning: the same, the names differing in letter case alone */
    /* warning: another name than the other, earlier entry's, which the
     * game, folding letters byte by byte in a double-byte code page, reads
     * as that one (Windows in such a code page only) */
    BT_CHECK_GAME_READS_AS_ONE = 15
} bt_check_kind;

/* The entry of a finding about the whole archive, and the other entry of a
 * finding that concerns one entry only. */
#define BT_NO_ENTRY 0xFFFFFFFFu

/* A finding, valid during the call that is given it. */
typedef struct bt_finding bt_finding;

BT_API int bt_finding_kind(const bt_finding* finding);     /* a bt_check_kind */
BT_API int bt_finding_is_error(const bt_finding* finding); /* 1 for an error, 0 for a warning */
BT_API uint32_t bt_finding_entry(const bt_finding* finding);
BT_API uint32_t bt_finding_other(const bt_finding* finding);
BT_API const char* bt_finding_message(const bt_finding* finding);

/* Told each finding; a nonzero return stops the check, which then returns
 * BT_OK as a completed one does. */
typedef int (*bt_check_fn)(void* context, const bt_finding* finding);

/* Checks the archive as CHECK does, reading every entry's data once, and
 * gives `found` (which may be NULL) each finding in CHECK's order. BT_OK
 * when the check completed or `found` stopped it, findings or not;
 * *errors (which may be NULL) is then the number of errors given, so 0
 * means CHECK would pass. BT_ERR_READ when the index or a name cannot be
 * read (data that cannot be read is a finding), BT_ERR_NO_MEMORY. Threads
 * as for bt_read. Memory: a 5 MiB buffer and 24 bytes per entry. */
BT_API int bt_check(const bt_archive* archive, bt_check_fn found, void* context, uint64_t* errors);

/* Archives read together in a load order, lowest precedence first: an
 * entry in a later archive hides one of the same name (by bt_lookup's rule)
 * in an earlier one, and within one archive the first entry of a name in
 * index order counts, as for bt_lookup.
 *
 * Threads: adding changes the overlay, and nothing else may use it
 * meanwhile; afterwards every call that takes it as const may run from any
 * number of threads at once, reading the archives' data at positions.
 * Memory: besides the archives' own, 12 bytes per distinct name, 16 to 32
 * for its slot in a table kept at most half full, and 12 for each holder of
 * a name between its first and its winner; the conflicts' walk takes 128 KiB
 * of buffers more. */
typedef struct bt_overlay bt_overlay;

/* An empty overlay, for bt_overlay_free. */
BT_API int bt_overlay_new(bt_overlay** out);

/* Releases the overlay and the archives it opened; NULL is allowed. */
BT_API void bt_overlay_free(bt_overlay* overlay);

/* The message of the overlay's last failure, "" when none. */
BT_API const char* bt_overlay_errmsg(const bt_overlay* overlay);

/* Adds `archive` last in the load order: one pass over its index. The
 * archive stays the caller's and must stay open while the overlay is
 * used. At most 65535 archives (BT_ERR_ARGUMENT past them); after
 * BT_ERR_NO_MEMORY the overlay can only be freed. */
BT_API int bt_overlay_add(bt_overlay* overlay, const bt_archive* archive);

/* Opens the archive at `path` as bt_open does and adds it; the overlay
 * owns it. A failed open leaves the overlay as it was, with bt_open's
 * status and message. */
BT_API int bt_overlay_add_path(bt_overlay* overlay, const char* path);

/* The number of archives added, and the archive at `position` (from 0, in
 * load order), valid while the overlay is. */
BT_API uint32_t bt_overlay_archive_count(const bt_overlay* overlay);
BT_API int bt_overlay_archive(const bt_overlay* overlay, uint32_t position, const bt_archive** archive);

/* The number of distinct names, which is the number of winners. */
BT_API uint32_t bt_overlay_name_count(const bt_overlay* overlay);

/* The entry that wins for `name` (`length` bytes): the position of its
 * archive in the load order and its index there. BT_ERR_NOT_FOUND when no
 * archive holds it. Constant time on average. Either out-pointer may be
 * NULL. */
BT_API int bt_overlay_lookup(const bt_overlay* overlay, const char* name, size_t length, uint32_t* position,
                             uint32_t* index);

/* Winner k, for k from 0 to bt_overlay_name_count() - 1: the winners in
 * the order their names first appear in the load order (the first
 * archive's names in its index order, then the next archive's new ones,
 * and so on), which is the order of an archive merged from them. Constant
 * time. */
BT_API int bt_overlay_winner(const bt_overlay* overlay, uint32_t k, uint32_t* position, uint32_t* index);

/* One conflict: a name that several archives hold with different data.
 * `name` is the winner's stored name; `positions` and `indices` give its
 * `holders` entries (each archive's first of that name), in load order,
 * the winner last. Valid during the call only. A nonzero return stops the
 * walk. */
typedef int (*bt_conflict_fn)(void* context, const char* name, size_t name_length, const uint32_t* positions,
                              const uint32_t* indices, size_t holders);

/* Calls `found` for each conflict, in the winners' order. Names held by
 * several archives with the same bytes each time are no conflict;
 * *same_bytes (which may be NULL) counts them, up to where the walk ended.
 * Data is read only where names and sizes are the same; an entry whose
 * data cannot be read ends the walk with BT_ERR_READ. */
BT_API int bt_overlay_conflicts(const bt_overlay* overlay, bt_conflict_fn found, void* context,
                                uint64_t* same_bytes);

/* Extraction: entries copied to files below a directory, each to its
 * stored name ('\' separating folders), with the command line's EXTRACT
 * guarantees: a name with a ".." part, an absolute or drive name, a device
 * name and the like is refused (BT_ERR_UNSAFE_NAME, "Refusing to extract
 * 'x': unsafe file name."); nothing is written through a link below the
 * directory (the directory itself may be one); the archive being read is
 * never written over (BT_ERR_OPEN, "Failed to create."); and within one
 * call no two entries go into one file, as two names that the file system
 * takes for one would (letter case), which stops the call with
 * BT_ERR_UNSAFE_NAME. An existing plain file is replaced. Every entry's
 * name is checked before anything is made, so a refused name leaves the
 * directory as it was; a failure later stops the call at that entry, the
 * files before it written. `directory` is made when missing, with its
 * parents; a relative one is taken from the current directory. Messages
 * are EXTRACT's, without "Error: ".
 *
 * Threads: any number of threads may extract from one handle at once,
 * into different directories; a call keeps its state to itself.
 * Memory: a 5 MiB copy buffer per call, and 21 to 43 bytes per file
 * written. */

/* Told before each entry's file is made and written: its index and the
 * path of its file (valid during the call only). */
typedef void (*bt_extract_fn)(void* context, uint32_t index, const char* path);

/* Copies entry `index` to its name below `directory`. */
BT_API int bt_extract(const bt_archive* archive, uint32_t index, const char* directory);

/* Copies `count` entries, in the order given, in one run: the rule of one
 * file per entry holds among them (the same index twice writes it again).
 * `observer` may be NULL. */
BT_API int bt_extract_entries(const bt_archive* archive, const uint32_t* indices, size_t count,
                              const char* directory, bt_extract_fn observer, void* context);

/* bt_extract_entries with the files made and written by `threads` threads
 * (1 to 64; 0: the processors the system gives the process, at most 8)
 * while the calling thread checks names, makes folders and calls
 * `observer`, in order; bt_extract_entries is this with one thread. The
 * status and message are the first failure's in the order given; files of
 * at most 63 entries after it may be written too, each whole, and their
 * folders made. The threads end before the call returns; their buffers
 * add at most 16 MiB. */
BT_API int bt_extract_threads(const bt_archive* archive, const uint32_t* indices, size_t count,
                              const char* directory, bt_extract_fn observer, void* context, unsigned threads);

/* A new archive, planned entry by entry, then written whole by
 * bt_writer_commit: the entries in the order they were added, to a new
 * file beside `path` that is synced and only then given the name, never
 * over a file that has it. Nothing is written before the commit; a writer
 * freed without one, or whose commit failed, leaves nothing behind. One
 * thread at a time per writer; any number of writers at once. */
typedef struct bt_writer bt_writer;

/* A writer for the archive to be made at `path` (in the system's own code
 * page, as bt_open takes it). */
BT_API int bt_writer_new(bt_writer** out, const char* path);

/* Releases the writer; an archive not committed is not made. NULL is
 * allowed. */
BT_API void bt_writer_free(bt_writer* writer);

/* The message of the writer's last failure, "" when none. */
BT_API const char* bt_writer_errmsg(const bt_writer* writer);

/* The number of entries added. */
BT_API uint32_t bt_writer_count(const bt_writer* writer);

/* Each adds one entry named `name` (`name_length` bytes, stored as given):
 * BT_ERR_UNSAFE_NAME for a name that extraction would refuse (as CREATE
 * refuses it) or one added before by the game's rule, BT_ERR_LIMIT when
 * the archive would reach 4 GiB, BT_ERR_ARGUMENT for an empty name or one
 * holding a 0 byte. The entry is not added when the call fails; the
 * writer stays usable. */

/* `size` bytes of `data`, copied. */
BT_API int bt_writer_add_bytes(bt_writer* writer, const char* name, size_t name_length, const void* data,
                               uint64_t size);

/* The file at `path`: its size is taken now, its bytes when committed,
 * which fails if the file then has another size (BT_ERR_READ). */
BT_API int bt_writer_add_file(bt_writer* writer, const char* name, size_t name_length, const char* path);

/* `size` bytes that `read` gives from offset 0, called when committed;
 * `context` must stay valid until then. Fewer bytes than `size`, or a
 * nonzero return, fail the commit with BT_ERR_READ. */
BT_API int bt_writer_add_reader(bt_writer* writer, const char* name, size_t name_length, bt_read_fn read,
                                void* context, uint64_t size);

/* Entry `index` of `from`, its name as stored and its bytes, read when
 * committed: `from` must stay open until then. */
BT_API int bt_writer_add_entry(bt_writer* writer, const bt_archive* from, uint32_t index);

/* Every file below the folder `path`, walked as CREATE walks it: names
 * beginning with '.' passed over, each folder's items in CREATE's order,
 * links followed (a link back to a folder above walked once), each file
 * named by its path below the folder with '\' between the parts and
 * added as bt_writer_add_file adds it. BT_ERR_OPEN for a folder that
 * cannot be listed, BT_ERR_UNSAFE_NAME for a name the code page cannot
 * hold, BT_ERR_LIMIT for a path past 259 bytes, or an add's own status.
 * The files added before a failure stay added (bt_writer_count says how
 * many). */
BT_API int bt_writer_add_folder(bt_writer* writer, const char* path);

/* Writes the archive and gives it its name; BT_ERR_EXISTS when a file has
 * it. After a failure nothing is left beside the name, and the writer may
 * commit again; after success it takes no more entries. */
BT_API int bt_writer_commit(bt_writer* writer);

/* Changes to an existing archive: entries replaced, added and removed,
 * then the whole written beside the archive and put in its place in one
 * step by bt_edit_commit, as UPDATE and DELETE do: whatever happens, the
 * archive's name holds the old archive or the complete new one. From
 * bt_edit_open to the commit or bt_edit_free, the edit holds the lock
 * that UPDATE and DELETE take, so that no two changes meet; readers
 * (bt_open, LIST, ...) may read the archive meanwhile and keep what they
 * opened. A link at the path is followed: the file it leads to is
 * replaced. One thread at a time per edit. */
typedef struct bt_edit bt_edit;

/* Opens and validates the archive at `path` to change it: BT_ERR_OPEN when
 * it cannot be opened, is read-only, or another change holds it. */
BT_API int bt_edit_open(bt_edit** out, const char* path);

/* Releases the edit and its lock; changes not committed are dropped. NULL
 * is allowed. */
BT_API void bt_edit_free(bt_edit* edit);

/* The message of the edit's last failure, "" when none. */
BT_API const char* bt_edit_errmsg(const bt_edit* edit);

/* The archive as it was opened, to read from while the edit lives. */
BT_API const bt_archive* bt_edit_archive(const bt_edit* edit);

/* The entry of that name by the game's rule takes these bytes (copied) or
 * this file's (read at the commit), under its stored name, where it is; a
 * name the archive does not hold is added after its entries, in the order
 * of the calls (BT_ERR_UNSAFE_NAME for a name extraction would refuse).
 * Putting a name again replaces what was put. BT_ERR_UNSAFE_NAME when
 * several entries have the name. */
BT_API int bt_edit_put_bytes(bt_edit* edit, const char* name, size_t name_length, const void* data,
                             uint64_t size);
BT_API int bt_edit_put_file(bt_edit* edit, const char* name, size_t name_length, const char* path);

/* Removes the archive's entries that `count` patterns select (bt_select's
 * rules): BT_ERR_NOT_FOUND, nothing removed, when a pattern selects none.
 * *removed (may be NULL) is how many the patterns select. */
BT_API int bt_edit_remove(bt_edit* edit, const char* const* patterns, size_t count, size_t* removed);

/* Writes the changed archive and puts it in place. The edit ends, its lock
 * released, whatever the outcome; after a failure the archive is as it
 * was. */
BT_API int bt_edit_commit(bt_edit* edit);

#ifdef __cplusplus
}
#endif

#endif
