// The operating system as the rest of bigtool sees it: files, directory
// listings, directory creation, the current directory, the command line.
// Nothing outside src/platform/ calls the system directly.
//
// Two tiers: platform.cpp implements what is the same on every system (the
// test seam's count, loops over short transfers, the copy and its fallback,
// remembered file positions) over the system's own calls of system.h, which
// one backend per system provides (posix.cpp, win32.cpp; the build picks
// one). The functions below marked "backend" are the system's own.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "lib/extract/written_files.h"
#include "lib/text/limits.h"
#include "lib/text/path_style.h"

class WorkPool;

// What the system says of the console the process started on.
struct ConsoleStart {
    unsigned processes = 0;        // processes attached to it; 0 without one
    bool outputIsConsole = false;  // standard output writes to it
    // A terminal may stand behind it: Wine gives a program started from a
    // Unix terminal a console of its own, as Explorer would.
    bool maybeTerminal = false;
};

// Separator and absolute-path rules of local paths on this system. Backend.
PathStyle local_path_style();

// The lead bytes of the code page local names are in: those of Windows'
// ANSI code page when it is a double-byte one, known once prepare_process
// has run; none on POSIX. Backend.
const LeadBytes& local_lead_bytes();

// Windows: `text`, characters beyond ASCII in the ANSI code page, in upper
// case as Windows' file systems compare names ("\xE9" in 1252, e acute, as
// "\xC9"), when the code page holds that exactly. False otherwise, and
// always on POSIX, whose file systems compare bytes. Backend.
bool fold_letter_case(std::string_view text, std::string* out);

// Windows: whether `name`'s bytes are characters of the ANSI code page that
// come back as the same bytes (not an unassigned double-byte pair, not
// bytes that are no UTF-8 under 65001), so that the file written is the
// one named. Always true on POSIX, whose names are bytes. Backend.
bool name_in_code_page(std::string_view name);

// Called first in every run. Afterwards no file the tool opens can take the
// place of a closed standard stream, a file-size limit makes a write fail
// instead of ending the process (POSIX), printable() knows how the console
// reads bytes, and a Windows console shows the text printed to stdout in
// the ANSI code page, not its own. 0 when the streams could not be made
// safe. Backend.
int prepare_process();

// Called by end_run last: everything printed so far has reached standard
// output. 1, or 0 when some of it was lost (a console that refused the text
// that Windows relays to it). Backend.
int finish_console_output();

// A closed reader of standard output (`| head`) makes a write fail instead
// of ending the process (POSIX's SIGPIPE). Backend.
void keep_running_when_output_closes();

// Standard output, taken for data (rows for scripts, an entry's bytes): the
// stream returned writes to it, in binary, while the console's text, which
// is printed to stdout, goes to standard error from now on. Call before
// anything is printed. Null when it could not be taken. Backend.
std::FILE* take_standard_output();

// Whether standard output was closed when the run started (prepare_process
// then gave it the null device): the data words' output would go nowhere.
// Backend.
bool standard_output_was_closed();

// The console the process started on, as prepare_process found it. POSIX:
// none, ever. Backend.
ConsoleStart console_start();

// Windows: shows `prompt` on the console and waits for Enter there (or for
// its input to end). Nothing on POSIX. Backend.
void wait_for_enter(const char* prompt);

using FileHandle = std::intptr_t;
inline constexpr FileHandle INVALID_FILE = -1;

enum class OpenMode {
    // Read only, shared: any number of runs that read, and any other
    // program that reads or writes it, may hold the file at once. Fails on
    // a missing file, a directory, anything not a regular file. The
    // archive of LIST, EXTRACT, FIND, GET, CHECK and COMPARE; list files.
    read_existing,
    // The same, for input files (CREATE, UPDATE, COMPARE). As for every
    // mode, a file this process holds (its own archive in the tree) is
    // refused on POSIX.
    read_input,
    // Read only, by a run that is to replace the file (UPDATE, DELETE):
    // readers may hold it too, but no other such run, until file_replace
    // has put the new file in its place. POSIX takes an exclusive advisory
    // lock (flock), then makes sure that the name still holds the file
    // locked, else opens the new one; Windows locks a byte beyond any
    // archive's end and does not share deletion, so that nobody moves the
    // file meanwhile.
    change_existing,
    create_new,     // read and write; fails when the name exists
    // Read and write. A plain file of that name with no other link is
    // reused with its bytes, which file_empty removes; a link (symbolic,
    // dangling or not, or a Windows reparse point) or a file with other
    // hard links is removed and the file made anew, so that nothing is
    // written through it. Refused like read_existing: directories, FIFOs
    // and devices, and a file this process holds, under any of its names
    // (checked before anything is removed). Through file_open_target.
    create_or_reuse,
};

// While the process holds a file open, it does not open the same file a
// second time to write it, which is what keeps EXTRACT from emptying the
// archive it is reading. Files opened to be written are held against other
// processes too: Windows opens them without sharing; POSIX takes an
// advisory lock (flock), which keeps out only those that ask for one.
// Never blocks.
FileHandle file_open(const char* path, OpenMode mode);

// Whether the last file_open, file_open_target or file_open_listed that
// failed did so because another program holds the file (its lock, or its
// sharing on Windows), rather than this process or anything else.
bool file_held_elsewhere();

// Opens `path` as OpenMode::create_or_reuse says, and tells which file that
// is, so that the caller can look before it empties the file (file_empty)
// and writes: EXTRACT's targets.
FileHandle file_open_target(const char* path, FileIdentity* identity);

// Empties a file just opened by file_open_target; 1 or 0. A file that was
// empty costs nothing; emptying one counts as a write for the test seam.
int file_empty(FileHandle file);

// Opens `path` for reading whatever it is, as `cat` would: a regular file,
// or a stream whose size says nothing (a pipe, a FIFO, /dev/stdin, a file
// of /proc), read to its end with file_read. Waits, as `cat` does, for a
// FIFO's writer; takes no lock and keeps no size. A directory is refused.
FileHandle file_open_stream(const char* path);

// Whether `stream` (standard output, taken for data) writes into a file
// that this process holds open, under any of its names: the archive being
// read. Told by identity; never so for a pipe, a device or a console.
bool writes_into_held_file(std::FILE* stream);

// Opens for reading a file that the caller has just listed as a regular file
// of `size` bytes, with the system's open alone: no lock, and no look at the
// file (a look per file costs as much as the open). A file changed since, or
// put in its place, shows in the reading: the caller reads one byte more
// than it expects. The file must not be one this process holds; where that
// could be so, file_open checks it. CREATE's input files.
FileHandle file_open_listed(const char* path, std::uint64_t size);

// A file read whole by a worker thread, ahead of the run, which then takes
// it in its place: file_read_ahead keeps nothing in the process and counts
// nothing for the test seam; file_take_open and file_take_read count and
// fail as file_open_listed and file_read would have there, so that a run
// reading ahead meets the seam's operations in the order of one that does
// not.
struct FileAhead {
    bool opened = false;
    bool heldElsewhere = false;  // the open failed because another program holds it
    bool read = false;           // the read succeeded, with `got` bytes
    std::uint32_t got = 0;
};

// From any thread: opens the file at `path`, just listed as a regular file,
// as file_open_listed does, reads up to `count` bytes into `buffer`, and
// closes it. `count` is the listed size and one byte more, which shows a
// file that grew; a read that stops short at the listed size is its end.
void file_read_ahead(const char* path, void* buffer, std::uint32_t count, FileAhead* outcome);

// The open of a file read ahead: 1, or 0 when it failed (file_held_elsewhere
// then tells why) or the test seam fails it.
int file_take_open(const FileAhead& outcome);

// Its read: 1 with *bytes_read, or 0 when it failed or the test seam fails it.
int file_take_read(const FileAhead& outcome, std::uint32_t* bytes_read);

// The write that a worker made of files read ahead, into the file being
// written at their place: 1, or 0 when it failed or the test seam fails
// it, counted as a write where the run takes it.
int file_take_written(bool written);

// The read that a worker made of the archive's bytes, to compare a file
// read ahead with them: 1, or 0 when the test seam fails it, counted as a
// read where the run takes it. (A read that failed is not taken: the run
// reads those bytes itself.)
int file_take_archive_read();

// Whether files may be read ahead: not when the test seam is to hold the
// run before an open or a read, for a test to change the file meanwhile.
bool reading_ahead_allowed();

// Reads up to `count` bytes; fewer only at the end of the file. 1 on success
// (with *bytes_read set, 0 at the end), 0 on failure. A read that reaches
// the size the file had when it was opened takes that for its end and asks
// the system no further.
int file_read(FileHandle file, void* buffer, std::uint32_t count, std::uint32_t* bytes_read);

// Writes all `count` bytes or fails: 1 or 0.
int file_write(FileHandle file, const void* buffer, std::uint32_t count);

enum class CopyStatus {
    copied,        // all `count` bytes
    source_ended,  // the source ended first; *copied says how far it got
    read_failed,
    write_failed,
};

// Copies `count` bytes from the current position of `source` to the current
// position of `target`, both advancing. Where the system can copy inside the
// kernel it does; otherwise, or when that refuses, `buffer` (`buffer_size`
// bytes) carries the data through read and write.
CopyStatus file_copy(FileHandle source, FileHandle target, std::uint64_t count, void* buffer,
                     std::uint32_t buffer_size, std::uint64_t* copied);

// Moves to `offset` from the beginning (the whole unsigned 32-bit range; a
// position beyond the end is allowed). *position receives the new position's
// low 32 bits. 1 on success, 0 on failure.
int file_seek(FileHandle file, std::uint32_t offset, std::uint32_t* position);

// The current position, in full. 1 or 0.
int file_position(FileHandle file, std::uint64_t* position);

// Moves a held file's position to `offset`, as file_seek does, but is not
// counted by the test seam: a run whose workers wrote the bytes before
// `offset` moves there where a run without them wrote its way there.
int file_move_to(FileHandle file, std::uint64_t offset);

// The file's size, in full. 1 or 0.
int file_size(FileHandle file, std::uint64_t* size);

// Data already written reaches the file; 1 or 0.
int file_flush(FileHandle file);

void file_close(FileHandle file);

// Data written so far reaches the disk itself, not only the system's cache,
// so that a power cut keeps it. 1 or 0. The test seam counts it as a write.
int file_sync(FileHandle file);

enum class ReplaceStatus {
    replaced,
    in_use,   // Windows: another program holds `target` open
    changed,  // Windows: another program put a file at `target` first
    failed,
};

// Puts the file at `path` in place of `target` in one step, so that
// whoever opens `target`, before or after, finds one file or the other
// whole: `file` was made by this run with OpenMode::create_new beside
// `target` and synced. `file` is closed either way; on failure it is
// removed, but only while `path` still names it, and `target` is as it
// was. `replaced` is this run's handle on `target` (OpenMode::change_existing),
// or INVALID_FILE: it is closed here, after the rename on POSIX, so that
// its lock holds until the new file has the name; Windows replaces a file
// only when no handle is open on it, this process's own included, so
// there it is closed just before, and the rename made only while `target`
// is still the file it held.
ReplaceStatus file_replace(FileHandle file, const char* path, const char* target, FileHandle replaced);

// The process's number, to give the files a run makes names of their own.
// Backend.
unsigned long process_number();

// The full path of the file that the symbolic link (Windows: any reparse
// point) at `path` finally leads to; 1, or 0 when there is none or it does
// not fit `size` bytes. Backend.
int link_target(const char* path, char* out, std::size_t size);

// Gives `file` the permission bits of the file at `like` (links followed)
// and, where this process may, its owner and group: a replaced file keeps
// who may read it. Windows: nothing, the new file takes its folder's
// permissions. Backend.
void take_permissions(FileHandle file, const char* like);

// Closes a file this run made with OpenMode::create_new and removes it, but
// only while `path` still names that very file: a file put in its place
// meanwhile, even while this one is being removed, is left alone.
void file_discard(FileHandle file, const char* path);

// A directory listing. Items come one at a time, "." and ".." included
// (but for a drive's root on Windows), in an order that is the same for the
// same directory on every run: Windows' own, and on POSIX by name (see
// lib/patterns/listing_order.h). Only directories and regular files are reported.
struct DirItem {
    char name[PATH_CAPACITY];
    bool isDirectory;
    std::uint64_t size;
    // The system's name holds characters that this tool's paths (in the
    // ANSI code page on Windows) cannot; `name` shows them as '?' and opens
    // nothing.
    bool unrepresentable;
};

struct DirListing;

enum class ListStatus {
    listed,    // *listing is open, and must be closed with dir_close
    is_cycle,  // POSIX: the directory is already being listed further up, a link loop
    failed,    // missing, not a directory, or unreadable
};

// Sizes cost a look at every file on some systems; a listing that does not
// need them may report 0 instead.
enum class ListDetail { types_only, with_sizes };

// With `helpers` (which has workers, and no jobs of its own in flight), a
// listing with sizes has its files looked at by the workers, a share each:
// the same listing, its looks overlapping.
ListStatus dir_open(const char* directory, ListDetail detail, DirListing** listing,
                    WorkPool* helpers = nullptr);
// 1 and the next item, or 0 at the end.
int dir_next(DirListing* listing, DirItem* item);
void dir_close(DirListing* listing);

enum class MakeDirStatus {
    made,
    exists,  // something of that name is there already, a directory or not
    parent_missing,
    other_failure,
};
MakeDirStatus make_directory(const char* path);

// Whether the file at `path` (links followed) is marked read-only: it has
// no write permission bit on POSIX, whoever asks; the read-only attribute
// on Windows. Backend.
bool is_read_only(const char* path);

// Which file `path` names (links followed); 1, or 0 when it cannot be told.
// Backend.
int file_identity(const char* path, FileIdentity* identity);

// Whether `path` names an existing directory (links followed). Backend.
bool is_directory(const char* path);


enum class CurrentDirectory {
    known,
    too_long,  // it does not fit the buffer
    unknown,   // the system cannot tell it: it was removed
};
// The current directory as a full path, terminated. Backend.
CurrentDirectory current_directory(char* buffer, std::size_t size);

// The current directory of drive `letter` ("C" for "C:out"), which Windows
// keeps for each drive; 1, or 0 when it does not fit `size` bytes or the
// system has no drives. Backend.
int drive_directory(char letter, char* buffer, std::size_t size);

enum class ResolveStatus {
    resolved,
    too_long,              // it does not fit the buffer, or is a device path
    no_current_directory,  // it needs the current directory, which the system cannot tell
};
// `dir` made absolute against the process's current directories, as
// resolve_path_from (lib/text/paths.h) describes; the current directory is
// asked for only when `dir` needs it.
ResolveStatus resolve_path(const char* dir, char* out, std::size_t size);

// Windows hands argv over in its ANSI code page, best fit: an argument typed
// with characters outside it arrives as another one (a fullwidth "ｏｕｔ" as
// "out", "łódź.big" as "lodz.big"). The position of the first argument
// after the program's name that argv does not hold exactly, with `shown` set
// to it ('?' for each character that does not fit); 0 when argv is the
// command line as typed, always so on POSIX. Backend.
int inexact_argument(std::string* shown);

// The value of the environment variable `name` in *value; false when it
// is not set. Backend.
bool environment_value(const char* name, std::string* value);

// Files read through the library's handles, which many threads may share:
// opened for reading with full sharing (other programs may read, write,
// rename or delete the file meanwhile), no lock, nothing remembered in the
// process, so that any number of handles, in this process or others, read
// one file. Only regular files on a disk; *size is the size as opened.
// Backend.
FileHandle file_open_shared(const char* path, std::uint64_t* size);

// The same from a UTF-16 path, where the system's paths are UTF-16
// (wide_paths(): Windows); INVALID_FILE elsewhere. Backend.
bool wide_paths();
FileHandle file_open_shared_wide(const wchar_t* path, std::uint64_t* size);

// Reads up to `count` bytes at `offset` of a file from file_open_shared,
// moving no position that another read shares: 1 with *got (fewer only at
// its end), 0 on failure. Backend.
int file_read_at(FileHandle file, std::uint64_t offset, void* buffer, std::uint32_t count,
                 std::uint32_t* got);

// Closes a file from file_open_shared. Backend.
void file_close_shared(FileHandle file);

// Files the library makes (new archives), known to nothing else in the
// process: no held list, no position kept, so that any number of them may
// be made at once from any threads. Backend.

// A new file at `path`, read and write, shared with nobody but readers;
// INVALID_FILE when the name exists or the file cannot be made.
FileHandle made_file_create(const char* path);

// Whether anything has the name `path`: a file, a folder, a link (even
// one that leads nowhere).
bool made_name_taken(const char* path);

// Whether a file named `path` would be within the system's limits: its
// name's length (POSIX: the folder's NAME_MAX) and its path's (Windows:
// MAX_PATH, unless in the long-path form "\\?\").
bool name_fits(const char* path);

// Writes all `count` bytes at `offset`: 1 or 0.
int made_file_write_at(FileHandle file, std::uint64_t offset, const void* buffer, std::uint32_t count);

// Has the system copy up to `count` bytes at `from` of `source` (a file
// from file_open_shared) to `to` of `file`, moving no position; the bytes
// it copied, fewer (even none) where it cannot copy that way, when the
// source ends, or on a failure: the caller carries on through a buffer.
std::uint64_t made_file_copy(FileHandle source, std::uint64_t from, FileHandle file, std::uint64_t to,
                             std::uint64_t count);

// The file's data reaches the disk: 1 or 0.
int made_file_sync(FileHandle file);

enum class PublishStatus {
    published,
    exists,  // `target` has a file: it is left as it is
    failed,
};

// Gives the synced file at `path` the name `target` in one step, never
// replacing a file there, and closes it. On failure the file at `path` is
// removed, but only while `path` still names it.
PublishStatus made_file_publish(FileHandle file, const char* path, const char* target);

// Closes the file and removes it, but only while `path` still names it.
void made_file_discard(FileHandle file, const char* path);

enum class ChangeLock {
    locked,  // the file is this run's to replace
    held,    // another run that changes it holds it
    moved,   // the name no longer holds the file opened: open it again
    failed,  // the system could not lock it
};

// Takes the lock of a run that is to replace the file `file`, just opened
// at `path` for reading: an exclusive lock that every such run asks for,
// this process's own included (POSIX flock; Windows a byte at 4 GiB,
// beyond any archive), and which readers do not. Then makes sure the name
// still holds that file. Never blocks.
ChangeLock made_lock_for_change(FileHandle file, const char* path);

// Opens `path` to be replaced: read only, readers and writers may hold it
// too, nobody may move or delete it (Windows); a regular file on a disk,
// *size its size. INVALID_FILE when it cannot be opened.
FileHandle made_open_for_change(const char* path, std::uint64_t* size);

// Puts the synced file `file`, made at `path` by made_file_create, in
// place of `target` in one step, closing it; `replaced` (the handle of
// made_open_for_change, or INVALID_FILE) is closed too, after the rename
// on POSIX so that its lock holds until then, just before on Windows,
// which replaces only files no handle holds, the rename then made only
// while `target` is still the file it held. On failure the new file is
// removed, while `path` still names it.
ReplaceStatus made_file_replace(FileHandle file, const char* path, const char* target, FileHandle replaced);

// How the system tells a folder from every other one (POSIX: its device
// and inode), to see a link loop; zeros where it cannot (Windows).
using FolderIdentity = std::array<std::uint64_t, 2>;

struct ListedItems;

// The items of `directory` as dir_open lists them (see DirItem), added to
// *listed, with the folder's identity. Nothing of the process is kept or
// counted. False when it cannot be listed. `helpers` as dir_open says.
// Backend.
bool folder_list(const char* directory, ListDetail detail, ListedItems* listed, FolderIdentity* identity,
                 WorkPool* helpers = nullptr);

// A second handle on `file`, with a position of its own, so that other
// threads read it at offsets (file_read_at) while this one reads on where
// it is; INVALID_FILE when it cannot be had. Closed by file_close_shared.
// Backend.
FileHandle file_open_again(FileHandle file);

// A second handle on `file`, a file being written, through which other
// threads write at offsets (made_file_write_at) while this one writes on
// where it is; INVALID_FILE where the system cannot have one that leaves
// this one's position alone (Windows: a write at an offset moves the
// position of its handle, and the file is shared with no other writer).
// Closed by file_close_shared. Backend.
FileHandle file_open_again_for_writing(FileHandle file);

// The processors the system gives this process to run on (its affinity,
// not the machine's count); at least 1. Backend.
unsigned processor_count();

// The library's extraction: writing files with no state of the process, so
// that threads extracting at once, from one archive handle or several, do
// not meet. None of these is counted by the test seam. Backend.

// What `path` names, its last component taken as it is, not followed.
enum class PathKind {
    missing,    // nothing, or nothing this process may look at
    link,       // a symbolic link, dangling or not; on Windows any reparse point (a junction too)
    directory,
    other,      // a file, a FIFO, a device
};
PathKind path_kind(const char* path);

// The system's own directory creation, which make_directory counts for the
// test seam.
MakeDirStatus directory_make(const char* path);

// The lead bytes of the system's code page for names (Windows: the ANSI
// code page's, when it is a double-byte one; none on POSIX), asked of the
// system itself: local_lead_bytes() is the command line's.
const LeadBytes& code_page_lead_bytes();

// Which file `file` (from file_open_shared) is; 1, or 0 when it cannot be
// told.
int file_identity_shared(FileHandle file, FileIdentity* identity);

// What the open of an extraction's target tells besides its handle.
struct TargetOpen {
    FileIdentity identity{};      // which file it is
    std::uint64_t size = 0;       // as opened: a file of 0 bytes needs no emptying
    bool heldElsewhere = false;   // refused because another program holds it
};

// Opens `path` to be written as OpenMode::create_or_reuse does (never
// through a link; a plain file is reused with its bytes, which
// file_empty_shared removes), but refuses the file `avoid` (the archive
// being read), under any of its names, before anything is removed; `avoid`
// may be null. Nothing is remembered; POSIX takes its advisory lock.
FileHandle file_open_target_shared(const char* path, const FileIdentity* avoid, TargetOpen* opened);
int file_empty_shared(FileHandle file);
// Writes all `count` bytes, or 0.
int file_write_shared(FileHandle file, const void* buffer, std::uint32_t count);
int file_flush_shared(FileHandle file);

// The command line's workers: EXTRACT's and GET's files written from other
// threads through the shared calls above, each counted by the test seam as
// the command line's own calls are. Nothing is remembered, so any thread
// may call them at once.
FileHandle worker_open_target(const char* path, const FileIdentity* avoid, TargetOpen* opened);
int worker_empty(FileHandle file);
// `count` bytes at `from` of `source` (a handle that file_read_at reads)
// to the start of `target`, just opened and empty, inside the kernel where
// it can (each step counted as one read and one write), else through
// `buffer`; no position of `source` moves.
CopyStatus worker_copy(FileHandle source, std::uint64_t from, FileHandle target, std::uint64_t count, void* buffer,
                       std::uint32_t buffer_size, std::uint64_t* copied);
int worker_flush(FileHandle file);

// The command line's reads and writes at offsets of its own files (or the
// shared ones above), each counted by the test seam; a read or write moves
// one byte a call when the seam asks for short transfers.
int read_at_counted(FileHandle file, std::uint64_t offset, void* buffer, std::uint32_t count, std::uint32_t* got);
int write_at_counted(FileHandle file, std::uint64_t offset, const void* buffer, std::uint32_t count);
// Up to `count` bytes at `from` of `source` to `to` of `target`, inside the
// kernel, each step counted as a read and a write: the bytes it copied,
// fewer where it cannot or a step is failed, and none when the seam wants
// copies through a buffer. The caller carries on through its buffer.
std::uint64_t copy_at_counted(FileHandle source, std::uint64_t from, FileHandle target, std::uint64_t to,
                              std::uint64_t count);

// The test seam counts the operations of threads that share one run in an
// order that is the same on every run, so that its k-th is always the same
// operation: the run is cut into turns, and an operation of a turn waits
// (when a fault or a pause is asked for, and only then) until every earlier
// turn has ended. The thread that hands jobs over ends its turn with
// seam_hand_over, which gives the job the next turn and takes the one after;
// the job's thread calls seam_turn_begin and seam_turn_end around it. Nothing
// in builds without the seam.
std::uint64_t seam_hand_over();
void seam_turn_begin(std::uint64_t turn);
void seam_turn_end(std::uint64_t turn);
