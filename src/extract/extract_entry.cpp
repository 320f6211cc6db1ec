// Extraction of one entry.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "archive/reader.h"
#include "common/entry_name.h"
#include "common/paths.h"
#include "common/printable.h"
#include "extract/extract.h"
#include "platform/platform.h"

namespace {

// A name longer than the window holds more than a refusal quotes of it.
static_assert(INDEX_WINDOW - ENTRY_NAME_AT > PATH_CAPACITY);

// What extraction keeps from one entry to the next: one copy buffer for
// every entry of the run; the output directory, resolved once; the folder
// of the previous target, which the next one need not look at or make
// again.
struct Extraction {
    std::unique_ptr<std::uint8_t[]> copyBuffer;
    char resolvedFor[PATH_CAPACITY];
    char resolved[PATH_CAPACITY];
    char lastChecked[PATH_CAPACITY];
    char lastMade[PATH_CAPACITY];
};
Extraction extraction;

// The first folder of `target` below the output directory (its first
// `base` bytes) that is a link, as the length of its path in `target`; 0
// when none is. A link there would take the entry outside; the output
// directory itself is the user's, link or not. Only the folders that the
// previous target's folder did not share are looked at, and none below one
// found missing, which is made afresh: EXTRACT * looks at each folder once.
std::size_t link_below_output(const char* target, std::size_t base) {
    const PathStyle style = local_path_style();
    std::string_view folder(target);
    folder = folder.substr(0, last_separator(folder, style));
    if (folder == extraction.lastChecked) {
        return 0;
    }
    std::size_t end = std::max(base, shared_components(folder, extraction.lastChecked, style));
    char path[PATH_CAPACITY];
    while ((end = next_component_end(folder, end, style)) != std::string_view::npos) {
        std::memcpy(path, target, end);
        path[end] = '\0';
        PathKind kind = path_kind(path);
        if (kind == PathKind::link) {
            return end;
        }
        if (kind != PathKind::directory) {
            break;  // missing and made below, or a file that the target's creation fails on
        }
    }
    std::memcpy(extraction.lastChecked, folder.data(), folder.size());
    extraction.lastChecked[folder.size()] = '\0';
    return 0;
}

void make_target_directory(const char* target) {
    char directory[PATH_CAPACITY];
    std::strcpy(directory, target);
    std::size_t cut = last_separator(directory, local_path_style());
    if (cut == std::string_view::npos) {
        return;
    }
    directory[cut] = '\0';
    if (std::strcmp(directory, extraction.lastMade) == 0) {
        return;
    }
    make_path(directory);
    std::strcpy(extraction.lastMade, directory);
}

// Copies `size` bytes from the archive's position to `target`.
int copy_data(FileHandle target, std::uint32_t size) {
    std::uint64_t copied = 0;
    switch (file_copy(archive_handle(), target, size, extraction.copyBuffer.get(), COPY_CHUNK,
                      &copied)) {
    case CopyStatus::copied: return 1;
    // Ending early means the entry runs past the archive's end.
    case CopyStatus::source_ended:
    case CopyStatus::read_failed: std::printf("Error: Could not read from BIG file.\n"); return 0;
    case CopyStatus::write_failed: std::printf("Error: Could not write to file.\n"); return 0;
    }
    return 0;
}

}  // namespace

const char* output_directory(const char* outdir, ResolveStatus* status) {
    ResolveStatus ignored;
    status = status != nullptr ? status : &ignored;
    *status = ResolveStatus::resolved;
    if (extraction.resolved[0] != '\0' && std::strcmp(extraction.resolvedFor, outdir) == 0) {
        return extraction.resolved;
    }
    extraction.resolved[0] = '\0';
    *status = std::strlen(outdir) >= PATH_CAPACITY
                  ? ResolveStatus::too_long
                  : resolve_path(outdir, extraction.resolved, sizeof extraction.resolved);
    if (*status != ResolveStatus::resolved) {
        extraction.resolved[0] = '\0';
        return nullptr;
    }
    std::strcpy(extraction.resolvedFor, outdir);
    return extraction.resolved;
}

std::optional<BigEntry> extract_entry(std::uint32_t n, const char* outdir) {
    if (!archive_is_open() || outdir == nullptr) {
        return std::nullopt;
    }
    std::optional<BigEntry> entry = find_entry(n);
    if (!entry) {
        // Within fileCount but beyond the index that the file holds.
        BigHeader header;
        if (!entry_lookup_failed() && get_header(&header) &&
            n < static_cast<std::uint32_t>(header.fileCount)) {
            std::printf("Error: Header file count mismatch.\n");
        }
        return std::nullopt;
    }
    std::string_view name = entry->name;
    std::string quoted_storage;
    std::string_view quoted = quoted_name(name, quoted_storage);
    int quoted_length = static_cast<int>(quoted.size());
    // Decided from the name alone, before anything is created for it; a
    // name longer than the index window, from the part the window holds.
    bool whole = entry_name_is_whole(*entry);
    if (whole ? !is_safe_entry_name(name, local_path_style())
              : !is_safe_entry_name_start(name, local_path_style())) {
        std::printf("Error: Refusing to extract '%.*s': unsafe file name.\n", quoted_length,
                    quoted.data());
        return std::nullopt;
    }
    char target[PATH_CAPACITY] = "";
    const char* directory = output_directory(outdir);
    if (!whole || directory == nullptr || !append_text(target, sizeof target, directory) ||
        !append_archive_name(target, sizeof target, name, local_path_style())) {
        std::printf("Error: Path too long to extract '%.*s'.\n", quoted_length, quoted.data());
        return std::nullopt;
    }
    std::string target_storage;
    if (std::size_t link = link_below_output(target, std::strlen(directory))) {
        target[link] = '\0';
        std::printf("Error: Refusing to extract '%.*s': '%s' is a link.\n", quoted_length, quoted.data(),
                    printable(target, target_storage));
        return std::nullopt;
    }
    std::uint32_t size = entry_data_size(*entry);
    std::printf("Extracting[%lu] %lu bytes from '%.*s' to '%s': ", static_cast<unsigned long>(n),
                static_cast<unsigned long>(size), quoted_length, quoted.data(),
                printable(target, target_storage));
    make_target_directory(target);

    FileHandle file = file_open(target, OpenMode::create_always);
    if (file == INVALID_FILE) {
        std::printf("Error: Failed to create.\nPlease, remove the file if it exists.\n");
        return std::nullopt;
    }
    if (!extraction.copyBuffer) {
        extraction.copyBuffer.reset(new (std::nothrow) std::uint8_t[COPY_CHUNK]);
        if (!extraction.copyBuffer) {
            std::printf("Error: Failed to allocate enough memory.\n");
            file_close(file);
            return std::nullopt;
        }
    }
    std::uint32_t offset = entry_data_offset(*entry);
    std::uint32_t position = 0;
    if (!file_seek(archive_handle(), offset, &position) || position != offset) {
        std::printf("Error: Could not set file pointer.\n");
        file_close(file);
        return std::nullopt;
    }
    if (!copy_data(file, size)) {
        return std::nullopt;
    }
    if (!file_flush(file)) {
        std::printf("Error: Could not write to file.\n");
        return std::nullopt;
    }
    file_close(file);
    std::printf("OK\n");
    return entry;
}
