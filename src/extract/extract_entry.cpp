// Extraction of one entry.
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "archive/reader.h"
#include "common/entry_name.h"
#include "common/paths.h"
#include "extract/extract.h"
#include "platform/platform.h"

namespace {

// One copy buffer serves every entry of the run.
std::unique_ptr<std::uint8_t[]> copy_buffer;

// The output directory is resolved once per run, and the directory of the
// previous target is not made again for the next one.
char resolved_for[MAX_PATH];
char resolved[MAX_PATH];
char last_made[MAX_PATH];

int resolve_output(const char* outdir) {
    if (resolved[0] != '\0' && std::strcmp(resolved_for, outdir) == 0) {
        return 1;
    }
    resolved[0] = '\0';
    if (std::strlen(outdir) >= MAX_PATH || !resolve_path(outdir, resolved, sizeof resolved)) {
        resolved[0] = '\0';
        return 0;
    }
    std::strcpy(resolved_for, outdir);
    return 1;
}

void make_target_directory(const char* target) {
    char directory[MAX_PATH];
    std::strcpy(directory, target);
    std::size_t cut = last_separator(directory, local_path_style());
    if (cut == std::string_view::npos) {
        return;
    }
    directory[cut] = '\0';
    if (std::strcmp(directory, last_made) == 0) {
        return;
    }
    make_path(directory);
    std::strcpy(last_made, directory);
}

// Copies `size` bytes from the archive's position to `target`.
int copy_data(FileHandle target, std::uint32_t size) {
    std::uint64_t copied = 0;
    switch (file_copy(archive_handle(), target, size, copy_buffer.get(), COPY_CHUNK, &copied)) {
    case CopyStatus::copied: return 1;
    // Ending early means the entry runs past the archive's end.
    case CopyStatus::source_ended:
    case CopyStatus::read_failed: std::printf("Error: Could not read from BIG file.\n"); return 0;
    case CopyStatus::write_failed: std::printf("Error: Could not write to file.\n"); return 0;
    }
    return 0;
}

}  // namespace

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
    int name_length = static_cast<int>(name.size());
    // Decided from the name alone, before anything is created for it.
    if (!is_safe_entry_name(name, local_path_style())) {
        std::printf("Error: Refusing to extract '%.*s': unsafe file name.\n", name_length,
                    name.data());
        return std::nullopt;
    }
    char target[MAX_PATH] = "";
    if (!resolve_output(outdir) || !append_text(target, sizeof target, resolved) ||
        !append_archive_name(target, sizeof target, name, local_path_style())) {
        std::printf("Error: Path too long to extract '%.*s'.\n", name_length, name.data());
        return std::nullopt;
    }
    std::uint32_t size = entry_data_size(*entry);
    std::printf("Extracting[%lu] %lu bytes from '%.*s' to '%s': ", static_cast<unsigned long>(n),
                static_cast<unsigned long>(size), name_length, name.data(), target);
    make_target_directory(target);

    FileHandle file = file_open(target, OpenMode::create_always);
    if (file == INVALID_FILE) {
        std::printf("Error: Failed to create.\nPlease, remove the file if it exists.\n");
        return std::nullopt;
    }
    if (!copy_buffer) {
        copy_buffer.reset(new (std::nothrow) std::uint8_t[COPY_CHUNK]);
        if (!copy_buffer) {
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
    file_flush(file);
    file_close(file);
    std::printf("OK\n");
    return entry;
}
