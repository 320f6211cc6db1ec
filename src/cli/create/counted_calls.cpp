// See counted_calls.h.
#include "cli/create/counted_calls.h"

#include "cli/reader/reader.h"
#include "cli/text/printable.h"
#include "lib/text/joined.h"
#include "lib/writer/name_beside.h"

namespace {

// A leftover of a run that was killed may hold a name this run would try.
constexpr unsigned long NAME_TRIES = 100;

}  // namespace

WriteOutcome CountedCalls::make(const char* target) {
    std::string shown;
    for (unsigned long i = 0; i < NAME_TRIES; ++i) {
        path_ = name_beside(target, ".tmp-" + std::to_string(process_number() + i));
        if (path_.empty()) {
            return {WriteFault::create_failed, 0,
                    joined({"The name '", printable(target, shown), "' is too long for a temporary file beside it."})};
        }
        if (path_kind(path_.c_str()) != PathKind::missing) {
            continue;
        }
        file_ = file_open(path_.c_str(), OpenMode::create_new);
        if (file_ == INVALID_FILE) {
            break;
        }
        take_permissions(file_, target);
        return {};
    }
    return {WriteFault::create_failed, 0, joined({"Could not create '", printable(path_.c_str(), shown), "'."})};
}

bool CountedCalls::write_at(std::uint64_t at, const void* bytes, std::uint32_t count) {
    return write_at_counted(file_, at, bytes, count) != 0;
}

std::uint64_t CountedCalls::copy(FileHandle source, std::uint64_t from, std::uint64_t at, std::uint64_t count) {
    return copy_at_counted(source, from, file_, at, count);
}

bool CountedCalls::sync() {
    return file_sync(file_) != 0;
}

void CountedCalls::discard() {
    file_discard(file_, path_.c_str());
    file_ = INVALID_FILE;
}

// The open archive is held until the new one has its name: no other run
// that changes it reads the old one meanwhile.
WriteOutcome CountedCalls::finish(const char* target) {
    FileHandle made = file_;
    file_ = INVALID_FILE;
    const ReplaceStatus status = file_replace(made, path_.c_str(), target, release_archive());
    std::string held;
    const std::string shown = printable(archive_, held);
    switch (status) {
    case ReplaceStatus::replaced: return {};
    case ReplaceStatus::in_use:
        return {WriteFault::write_failed, 0,
                joined({"Could not replace '", shown, "': another program has it open. It is unchanged."})};
    case ReplaceStatus::changed:
        return {WriteFault::write_failed, 0, joined({"Could not replace '", shown, "': another program replaced it first."})};
    case ReplaceStatus::failed: break;
    }
    return {WriteFault::write_failed, 0, joined({"Could not replace '", shown, "'. It is unchanged."})};
}

FileHandle CountedCalls::open_input(const char* path) {
    return file_open(path, OpenMode::read_input);
}

bool CountedCalls::read_input(FileHandle file, std::uint64_t at, void* into, std::uint32_t count, std::uint32_t* got) {
    return read_at_counted(file, at, into, count, got) != 0;
}

void CountedCalls::close_input(FileHandle file) {
    file_close(file);
}
