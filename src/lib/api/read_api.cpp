// The public API's reading half: opening an archive and answering from its
// table. No exception leaves these functions.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "lib/api/handle.h"
#include "lib/patterns/pattern_set.h"

namespace {

constexpr int STATUS_OF[] = {
    BT_OK,           BT_ERR_OPEN,    BT_ERR_READ,      BT_ERR_NOT_ARCHIVE, BT_ERR_DAMAGED,
    BT_ERR_DAMAGED,  BT_ERR_DAMAGED, BT_ERR_NO_MEMORY, BT_ERR_DAMAGED,
};
static_assert(sizeof STATUS_OF / sizeof STATUS_OF[0] == static_cast<int>(OpenFault::count_mismatch) + 1);

// Takes `archive` (the file or reader set) to an open handle in *out, or
// releases it.
int finish_open(bt_archive** out, bt_archive* archive, std::uint64_t size) {
    OpenFault fault = table_open(archive->table, {archive_source(archive).read, archive, size});
    if (fault != OpenFault::none) {
        bt_close(archive);
        return fail(nullptr, STATUS_OF[static_cast<int>(fault)], open_fault_text(fault));
    }
    *out = archive;
    return BT_OK;
}


bool entry_known(const bt_archive* archive, std::uint32_t index, const char* call) {
    if (index < archive->table.entries.size()) {
        return true;
    }
    fail(archive, BT_ERR_ARGUMENT,
         std::string(call) + ": there is no entry " + std::to_string(index) + "; the archive has " +
             std::to_string(archive->table.entries.size()) + ".");
    return false;
}

int select_entries(const bt_archive* archive, const char* const* patterns, std::size_t count,
                   std::uint32_t* indices, std::size_t capacity, std::size_t* found) {
    ArchiveTable& table = archive->table;
    std::vector<bool> selected(table.entries.size());
    std::vector<bool> matched(count);
    std::vector<std::string> wildcards;
    std::vector<std::size_t> wildcard_of;  // its place among `patterns`
    for (std::size_t p = 0; p < count; ++p) {
        if (patterns[p] == nullptr) {
            return fail(archive, BT_ERR_ARGUMENT, "bt_select: pattern " + std::to_string(p) + " is NULL.");
        }
        if (has_wildcard(patterns[p])) {
            wildcards.emplace_back(patterns[p]);
            wildcard_of.push_back(p);
        } else {
            matched[p] = table_mark_named(table, patterns[p], selected);
        }
    }
    if (!wildcards.empty()) {
        PatternSet set;
        pattern_set_build(set, std::move(wildcards));
        for (std::uint32_t k = 0; k < table.entries.size(); ++k) {
            pattern_set_match(set, table_name(table, k), [&](std::uint32_t w) {
                selected[k] = true;
                matched[wildcard_of[w]] = true;
            });
        }
    }
    for (std::size_t p = 0; p < count; ++p) {
        if (!matched[p]) {
            return fail(archive, BT_ERR_NOT_FOUND, "No entry matches '" + quoted(patterns[p]) + "'.");
        }
    }
    std::size_t total = 0;
    for (std::uint32_t k = 0; k < table.entries.size(); ++k) {
        if (selected[k]) {
            if (indices != nullptr && total < capacity) {
                indices[total] = k;
            }
            ++total;
        }
    }
    *found = total;
    if (indices != nullptr && total > capacity) {
        return fail(archive, BT_ERR_BUFFER_TOO_SMALL,
                    "bt_select: " + std::to_string(total) + " entries match; the buffer holds " +
                        std::to_string(capacity) + ".");
    }
    return BT_OK;
}

}  // namespace

int open_archive_file(bt_archive** out, FileHandle file, std::uint64_t size) {
    if (file == INVALID_FILE) {
        return fail(nullptr, BT_ERR_OPEN, open_fault_text(OpenFault::cannot_open));
    }
    auto* archive = new (std::nothrow) bt_archive;
    if (archive == nullptr) {
        file_close_shared(file);
        return fail(nullptr, BT_ERR_NO_MEMORY, open_fault_text(OpenFault::no_memory));
    }
    archive->file = file;
    return finish_open(out, archive, size);
}

int read_archive(const bt_archive* archive, std::uint64_t offset, void* buffer, std::uint32_t count,
                 std::uint32_t* got) {
    if (archive->file != INVALID_FILE) {
        return file_read_at(archive->file, offset, buffer, count, got);
    }
    std::size_t moved = 0;
    if (archive->read(archive->context, offset, buffer, count, &moved) != 0 || moved > count) {
        return 0;
    }
    *got = static_cast<std::uint32_t>(moved);
    return 1;
}

extern "C" {

int bt_open(bt_archive** out, const char* path) {
    if (out == nullptr || path == nullptr) {
        return fail(nullptr, BT_ERR_ARGUMENT, "bt_open: the handle's place or the path is NULL.");
    }
    *out = nullptr;
    std::uint64_t size = 0;
    FileHandle file = file_open_shared(path, &size);
    return open_archive_file(out, file, size);
}

int bt_open_wide(bt_archive** out, const wchar_t* path) {
    if (out == nullptr || path == nullptr) {
        return fail(nullptr, BT_ERR_ARGUMENT, "bt_open_wide: the handle's place or the path is NULL.");
    }
    *out = nullptr;
    if (!wide_paths()) {
        return fail(nullptr, BT_ERR_UNSUPPORTED, "bt_open_wide: wide-character paths are Windows' alone.");
    }
    std::uint64_t size = 0;
    FileHandle file = file_open_shared_wide(path, &size);
    return open_archive_file(out, file, size);
}

int bt_open_reader(bt_archive** out, bt_read_fn read, void* context, uint64_t size) {
    if (out == nullptr || read == nullptr) {
        return fail(nullptr, BT_ERR_ARGUMENT, "bt_open_reader: the handle's place or the read function is NULL.");
    }
    *out = nullptr;
    auto* archive = new (std::nothrow) bt_archive;
    if (archive == nullptr) {
        return fail(nullptr, BT_ERR_NO_MEMORY, open_fault_text(OpenFault::no_memory));
    }
    archive->read = read;
    archive->context = context;
    return finish_open(out, archive, size);
}

void bt_close(bt_archive* archive) {
    if (archive == nullptr || archive->magic != ARCHIVE_MAGIC) {
        return;
    }
    archive->magic = 0;
    if (archive->file != INVALID_FILE) {
        file_close_shared(archive->file);
    }
    delete archive;
}

int bt_header(const bt_archive* archive, uint32_t* archive_size, uint32_t* entry_count,
              uint32_t* start_offset) {
    if (!usable(archive, "bt_header")) {
        return BT_ERR_ARGUMENT;
    }
    const BigHeader& header = archive->table.header;
    if (archive_size != nullptr) {
        *archive_size = header.archiveSize;
    }
    if (entry_count != nullptr) {
        *entry_count = static_cast<std::uint32_t>(header.fileCount);
    }
    if (start_offset != nullptr) {
        *start_offset = header.startOffset;
    }
    return BT_OK;
}

uint32_t bt_entry_count(const bt_archive* archive) {
    if (!usable(archive, "bt_entry_count")) {
        return 0;
    }
    return static_cast<std::uint32_t>(archive->table.entries.size());
}

int bt_entry(const bt_archive* archive, uint32_t index, const char** name, size_t* name_length,
             uint32_t* size, uint32_t* offset) {
    if (!usable(archive, "bt_entry")) {
        return BT_ERR_ARGUMENT;
    }
    if (!entry_known(archive, index, "bt_entry")) {
        return BT_ERR_ARGUMENT;
    }
    const ArchiveTable& table = archive->table;
    std::string_view stored = table_name(table, index);
    if (name != nullptr) {
        *name = stored.data();
    }
    if (name_length != nullptr) {
        *name_length = stored.size();
    }
    if (size != nullptr) {
        *size = table_data_size(table, index);
    }
    if (offset != nullptr) {
        *offset = table_data_offset(table, index);
    }
    return BT_OK;
}

int bt_entries(const bt_archive* archive, uint32_t first, uint32_t count, char* names,
               size_t names_size, size_t* names_used, uint32_t* sizes, uint32_t* offsets,
               uint32_t* filled) {
    if (!usable(archive, "bt_entries")) {
        return BT_ERR_ARGUMENT;
    }
    if ((names == nullptr && names_size > 0) || names_used == nullptr || filled == nullptr) {
        return fail(archive, BT_ERR_ARGUMENT, "bt_entries: the names' buffer or a count's place is NULL.");
    }
    const ArchiveTable& table = archive->table;
    const auto entries = static_cast<std::uint32_t>(table.entries.size());
    if (first > entries || count > entries - first) {
        return fail(archive, BT_ERR_ARGUMENT,
                    "bt_entries: " + std::to_string(count) + " entries from entry " + std::to_string(first) +
                        " run past the archive's " + std::to_string(entries) + ".");
    }
    std::size_t used = 0;
    std::uint32_t done = 0;
    for (; done < count; ++done) {
        const std::uint32_t index = first + done;
        const std::string_view stored = table_name(table, index);
        if (stored.size() >= names_size - used) {
            break;
        }
        // The index holds each name with its zero byte.
        std::memcpy(names + used, stored.data(), stored.size() + 1);
        used += stored.size() + 1;
        if (sizes != nullptr) {
            sizes[done] = table_data_size(table, index);
        }
        if (offsets != nullptr) {
            offsets[done] = table_data_offset(table, index);
        }
    }
    *names_used = used;
    *filled = done;
    if (done == 0 && count > 0) {
        return fail(archive, BT_ERR_BUFFER_TOO_SMALL,
                    "bt_entries: the name of entry " + std::to_string(first) + " does not fit in " +
                        std::to_string(names_size) + " bytes.");
    }
    return BT_OK;
}

int bt_lookup(const bt_archive* archive, const char* name, size_t length, uint32_t* index) {
    if (!usable(archive, "bt_lookup")) {
        return BT_ERR_ARGUMENT;
    }
    if ((name == nullptr && length > 0) || index == nullptr) {
        return fail(archive, BT_ERR_ARGUMENT, "bt_lookup: the name or the index's place is NULL.");
    }
    std::string_view wanted(name == nullptr ? "" : name, length);
    std::optional<std::uint32_t> found;
    try {
        found = table_lookup(archive->table, wanted);
    } catch (const std::bad_alloc&) {
        return fail(archive, BT_ERR_NO_MEMORY, open_fault_text(OpenFault::no_memory));
    }
    if (!found) {
        return fail(archive, BT_ERR_NOT_FOUND, "No entry matches '" + quoted(wanted) + "'.");
    }
    *index = *found;
    return BT_OK;
}

int bt_select(const bt_archive* archive, const char* const* patterns, size_t count, uint32_t* indices,
              size_t capacity, size_t* found) {
    if (!usable(archive, "bt_select")) {
        return BT_ERR_ARGUMENT;
    }
    if (patterns == nullptr || count == 0 || found == nullptr) {
        return fail(archive, BT_ERR_ARGUMENT, "bt_select: no patterns, or no place for the count.");
    }
    try {
        return select_entries(archive, patterns, count, indices, capacity, found);
    } catch (const std::bad_alloc&) {
        return fail(archive, BT_ERR_NO_MEMORY, open_fault_text(OpenFault::no_memory));
    }
}

int bt_read(const bt_archive* archive, uint32_t index, uint64_t offset, void* buffer, size_t count,
            size_t* got) {
    if (!usable(archive, "bt_read")) {
        return BT_ERR_ARGUMENT;
    }
    if ((buffer == nullptr && count > 0) || got == nullptr) {
        return fail(archive, BT_ERR_ARGUMENT, "bt_read: the buffer or the count's place is NULL.");
    }
    if (!entry_known(archive, index, "bt_read")) {
        return BT_ERR_ARGUMENT;
    }
    *got = 0;
    const ArchiveTable& table = archive->table;
    std::uint64_t size = table_data_size(table, index);
    if (offset >= size) {
        return BT_OK;
    }
    std::uint64_t want = size - offset < count ? size - offset : count;
    std::uint64_t at = table_data_offset(table, index) + offset;
    auto* bytes = static_cast<unsigned char*>(buffer);
    // In steps that a 32-bit count holds.
    for (std::uint64_t done = 0; done < want;) {
        std::uint64_t step = want - done < (1u << 30) ? want - done : (1u << 30);
        std::uint32_t moved = 0;
        if (!read_archive(archive, at + done, bytes + done, static_cast<std::uint32_t>(step), &moved) ||
            moved != step) {
            *got = static_cast<size_t>(done + moved);
            return fail(archive, BT_ERR_READ, "Could not read from BIG file.");
        }
        done += moved;
    }
    *got = static_cast<size_t>(want);
    return BT_OK;
}

}  // extern "C"
