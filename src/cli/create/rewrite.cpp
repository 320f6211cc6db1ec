// See rewrite.h.
#include "cli/create/rewrite.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "cli/create/create.h"
#include "cli/create/read_ahead.h"
#include "cli/main/end_run.h"
#include "cli/main/held_elsewhere.h"
#include "cli/reader/reader.h"
#include "cli/text/printable.h"
#include "lib/writer/name_beside.h"
#include "platform/platform.h"

namespace {

// Kept data goes by the system's copy, which needs no buffer; this one
// serves where the system cannot copy, and for the files.
constexpr std::uint32_t REWRITE_CHUNK = 1024 * 1024;

// The new index is written in pieces of this size as the data is written:
// an index of any size costs no more.
constexpr std::uint32_t INDEX_PIECE = 64 * 1024;

// A leftover of a run that was killed may hold a name this run would try.
constexpr unsigned long NAME_TRIES = 100;

// What becomes of an entry of the open archive: kept with its data,
// removed, or given the data of the planned file of that number.
constexpr std::uint32_t KEPT = UINT32_MAX;
constexpr std::uint32_t REMOVED = UINT32_MAX - 1;

struct PlannedFile {
    std::string_view name;  // an added entry's; empty for a file that replaces an entry's data
    std::uint32_t pathAt;   // where its path starts in `paths`
    std::uint32_t size;
};

// The new archive as planned: 4 bytes for each entry of the open archive,
// which is walked again to write it, and what is needed of each file.
struct Plan {
    std::vector<std::uint32_t> fates;  // in entry order
    std::vector<PlannedFile> files;    // those that replace data, in entry order, then the added ones
    std::string paths;                 // the files' paths, each terminated
    std::uint32_t entries = 0;         // in the new archive
    std::uint64_t indexBytes = 0;      // their entries' bytes in the new index
    std::uint64_t dataTotal = 0;
};

Plan plan;

void count_entry(std::uint64_t name_length, std::uint32_t size) {
    ++plan.entries;
    plan.indexBytes += ENTRY_FIXED_SIZE + name_length;
    plan.dataTotal += size;
}

std::uint32_t add_file(std::string_view name, const char* path, std::uint32_t size) {
    plan.files.push_back({name, static_cast<std::uint32_t>(plan.paths.size()), size});
    plan.paths.append(path);
    plan.paths.push_back('\0');
    return static_cast<std::uint32_t>(plan.files.size() - 1);
}

// The new file, beside the archive (or the file a link there leads to),
// under a name no file has yet.
struct NewFile {
    FileHandle handle = INVALID_FILE;
    std::string path;
    std::string target;  // the file it is to replace
};

[[noreturn]] void fail(NewFile& made) {
    file_discard(made.handle, made.path.c_str());
    end_run(2);
}

void make_new_file(const char* archive_path, NewFile* made) {
    std::string shown;
    made->target = archive_path;
    // A link is followed: the file it leads to is replaced, the link stays.
    if (path_kind(archive_path) == PathKind::link) {
        char target[4096];
        if (!link_target(archive_path, target, sizeof target)) {
            std::printf("Error: Could not follow the link '%s'.\n", printable(archive_path, shown));
            end_run(2);
        }
        made->target = target;
    }
    for (unsigned long i = 0; i < NAME_TRIES; ++i) {
        made->path = name_beside(made->target, ".tmp-" + std::to_string(process_number() + i));
        if (made->path.empty()) {
            std::printf("Error: The name '%s' is too long for a temporary file beside it.\n",
                        printable(made->target.c_str(), shown));
            end_run(2);
        }
        if (path_kind(made->path.c_str()) != PathKind::missing) {
            continue;
        }
        made->handle = file_open(made->path.c_str(), OpenMode::create_new);
        if (made->handle == INVALID_FILE) {
            break;
        }
        return;
    }
    std::printf("Error: Could not create '%s'.\n", printable(made->path.c_str(), shown));
    end_run(2);
}

int fail_changed() {
    std::printf("Error: The archive changed while it was rewritten.\n");
    return 0;
}

bool copy_kept(FileHandle target, std::uint32_t offset, std::uint64_t size, std::uint8_t* buffer) {
    if (size == 0) {
        return true;
    }
    switch (copy_archive_data(offset, static_cast<std::uint32_t>(size), target, buffer, REWRITE_CHUNK)) {
    case DataCopy::copied: return true;
    case DataCopy::seek_failed: std::printf("Error: Could not set file pointer.\n"); return false;
    case DataCopy::read_failed: std::printf("Error: Could not read from BIG file.\n"); return false;
    case DataCopy::write_failed: std::printf("Error: Could not write to BIG file.\n"); return false;
    }
    return false;
}

// The planned files that are read ahead, by their numbers in the plan.
ReadAhead::Source small_files() {
    return [f = std::uint32_t{0}](std::uint32_t* key, std::string* path, std::uint32_t* size,
                                  std::uint64_t*) mutable {
        for (; f < plan.files.size(); ++f) {
            const PlannedFile& file = plan.files[f];
            if (file.size > 0 && file.size <= READ_AHEAD_LIMIT) {
                *key = f;
                *path = plan.paths.c_str() + file.pathAt;
                *size = file.size;
                ++f;
                return true;
            }
        }
        return false;
    };
}

// Copies planned file `f` in as entry `n`, on a line of its own, taken
// from `ahead` when it was read ahead there.
bool copy_file_in(FileHandle target, std::uint32_t n, std::uint32_t f, std::uint8_t* buffer, ReadAhead& ahead) {
    std::string shown;
    const PlannedFile& file = plan.files[f];
    const char* path = plan.paths.c_str() + file.pathAt;
    std::printf("%s[%lu] %lukb '%s': ", file.name.empty() ? "Replacing" : "Adding",
                static_cast<unsigned long>(n), static_cast<unsigned long>(file.size / 1024),
                printable(path, shown));
    const AheadFile* read = file.size > 0 && file.size <= READ_AHEAD_LIMIT ? ahead.take(f) : nullptr;
    FileHandle handle = read != nullptr ? INVALID_FILE : file_open(path, OpenMode::read_input);
    if (read != nullptr ? !file_take_open(read->outcome) : handle == INVALID_FILE) {
        std::printf("Error: Could not open '%s'.\n", printable(path, shown));
        say_if_held_elsewhere(path);
        return false;
    }
    if (read != nullptr) {
        std::uint32_t got = 0;
        const bool done = file_take_read(read->outcome, &got);
        if (!read_as_listed(done, got, file.size)) {
            return false;
        }
        if (!file_write(target, ahead.bytes_of(*read), file.size)) {
            std::printf("Error: Could not write to BIG file.\n");
            return false;
        }
    } else {
        const int copied = copy_file_data(handle, target, file.size, buffer, REWRITE_CHUNK);
        file_close(handle);
        if (!copied) {
            return false;
        }
    }
    std::printf("Done\n");
    return true;
}

// The new index, gathered in a piece at a time and written between the
// data's writes, the data's place taken up again after each. It must end
// where the plan said: the data starts there.
struct IndexPieces {
    FileHandle target = INVALID_FILE;
    std::unique_ptr<std::uint8_t[]> piece;
    std::uint32_t held = 0;
    std::uint64_t at = HEADER_SIZE;  // where the piece goes in the new file
    std::uint64_t end = 0;           // where the planned index ends
};

bool write_piece(IndexPieces& index) {
    std::uint64_t resume = 0;
    if (index.held == 0) {
        return true;
    }
    if (!file_position(index.target, &resume)) {
        std::printf("Error: Could not set file pointer.\n");
        return false;
    }
    if (!seek_archive_to(index.target, static_cast<std::uint32_t>(index.at))) {
        return false;
    }
    if (!file_write(index.target, index.piece.get(), index.held)) {
        std::printf("Error: Could not write end entry.\n");
        return false;
    }
    index.at += index.held;
    index.held = 0;
    return seek_archive_to(index.target, static_cast<std::uint32_t>(resume));
}

bool add_index_bytes(IndexPieces& index, const void* bytes, std::size_t count) {
    if (index.at + index.held + count > index.end) {
        return fail_changed();
    }
    const auto* from = static_cast<const std::uint8_t*>(bytes);
    while (count > 0) {
        std::size_t room = INDEX_PIECE - index.held;
        std::size_t take = count < room ? count : room;
        std::memcpy(index.piece.get() + index.held, from, take);
        index.held += static_cast<std::uint32_t>(take);
        from += take;
        count -= take;
        if (index.held == INDEX_PIECE && !write_piece(index)) {
            return false;
        }
    }
    return true;
}

bool add_index_fields(IndexPieces& index, std::uint64_t offset, std::uint32_t size) {
    std::uint8_t fields[ENTRY_NAME_AT];
    store_entry_fields(fields, static_cast<std::uint32_t>(offset), size);
    return add_index_bytes(index, fields, sizeof fields);
}

// The entry `entry` of the open archive, its whole name as stored: a name
// longer than the index window holds comes in pieces, which end the
// entry's view.
bool add_kept_name(IndexPieces& index, const BigEntry& entry) {
    const std::uint32_t length = entry.nameLength;
    if (!add_index_bytes(index, entry.name.data(), entry.name.size())) {
        return false;
    }
    for (std::uint32_t offset = static_cast<std::uint32_t>(entry.name.size()); offset < length;) {
        std::optional<std::string_view> piece = entry_name_piece(offset);
        if (!piece) {
            return false;
        }
        if (piece->empty()) {
            return fail_changed();
        }
        if (!add_index_bytes(index, piece->data(), piece->size())) {
            return false;
        }
        offset += static_cast<std::uint32_t>(piece->size());
    }
    return add_index_bytes(index, "", 1);
}

// Where the open archive's data that follows on is gathered, to be copied
// in one go.
struct KeptRun {
    std::uint32_t from = 0;
    std::uint64_t size = 0;
};

// The data, entry by entry from `start` on, and the index beside it, each
// entry's offset the place its data goes. Kept data that follows on in the
// old archive goes in one copy. Then the end record, and the header last:
// a run that stops before leaves zeros where the magic goes.
bool write_archive(FileHandle target, std::uint32_t start) {
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[REWRITE_CHUNK]);
    IndexPieces index{target, std::unique_ptr<std::uint8_t[]>(new (std::nothrow) std::uint8_t[INDEX_PIECE])};
    if (!buffer || !index.piece) {
        std::printf("Error: Failed to allocate enough memory.\n");
        return false;
    }
    index.end = HEADER_SIZE + plan.indexBytes;
    if (!seek_archive_to(target, start)) {
        return false;
    }
    std::uint64_t position = start;
    std::uint32_t written = 0;
    KeptRun run;
    WorkPool one(1);
    ReadAhead ahead(walk_helpers() != nullptr ? *walk_helpers() : one, small_files());
    for (std::uint32_t n = 0; n < plan.fates.size(); ++n) {
        const std::uint32_t fate = plan.fates[n];
        if (fate == REMOVED) {
            continue;
        }
        // Not walked_entry, which ends the run: the new file must go first.
        const std::optional<BigEntry> entry = find_entry(n);
        if (!entry) {
            return entry_lookup_failed() ? false : fail_changed();
        }
        const std::uint32_t offset = entry_data_offset(*entry);
        const std::uint32_t size = fate == KEPT ? entry_data_size(*entry) : plan.files[fate].size;
        if (!add_index_fields(index, position, size) || !add_kept_name(index, *entry)) {
            return false;
        }
        position += size;
        if (fate == KEPT && run.size > 0 && run.from + run.size == offset) {
            run.size += size;
        } else if (!copy_kept(target, run.from, run.size, buffer.get())) {
            return false;
        } else if (fate == KEPT) {
            run = {offset, size};
        } else {
            run.size = 0;
            if (!copy_file_in(target, written, fate, buffer.get(), ahead)) {
                return false;
            }
        }
        ++written;
    }
    if (!copy_kept(target, run.from, run.size, buffer.get())) {
        return false;
    }
    for (std::uint32_t f = 0; f < plan.files.size(); ++f) {
        const PlannedFile& file = plan.files[f];
        if (file.name.empty()) {
            continue;
        }
        if (!add_index_fields(index, position, file.size) ||
            !add_index_bytes(index, file.name.data(), file.name.size()) || !add_index_bytes(index, "", 1) ||
            !copy_file_in(target, written, f, buffer.get(), ahead)) {
            return false;
        }
        position += file.size;
        ++written;
    }
    std::uint8_t end_record[END_RECORD_SIZE];
    store_end_record(end_record);
    index.end += END_RECORD_SIZE;
    if (!add_index_bytes(index, end_record, END_RECORD_SIZE) || !write_piece(index)) {
        return false;
    }
    std::uint64_t archive_size = 0;
    if (!file_position(target, &archive_size) || !fits_archive(archive_size)) {
        std::printf("Error: Could not set file pointer.\n");
        return false;
    }
    // The open archive was walked twice; another program may have changed it.
    if (index.at != index.end || written != plan.entries || archive_size != position) {
        return fail_changed();
    }
    return write_archive_header(target, written, start, static_cast<std::uint32_t>(archive_size)) != 0;
}

}  // namespace

void refuse_read_only(const char* archive_path) {
    if (is_read_only(archive_path)) {
        std::string shown;
        std::printf("Error: '%s' is read-only. It is unchanged.\n", printable(archive_path, shown));
        end_run(2);
    }
}

void plan_entry(const BigEntry& entry, const char* path, std::uint32_t size) {
    if (path == nullptr) {
        plan.fates.push_back(KEPT);
        count_entry(entry.nameLength, entry_data_size(entry));
    } else {
        plan.fates.push_back(add_file({}, path, size));
        count_entry(entry.nameLength, size);
    }
}

void plan_removal() {
    plan.fates.push_back(REMOVED);
}

void plan_new_entry(std::string_view name, const std::string& path, std::uint32_t size) {
    add_file(name, path.c_str(), size);
    count_entry(name.size(), size);
}

void replace_archive(const char* archive_path) {
    const std::uint64_t start = plan.indexBytes + HEADER_SIZE + END_RECORD_SIZE;
    if (!fits_archive(start + plan.dataTotal)) {
        std::printf("Error: The archive would reach 4 GiB.\n");
        end_run(2);
    }
    NewFile made;
    make_new_file(archive_path, &made);
    take_permissions(made.handle, made.target.c_str());
    const auto start_offset = static_cast<std::uint32_t>(start);
    if (!write_archive(made.handle, start_offset)) {
        fail(made);
    }
    if (!file_sync(made.handle)) {
        std::printf("Error: Could not write to BIG file.\n");
        fail(made);
    }
    // What was printed must have reached its reader before the archive
    // changes: a run that ends with status 2 leaves the old one.
    if (!output_written()) {
        file_discard(made.handle, made.path.c_str());
        end_output_lost();
    }
    // Held until the new archive has its name: no other run that changes
    // it reads the old one meanwhile.
    FileHandle old = release_archive();
    std::string shown;
    switch (file_replace(made.handle, made.path.c_str(), made.target.c_str(), old)) {
    case ReplaceStatus::replaced: return;
    case ReplaceStatus::in_use:
        std::printf("Error: Could not replace '%s': another program has it open. It is unchanged.\n",
                    printable(archive_path, shown));
        end_run(2);
    case ReplaceStatus::changed:
        std::printf("Error: Could not replace '%s': another program replaced it first.\n",
                    printable(archive_path, shown));
        end_run(2);
    case ReplaceStatus::failed:
        std::printf("Error: Could not replace '%s'. It is unchanged.\n", printable(archive_path, shown));
        end_run(2);
    }
}
