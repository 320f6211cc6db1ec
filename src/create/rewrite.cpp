// See rewrite.h.
#include "create/rewrite.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <vector>

#include "archive/reader.h"
#include "common/end_run.h"
#include "common/held_elsewhere.h"
#include "common/paths.h"
#include "common/printable.h"
#include "create/create.h"
#include "platform/platform.h"

namespace {

// Kept data goes by the system's copy, which needs no buffer; this one
// serves where the system cannot copy, and for the files.
constexpr std::uint32_t REWRITE_CHUNK = 1024 * 1024;

// A leftover of a run that was killed may hold a name this run would try.
constexpr unsigned long NAME_TRIES = 100;

struct PlannedData {
    std::uint32_t at;  // archive: the data's offset; a file: where its path starts in `paths`
    std::uint32_t size;
    DataFrom from;
};

// The new archive as planned: its index (the data offsets filled in as the
// data is written) and where each entry's data comes from.
struct Plan {
    std::unique_ptr<std::uint8_t[]> index;  // INDEX_CAPACITY and the end record
    std::size_t writeAt = 0;
    std::vector<PlannedData> data;
    std::string paths;  // the files' paths, each terminated
    std::uint64_t dataTotal = 0;
};

Plan plan;

// Room in the index for an entry with a name of `length` bytes; if not,
// says so.
bool room_for(std::uint64_t length) {
    if (plan.writeAt + length + ENTRY_FIXED_SIZE < INDEX_CAPACITY) {
        return true;
    }
    std::printf("Error: The new archive's index would not fit in %lu bytes.\n",
                static_cast<unsigned long>(INDEX_CAPACITY));
    return false;
}

std::uint8_t* append_entry(std::uint32_t size, PlannedData data) {
    std::uint8_t* entry = plan.index.get() + plan.writeAt;
    store_be32(entry + ENTRY_DATA_OFFSET_AT, 0xFFFFFFFF);
    store_be32(entry + ENTRY_DATA_SIZE_AT, size);
    plan.data.push_back(data);
    plan.dataTotal += size;
    return entry + ENTRY_NAME_AT;
}

PlannedData file_data(const char* path, std::uint32_t size, DataFrom from) {
    PlannedData data{static_cast<std::uint32_t>(plan.paths.size()), size, from};
    plan.paths.append(path);
    plan.paths.push_back('\0');
    return data;
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

// `target` with `suffix` added; where the system would not take so long a
// name, the end of its name gives way to the suffix, so that the name is no
// longer than the archive's own, which fits. "" when nothing of the name
// would be left.
std::string beside(const std::string& target, const std::string& suffix) {
    std::string longer = target + suffix;
    if (name_fits(longer.c_str())) {
        return longer;
    }
    const LeadBytes& lead = local_lead_bytes();
    std::size_t separator = last_separator(target, local_path_style(), lead);
    std::size_t name_at = separator == std::string::npos ? 0 : separator + 1;
    if (target.size() < name_at + suffix.size()) {
        return "";
    }
    const std::size_t keep = target.size() - suffix.size();
    std::size_t at = name_at;
    while (at < keep && at + character_length(target, at, lead) <= keep) {
        at += character_length(target, at, lead);
    }
    return at == name_at ? "" : target.substr(0, at) + suffix;
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
        made->path = beside(made->target, ".tmp-" + std::to_string(process_number() + i));
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

bool seek_to(FileHandle file, std::uint32_t offset) {
    std::uint32_t position = 0;
    if (!file_seek(file, offset, &position) || position != offset) {
        std::printf("Error: Could not set file pointer.\n");
        return false;
    }
    return true;
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

// Copies the file of entry `n` in, on a line of its own.
bool copy_file_in(FileHandle target, std::uint32_t n, const PlannedData& data, std::uint8_t* buffer) {
    std::string shown;
    const char* path = plan.paths.c_str() + data.at;
    std::printf("%s[%lu] %lukb '%s': ", data.from == DataFrom::adding ? "Adding" : "Replacing",
                static_cast<unsigned long>(n), static_cast<unsigned long>(data.size / 1024),
                printable(path, shown));
    FileHandle file = file_open(path, OpenMode::read_input);
    if (file == INVALID_FILE) {
        std::printf("Error: Could not open '%s'.\n", printable(path, shown));
        say_if_held_elsewhere(path);
        return false;
    }
    const int copied = copy_file_data(file, target, data.size, buffer, REWRITE_CHUNK);
    file_close(file);
    if (!copied) {
        return false;
    }
    std::printf("Done\n");
    return true;
}

// The data, entry by entry from `start` on, each entry's offset stored in
// the index. Kept data that follows on in the old archive goes in one copy.
bool write_data(FileHandle target, std::uint32_t start) {
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[REWRITE_CHUNK]);
    if (!buffer) {
        std::printf("Error: Failed to allocate enough memory.\n");
        return false;
    }
    if (!seek_to(target, start)) {
        return false;
    }
    std::span<const std::uint8_t> index(plan.index.get(), plan.writeAt);
    std::uint64_t position = start;
    std::uint32_t run_from = 0;
    std::uint64_t run_size = 0;
    std::size_t at = 0;
    for (std::size_t n = 0; n < plan.data.size(); ++n) {
        std::optional<BigEntry> entry = entry_at(index, at);
        if (!entry) {
            return false;
        }
        store_be32(plan.index.get() + at + ENTRY_DATA_OFFSET_AT, static_cast<std::uint32_t>(position));
        at = entry_end(index, *entry);
        const PlannedData& data = plan.data[n];
        position += data.size;
        if (data.from == DataFrom::archive && run_size > 0 && run_from + run_size == data.at) {
            run_size += data.size;
            continue;
        }
        if (!copy_kept(target, run_from, run_size, buffer.get())) {
            return false;
        }
        run_size = 0;
        if (data.from == DataFrom::archive) {
            run_from = data.at;
            run_size = data.size;
        } else if (!copy_file_in(target, static_cast<std::uint32_t>(n), data, buffer.get())) {
            return false;
        }
    }
    return copy_kept(target, run_from, run_size, buffer.get());
}

// Index and end record, then the header: a run that stops before the
// header leaves zeros where the magic goes, which no reader accepts.
bool write_index_and_header(FileHandle target, std::uint32_t start) {
    std::uint64_t archive_size = 0;
    if (!file_position(target, &archive_size) || !fits_archive(archive_size)) {
        std::printf("Error: Could not set file pointer.\n");
        return false;
    }
    std::uint8_t* end_record = plan.index.get() + plan.writeAt;
    std::memcpy(end_record, END_TAG.data(), END_TAG.size());
    std::memset(end_record + END_TAG.size(), 0, END_RECORD_SIZE - END_TAG.size());
    if (!seek_to(target, HEADER_SIZE)) {
        return false;
    }
    if (!file_write(target, plan.index.get(), static_cast<std::uint32_t>(plan.writeAt + END_RECORD_SIZE))) {
        std::printf("Error: Could not write end entry.\n");
        return false;
    }
    std::array<std::uint8_t, HEADER_SIZE> header{};
    std::memcpy(header.data() + HEADER_MAGIC_AT, BIG_MAGIC.data(), BIG_MAGIC.size());
    store_le32(header.data() + HEADER_ARCHIVE_SIZE_AT, static_cast<std::uint32_t>(archive_size));
    store_be32(header.data() + HEADER_FILE_COUNT_AT, static_cast<std::uint32_t>(plan.data.size()));
    store_be32(header.data() + HEADER_START_OFFSET_AT, start);
    if (!seek_to(target, 0)) {
        return false;
    }
    if (!file_write(target, header.data(), HEADER_SIZE)) {
        std::printf("Error: Could not write BIG header.\n");
        return false;
    }
    return true;
}

}  // namespace

void refuse_read_only(const char* archive_path) {
    if (is_read_only(archive_path)) {
        std::string shown;
        std::printf("Error: '%s' is read-only. It is unchanged.\n", printable(archive_path, shown));
        end_run(2);
    }
}

int plan_start() {
    plan.index.reset(new (std::nothrow) std::uint8_t[INDEX_CAPACITY + END_RECORD_SIZE]);
    if (!plan.index) {
        std::printf("Error: Could not allocate %lu bytes memory.\n", static_cast<unsigned long>(INDEX_CAPACITY));
        return 0;
    }
    plan.writeAt = 0;
    return 1;
}

int plan_entry(const BigEntry& entry, const char* path, std::uint32_t size) {
    const std::uint32_t length = entry.nameLength;
    if (!room_for(length)) {
        return 0;
    }
    PlannedData data = path == nullptr
                           ? PlannedData{entry_data_offset(entry), entry_data_size(entry), DataFrom::archive}
                           : file_data(path, size, DataFrom::replacing);
    std::uint8_t* name = append_entry(data.size, data);
    std::memcpy(name, entry.name.data(), entry.name.size());
    // A name longer than the index window holds comes in pieces, which end
    // the entry's view: everything needed of it is taken by now.
    for (std::uint32_t offset = static_cast<std::uint32_t>(entry.name.size()); offset < length;) {
        std::optional<std::string_view> piece = entry_name_piece(offset);
        if (!piece || piece->empty()) {
            return 0;
        }
        std::memcpy(name + offset, piece->data(), piece->size());
        offset += static_cast<std::uint32_t>(piece->size());
    }
    name[length] = '\0';
    plan.writeAt += length + ENTRY_FIXED_SIZE;
    return 1;
}

int plan_new_entry(std::string_view name, const std::string& path, std::uint32_t size) {
    if (!room_for(name.size())) {
        return 0;
    }
    std::uint8_t* stored = append_entry(size, file_data(path.c_str(), size, DataFrom::adding));
    std::memcpy(stored, name.data(), name.size());
    stored[name.size()] = '\0';
    plan.writeAt += name.size() + ENTRY_FIXED_SIZE;
    return 1;
}

void replace_archive(const char* archive_path) {
    const std::uint64_t start = plan.writeAt + HEADER_SIZE + END_RECORD_SIZE;
    if (!fits_archive(start + plan.dataTotal)) {
        std::printf("Error: The archive would reach 4 GiB.\n");
        end_run(2);
    }
    NewFile made;
    make_new_file(archive_path, &made);
    take_permissions(made.handle, made.target.c_str());
    const auto start_offset = static_cast<std::uint32_t>(start);
    if (!write_data(made.handle, start_offset) || !write_index_and_header(made.handle, start_offset)) {
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
