// The portable tier of platform.h: what is the same on every system, written
// once over the system's own calls (system.h). The test seam counts its
// operations here, so that it counts the same ones on every system.
#include <algorithm>
#include <string>
#include <vector>

#include "platform/fault_seam.h"
#include "platform/listed_items.h"
#include "platform/platform.h"
#include "platform/system.h"

namespace {

// Copies inside the kernel go in steps of this many bytes at most; each
// step counts as one read and one write for the test seam.
constexpr std::uint64_t COPY_STEP = std::uint64_t{1} << 30;

struct HeldFile {
    FileHandle handle;
    bool positionKnown;
    std::uint64_t position;
    bool atEnd;  // a read has just found the end, and nothing moved since
    std::uint64_t openedSize;
};

// The files this process holds, each with its position, so that asking for
// it, or seeking to where the file already is, needs no system call:
// EXTRACT * seeks to every entry, and entries follow one another.
struct HeldFiles {
    std::vector<HeldFile> files;
};
HeldFiles held;

HeldFile* held_file(FileHandle file) {
    for (HeldFile& found : held.files) {
        if (found.handle == file) {
            return &found;
        }
    }
    return nullptr;
}

void forget_held(FileHandle file) {
    held.files.erase(std::remove_if(held.files.begin(), held.files.end(),
                                    [file](const HeldFile& found) { return found.handle == file; }),
                     held.files.end());
}

void moved_by(FileHandle file, std::uint64_t bytes) {
    if (HeldFile* found = held_file(file)) {
        found->position += bytes;
        found->atEnd = found->atEnd && bytes == 0;
    }
}

void position_lost(FileHandle file) {
    if (HeldFile* found = held_file(file)) {
        found->positionKnown = false;
        found->atEnd = false;
    }
}

void position_is(FileHandle file, std::uint64_t position) {
    if (HeldFile* found = held_file(file)) {
        found->positionKnown = true;
        found->atEnd = found->atEnd && found->position == position;
        found->position = position;
    }
}

// The loops of file_read and file_write, without the seam's count, so that
// a copy can use them as one read and one write. The seam may make every
// system transfer move one byte; callers still get whole reads and writes.
int read_all(FileHandle file, void* buffer, std::uint32_t count, std::uint32_t* bytes_read) {
    auto* bytes = static_cast<char*>(buffer);
    std::uint32_t done = 0;
    while (done < count) {
        std::uint32_t ask = fault_short_transfers() ? 1 : count - done;
        std::int64_t got = sys::read_some(file, bytes + done, ask);
        if (got < 0) {
            position_lost(file);
            return 0;
        }
        if (got == 0) {
            break;
        }
        done += static_cast<std::uint32_t>(got);
        // Short of `count` at the size the file had when opened: that is
        // its end, and asking again would only say so.
        const HeldFile* found = held_file(file);
        if (done < count && found != nullptr && found->positionKnown &&
            found->position + done == found->openedSize) {
            moved_by(file, done);
            held_file(file)->atEnd = true;
            *bytes_read = done;
            return 1;
        }
    }
    moved_by(file, done);
    *bytes_read = done;
    return 1;
}

int write_all(FileHandle file, const void* buffer, std::uint32_t count) {
    const auto* bytes = static_cast<const char*>(buffer);
    std::uint32_t done = 0;
    while (done < count) {
        std::uint32_t ask = fault_short_transfers() ? 1 : count - done;
        std::int64_t put = sys::write_some(file, bytes + done, ask);
        if (put <= 0) {
            position_lost(file);
            return 0;
        }
        done += static_cast<std::uint32_t>(put);
    }
    moved_by(file, done);
    return 1;
}

// The careful copy: from *copied up to `count` through `buffer` with read
// and write, telling a failed read, a failed write and the source's end
// apart.
CopyStatus copy_through(FileHandle source, FileHandle target, std::uint64_t count, void* buffer,
                        std::uint32_t buffer_size, std::uint64_t* copied) {
    while (*copied < count) {
        std::uint64_t left = count - *copied;
        auto want = static_cast<std::uint32_t>(left < buffer_size ? left : buffer_size);
        std::uint32_t got = 0;
        if (!file_read(source, buffer, want, &got)) {
            return CopyStatus::read_failed;
        }
        if (got == 0) {
            return CopyStatus::source_ended;
        }
        if (!file_write(target, buffer, got)) {
            return CopyStatus::write_failed;
        }
        *copied += got;
    }
    return CopyStatus::copied;
}

// A copy step done by the system counts, for the test seam, as one read and
// one write: true, with *status the failure, when either is chosen to fail.
bool copy_step_fault(CopyStatus* status) {
    if (fault_injected(FaultOp::read)) {
        *status = CopyStatus::read_failed;
        return true;
    }
    if (fault_injected(FaultOp::write)) {
        *status = CopyStatus::write_failed;
        return true;
    }
    return false;
}

// The first read and write of copy_through, with one byte more asked for:
// when the read brings `count` bytes the source's end is known, and the
// caller's look for more data (CREATE's check that the file did not grow)
// costs no system call. A byte beyond `count` is given back for that look.
CopyStatus copy_whole(FileHandle source, FileHandle target, std::uint64_t count, void* buffer,
                      std::uint32_t buffer_size, std::uint64_t* copied) {
    if (fault_injected(FaultOp::read)) {
        return CopyStatus::read_failed;
    }
    std::int64_t got = sys::read_some(source, buffer, static_cast<std::uint32_t>(count + 1));
    if (got < 0) {
        position_lost(source);
        return CopyStatus::read_failed;
    }
    auto bytes = static_cast<std::uint64_t>(got);
    moved_by(source, bytes);
    HeldFile* from = held_file(source);
    if (bytes > count) {
        bytes = count;
        std::uint64_t back = 0;
        if (from == nullptr || !sys::seek(source, from->position - 1, &back)) {
            position_lost(source);
        } else {
            position_is(source, back);
        }
    } else if (bytes == count && from != nullptr) {
        from->atEnd = true;
    }
    if (bytes == 0) {
        return CopyStatus::source_ended;
    }
    if (fault_injected(FaultOp::write)) {
        return CopyStatus::write_failed;
    }
    if (!write_all(target, buffer, static_cast<std::uint32_t>(bytes))) {
        return CopyStatus::write_failed;
    }
    *copied = bytes;
    // Fewer bytes than asked for: the loop reads on, or reports the end.
    return copy_through(source, target, count, buffer, buffer_size, copied);
}

// The copy where the system's own cannot be used. A source that, as
// opened, ends with these `count` bytes (a file being archived) is read
// whole, looking for its end.
CopyStatus copy_by_reading(FileHandle source, FileHandle target, std::uint64_t count, void* buffer,
                           std::uint32_t buffer_size, std::uint64_t* copied) {
    const HeldFile* from = held_file(source);
    if (*copied == 0 && count > 0 && count < buffer_size && !fault_short_transfers() &&
        from != nullptr && from->positionKnown && from->openedSize == from->position + count) {
        return copy_whole(source, target, count, buffer, buffer_size, copied);
    }
    return copy_through(source, target, count, buffer, buffer_size, copied);
}

// A run that is to replace the archive opens it again when the name came
// to hold another file between the open and the lock: another run put its
// new archive there. As many times as this, at most.
constexpr int CHANGE_TRIES = 100;

bool heldElsewhere = false;

// The lock of OpenMode::change_existing on `file`; INVALID_FILE, the file
// closed, when it must be opened again (*again) or cannot be had.
FileHandle locked_for_change(FileHandle file, const char* path, bool* again) {
    // Counted so that a test can pause here, between the open and the
    // lock; never failed on purpose.
    static_cast<void>(fault_injected(FaultOp::lock));
    sys::ChangeLock lock = sys::lock_for_change(file, path);
    if (lock == sys::ChangeLock::locked) {
        return file;
    }
    sys::close(file);
    heldElsewhere = lock == sys::ChangeLock::held;
    *again = lock == sys::ChangeLock::moved;
    return INVALID_FILE;
}

// file_open and file_open_target: the file is held from its start.
FileHandle open_held(const char* path, OpenMode mode, FileIdentity* identity) {
    heldElsewhere = false;
    if (fault_injected(FaultOp::open)) {
        return INVALID_FILE;
    }
    std::uint64_t size = 0;
    FileHandle file = INVALID_FILE;
    for (int tries = 0; tries < CHANGE_TRIES; ++tries) {
        file = sys::open_file(path, mode, &size, identity);
        bool again = false;
        if (file == INVALID_FILE) {
            heldElsewhere = sys::last_open_held();
        } else if (mode == OpenMode::change_existing) {
            file = locked_for_change(file, path, &again);
        }
        if (!again) {
            break;
        }
    }
    if (file != INVALID_FILE) {
        held.files.push_back({file, true, 0, false, size});
    }
    return file;
}

}  // namespace

FileHandle file_open(const char* path, OpenMode mode) {
    return open_held(path, mode, nullptr);
}

bool file_held_elsewhere() {
    return heldElsewhere;
}

FileHandle file_open_target(const char* path, FileIdentity* identity) {
    return open_held(path, OpenMode::create_or_reuse, identity);
}

int file_empty(FileHandle file) {
    HeldFile* found = held_file(file);
    if (found != nullptr && found->positionKnown && found->position == 0 && found->openedSize == 0) {
        return 1;
    }
    if (fault_injected(FaultOp::write)) {
        return 0;
    }
    if (!sys::empty(file)) {
        position_lost(file);
        return 0;
    }
    position_is(file, 0);
    if (found != nullptr) {
        found->openedSize = 0;
    }
    return 1;
}

FileHandle file_open_listed(const char* path, std::uint64_t size) {
    heldElsewhere = false;
    if (fault_injected(FaultOp::open)) {
        return INVALID_FILE;
    }
    FileHandle file = sys::open_listed(path);
    heldElsewhere = file == INVALID_FILE && sys::last_open_held();
    if (file != INVALID_FILE) {
        held.files.push_back({file, true, 0, false, size});
    }
    return file;
}

void file_read_ahead(const char* path, void* buffer, std::uint32_t count, FileAhead* outcome) {
    *outcome = {};
    FileHandle file = sys::open_listed_apart(path, &outcome->heldElsewhere);
    if (file == INVALID_FILE) {
        return;
    }
    outcome->opened = true;
    auto* bytes = static_cast<char*>(buffer);
    outcome->read = true;
    while (outcome->got < count) {
        std::uint32_t ask = fault_short_transfers() ? 1 : count - outcome->got;
        std::int64_t got = sys::read_some(file, bytes + outcome->got, ask);
        if (got <= 0) {
            outcome->read = got == 0;
            break;
        }
        outcome->got += static_cast<std::uint32_t>(got);
        // Short at the listed size: that is the file's end, as read_all
        // takes it, and asking again would only say so.
        if (outcome->got == count - 1 && static_cast<std::uint32_t>(got) < ask) {
            break;
        }
    }
    file_close_shared(file);
}

int file_take_open(const FileAhead& outcome) {
    heldElsewhere = false;
    if (fault_injected(FaultOp::open)) {
        return 0;
    }
    heldElsewhere = outcome.heldElsewhere;
    return outcome.opened ? 1 : 0;
}

int file_take_read(const FileAhead& outcome, std::uint32_t* bytes_read) {
    if (fault_injected(FaultOp::read) || !outcome.read) {
        return 0;
    }
    *bytes_read = outcome.got;
    return 1;
}

int file_take_archive_read() {
    return fault_injected(FaultOp::read) ? 0 : 1;
}

int file_take_written(bool written) {
    return fault_injected(FaultOp::write) || !written ? 0 : 1;
}

bool reading_ahead_allowed() {
    return !fault_pause_before(FaultOp::open) && !fault_pause_before(FaultOp::read);
}

FileHandle file_open_stream(const char* path) {
    if (fault_injected(FaultOp::open)) {
        return INVALID_FILE;
    }
    // Not held: a stream has no size to take for its end, nor a position.
    return sys::open_stream(path);
}

bool writes_into_held_file(std::FILE* stream) {
    FileIdentity output;
    if (!sys::identity(sys::stream_handle(stream), &output)) {
        return false;
    }
    return std::any_of(held.files.begin(), held.files.end(), [&output](const HeldFile& file) {
        FileIdentity found;
        return sys::identity(file.handle, &found) && found.volume == output.volume &&
               found.file == output.file;
    });
}

int file_read(FileHandle file, void* buffer, std::uint32_t count, std::uint32_t* bytes_read) {
    if (fault_injected(FaultOp::read)) {
        return 0;
    }
    const HeldFile* found = held_file(file);
    if (found != nullptr && found->atEnd) {
        *bytes_read = 0;
        return 1;
    }
    return read_all(file, buffer, count, bytes_read);
}

int file_write(FileHandle file, const void* buffer, std::uint32_t count) {
    if (fault_injected(FaultOp::write)) {
        return 0;
    }
    return write_all(file, buffer, count);
}

CopyStatus file_copy(FileHandle source, FileHandle target, std::uint64_t count, void* buffer,
                     std::uint32_t buffer_size, std::uint64_t* copied) {
    *copied = 0;
    // The system's copy moves the data without passing it through this
    // process. When it refuses, read and write carry it; when it fails part
    // way, they take over from where it stopped, so that a failure is
    // reported as the read or write failure it is.
    while (*copied < count && !fault_short_transfers()) {
        if (CopyStatus failure; copy_step_fault(&failure)) {
            return failure;
        }
        std::uint64_t left = count - *copied;
        std::uint64_t want = left < COPY_STEP ? left : COPY_STEP;
        std::int64_t moved = fault_no_kernel_copy()
                                 ? sys::COPY_REFUSED
                                 : sys::copy_some(source, target, want, buffer, buffer_size);
        if (moved == sys::COPY_REFUSED && *copied == 0) {
            return copy_by_reading(source, target, count, buffer, buffer_size, copied);
        }
        if (moved == sys::COPY_WRITE_FAILED) {
            position_lost(source);
            position_lost(target);
            return CopyStatus::write_failed;
        }
        if (moved <= 0) {
            break;  // the source's end or a failed read: the careful loop tells which
        }
        *copied += static_cast<std::uint64_t>(moved);
        moved_by(source, static_cast<std::uint64_t>(moved));
        moved_by(target, static_cast<std::uint64_t>(moved));
    }
    return copy_through(source, target, count, buffer, buffer_size, copied);
}

int file_seek(FileHandle file, std::uint32_t offset, std::uint32_t* position) {
    if (fault_injected(FaultOp::seek)) {
        return 0;
    }
    const HeldFile* found = held_file(file);
    if (found != nullptr && found->positionKnown && found->position == offset) {
        *position = offset;
        return 1;
    }
    std::uint64_t at = 0;
    if (!sys::seek(file, offset, &at)) {
        position_lost(file);
        return 0;
    }
    position_is(file, at);
    *position = static_cast<std::uint32_t>(at);
    return 1;
}

int file_move_to(FileHandle file, std::uint64_t offset) {
    std::uint64_t at = 0;
    if (!sys::seek(file, offset, &at) || at != offset) {
        position_lost(file);
        return 0;
    }
    position_is(file, at);
    return 1;
}

int file_position(FileHandle file, std::uint64_t* position) {
    if (fault_injected(FaultOp::seek)) {
        return 0;
    }
    const HeldFile* found = held_file(file);
    if (found != nullptr && found->positionKnown) {
        *position = found->position;
        return 1;
    }
    if (!sys::position(file, position)) {
        return 0;
    }
    position_is(file, *position);
    return 1;
}

int file_size(FileHandle file, std::uint64_t* size) {
    return sys::size(file, size);
}

int file_flush(FileHandle file) {
    if (fault_injected(FaultOp::write)) {
        return 0;
    }
    return sys::flush(file);
}

void file_close(FileHandle file) {
    forget_held(file);
    sys::close(file);
}

int file_sync(FileHandle file) {
    if (fault_injected(FaultOp::write)) {
        return 0;
    }
    return sys::sync(file);
}

ReplaceStatus file_replace(FileHandle file, const char* path, const char* target, FileHandle replaced) {
    if (fault_injected(FaultOp::replace)) {
        file_discard(file, path);
        if (replaced != INVALID_FILE) {
            file_close(replaced);
        }
        return ReplaceStatus::failed;
    }
    forget_held(file);
    if (replaced != INVALID_FILE) {
        forget_held(replaced);
    }
    ReplaceStatus status = sys::replace(file, path, target, replaced);
    if (status == ReplaceStatus::replaced) {
        // Counted so that a test can pause here, the new archive in its
        // place; never failed on purpose.
        static_cast<void>(fault_injected(FaultOp::replace));
        sys::sync_folder_of(target);
    }
    return status;
}

void file_discard(FileHandle file, const char* path) {
    forget_held(file);
    std::string removable;
    if (sys::claim_for_removal(file, path, &removable)) {
        // Counted so that a test can pause here, once `path` is no longer
        // this file's name, and put another file there; the removal itself
        // is never failed on purpose.
        static_cast<void>(fault_injected(FaultOp::remove));
        if (!removable.empty()) {
            sys::remove_name(removable);
        }
    }
    sys::close(file);
}

ListStatus dir_open(const char* directory, ListDetail detail, DirListing** listing, WorkPool* helpers) {
    if (fault_injected(FaultOp::dir)) {
        return ListStatus::failed;
    }
    auto* opened = new DirListing;
    ListStatus status = sys::list_directory(directory, detail, opened, helpers);
    if (status != ListStatus::listed) {
        delete opened;
        return status;
    }
    *listing = opened;
    return ListStatus::listed;
}

int dir_next(DirListing* listing, DirItem* item) {
    return next_listed(listing->listed, item);
}

void dir_close(DirListing* listing) {
    sys::forget_directory(listing);
    delete listing;
}

MakeDirStatus make_directory(const char* path) {
    if (fault_injected(FaultOp::dir)) {
        return MakeDirStatus::other_failure;
    }
    return directory_make(path);
}

FileHandle worker_open_target(const char* path, const FileIdentity* avoid, TargetOpen* opened) {
    opened->heldElsewhere = false;
    if (fault_injected(FaultOp::open)) {
        return INVALID_FILE;
    }
    return file_open_target_shared(path, avoid, opened);
}

int worker_empty(FileHandle file) {
    if (fault_injected(FaultOp::write)) {
        return 0;
    }
    return file_empty_shared(file);
}

int read_at_counted(FileHandle file, std::uint64_t offset, void* buffer, std::uint32_t count, std::uint32_t* got) {
    if (fault_injected(FaultOp::read)) {
        return 0;
    }
    if (!fault_short_transfers()) {
        return file_read_at(file, offset, buffer, count, got);
    }
    auto* bytes = static_cast<char*>(buffer);
    std::uint32_t done = 0;
    for (std::uint32_t one = 1; done < count && one == 1; done += one) {
        if (!file_read_at(file, offset + done, bytes + done, 1, &one)) {
            return 0;
        }
    }
    *got = done;
    return 1;
}

int write_at_counted(FileHandle file, std::uint64_t offset, const void* buffer, std::uint32_t count) {
    if (fault_injected(FaultOp::write)) {
        return 0;
    }
    const std::uint32_t step = fault_short_transfers() ? 1 : count;
    const auto* bytes = static_cast<const char*>(buffer);
    for (std::uint32_t done = 0; done < count; done += step) {
        if (!made_file_write_at(file, offset + done, bytes + done, std::min(step, count - done))) {
            return 0;
        }
    }
    return 1;
}

std::uint64_t copy_at_counted(FileHandle source, std::uint64_t from, FileHandle target, std::uint64_t to,
                              std::uint64_t count) {
    std::uint64_t copied = 0;
    while (copied < count && !fault_short_transfers() && !fault_no_kernel_copy()) {
        if (CopyStatus failure; copy_step_fault(&failure)) {
            break;
        }
        std::uint64_t left = count - copied;
        std::uint64_t moved = made_file_copy(source, from + copied, target, to + copied, left < COPY_STEP ? left : COPY_STEP);
        if (moved == 0) {
            break;
        }
        copied += moved;
    }
    return copied;
}

CopyStatus worker_copy(FileHandle source, std::uint64_t from, FileHandle target, std::uint64_t count, void* buffer,
                       std::uint32_t buffer_size, std::uint64_t* copied) {
    *copied = 0;
    // The kernel's copy first, as file_copy; read and write carry on from
    // wherever it stops, and tell a failure from the source's end.
    while (*copied < count && !fault_short_transfers() && !fault_no_kernel_copy()) {
        if (CopyStatus failure; copy_step_fault(&failure)) {
            return failure;
        }
        std::uint64_t left = count - *copied;
        std::uint64_t moved = made_file_copy(source, from + *copied, target, *copied, left < COPY_STEP ? left : COPY_STEP);
        if (moved == 0) {
            break;
        }
        *copied += moved;
    }
    while (*copied < count) {
        std::uint64_t left = count - *copied;
        auto want = static_cast<std::uint32_t>(left < buffer_size ? left : buffer_size);
        std::uint32_t got = 0;
        if (!read_at_counted(source, from + *copied, buffer, want, &got)) {
            return CopyStatus::read_failed;
        }
        if (got == 0) {
            return CopyStatus::source_ended;
        }
        if (!write_at_counted(target, *copied, buffer, got)) {
            return CopyStatus::write_failed;
        }
        *copied += got;
    }
    return CopyStatus::copied;
}

int worker_flush(FileHandle file) {
    if (fault_injected(FaultOp::write)) {
        return 0;
    }
    return file_flush_shared(file);
}
