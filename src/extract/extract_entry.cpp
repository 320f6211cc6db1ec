// Extraction of one entry, in two halves that the commands which extract
// share: the check of the entry, and the writing of its file.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "archive/reader.h"
#include "common/end_run.h"
#include "common/entry_name.h"
#include "common/held_elsewhere.h"
#include "common/paths.h"
#include "common/printable.h"
#include "common/written_files.h"
#include "extract/extract.h"
#include "platform/platform.h"

namespace {

// A name longer than the window holds more than a refusal quotes of it.
static_assert(INDEX_WINDOW - ENTRY_NAME_AT > PATH_CAPACITY);

// What extraction keeps from one entry to the next: one copy buffer for
// every entry of the run; the folder of the previous target, which the
// next one need not look at or make again; the files written, so that no
// two entries are written into one.
struct Extraction {
    std::unique_ptr<std::uint8_t[]> copyBuffer;
    char lastChecked[PATH_CAPACITY];
    char lastMade[PATH_CAPACITY];
    WrittenFiles written;
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
    const LeadBytes& lead = local_lead_bytes();
    std::string_view folder(target);
    folder = folder.substr(0, last_separator(folder, style, lead));
    if (folder == extraction.lastChecked) {
        return 0;
    }
    std::size_t end = std::max(base, shared_components(folder, extraction.lastChecked, style, lead));
    char path[PATH_CAPACITY];
    while ((end = next_component_end(folder, end, style, lead)) != std::string_view::npos) {
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

// After `target` could not be created: names the first of its folders that
// is there but is no folder (a file, or a link to none), which the fixed
// message, speaking of the file, leaves the user to guess.
void name_what_is_in_the_way(const char* target) {
    const PathStyle style = local_path_style();
    const LeadBytes& lead = local_lead_bytes();
    std::string_view folder(target);
    folder = folder.substr(0, last_separator(folder, style, lead));
    char path[PATH_CAPACITY];
    std::size_t end = 0;
    while ((end = next_component_end(folder, end, style, lead)) != std::string_view::npos) {
        std::memcpy(path, target, end);
        path[end] = '\0';
        if (path_kind(path) != PathKind::missing && !is_directory(path)) {
            std::string shown;
            std::printf("'%s' is in the way: a folder must go there.\n", printable(path, shown));
            return;
        }
    }
}

void make_target_directory(const char* target) {
    char directory[PATH_CAPACITY];
    std::strcpy(directory, target);
    std::size_t cut = last_separator(directory, local_path_style(), local_lead_bytes());
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

// Copies the entry's data to `target`. 1, or 0 after printing why.
int copy_data(const BigEntry& entry, FileHandle target) {
    switch (copy_entry_data(entry, target, extraction.copyBuffer.get(), COPY_CHUNK)) {
    case DataCopy::copied: return 1;
    case DataCopy::seek_failed: std::printf("Error: Could not set file pointer.\n"); return 0;
    // Ending early means the entry runs past the archive's end.
    case DataCopy::read_failed: std::printf("Error: Could not read from BIG file.\n"); return 0;
    case DataCopy::write_failed: std::printf("Error: Could not write to file.\n"); return 0;
    }
    return 0;
}

// 1 when entry n may be written into the file `identity`: no other entry
// was written into it in this run (the same entry may be, again). Else 0
// after naming both: a name that this system takes for another's (letter
// case, a short name) would put the second entry's bytes over the first's.
int may_write_file(std::uint32_t n, std::string_view shown, FileIdentity identity) {
    std::optional<std::uint32_t> writer = written_by(extraction.written, identity);
    if (!writer) {
        if (!remember_written(&extraction.written, identity, n)) {
            std::printf("Error: Failed to allocate enough memory.\n");
            return 0;
        }
        return 1;
    }
    if (*writer == n) {
        return 1;
    }
    // The run ends here: the reader may walk back for the other's name.
    const std::string second(shown);
    std::optional<BigEntry> first = find_entry(*writer);
    std::string storage;
    std::string_view first_shown = first ? quoted_name(first->name, storage) : std::string_view("?");
    std::printf("Error: Entry %lu '%s' names the file already extracted for entry %lu '%.*s'; "
                "it keeps entry %lu's data.\n",
                static_cast<unsigned long>(n), second.c_str(), static_cast<unsigned long>(*writer),
                static_cast<int>(first_shown.size()), first_shown.data(), static_cast<unsigned long>(*writer));
    return 0;
}

// The name as messages quote it.
struct Quoted {
    std::string storage;
    std::string_view text;
    int length() const { return static_cast<int>(text.size()); }
};

void quote(std::string_view name, Quoted* quoted) {
    quoted->text = quoted_name(name, quoted->storage);
}

// Refuses the entry as too long to extract; none.
std::optional<BigEntry> refuse_too_long(const BigEntry& entry) {
    Quoted quoted;
    quote(entry.name, &quoted);
    std::printf("Error: Path too long to extract '%.*s'.\n", quoted.length(), quoted.text.data());
    return std::nullopt;
}

// `directory` (null when it could not be resolved) joined with the entry's
// name in `target`, of PATH_CAPACITY bytes; 0 when it does not fit.
int target_path(const BigEntry& entry, const char* directory, char* target) {
    target[0] = '\0';
    return directory != nullptr && append_text(target, PATH_CAPACITY, directory) &&
           append_archive_name(target, PATH_CAPACITY, entry.name, local_path_style());
}

}  // namespace

int copy_buffer_ready() {
    if (!extraction.copyBuffer) {
        extraction.copyBuffer.reset(new (std::nothrow) std::uint8_t[COPY_CHUNK]);
        if (!extraction.copyBuffer) {
            std::printf("Error: Failed to allocate enough memory.\n");
            return 0;
        }
    }
    return 1;
}

void* copy_buffer() {
    return extraction.copyBuffer.get();
}

const char* resolve_output_directory(const char* outdir, char* resolved) {
    if (!directory_form_accepted(outdir, local_path_style(), local_lead_bytes())) {
        end_run(2);
    }
    ResolveStatus status = std::strlen(outdir) >= PATH_CAPACITY
                               ? ResolveStatus::too_long
                               : resolve_path(outdir, resolved, PATH_CAPACITY);
    switch (status) {
    case ResolveStatus::resolved: return resolved;
    case ResolveStatus::too_long: return nullptr;
    case ResolveStatus::no_current_directory:
        std::printf("Error: Could not get the current directory.\n");
        end_run(2);
    }
    return nullptr;
}

std::optional<BigEntry> entry_to_extract(std::uint32_t n) {
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
    // Decided from the name alone, before anything is created for it; a
    // name longer than the index window, from the part the window holds.
    std::string_view name = entry->name;
    bool whole = entry_name_is_whole(*entry);
    if (whole ? !is_safe_entry_name(name, local_path_style(), local_lead_bytes(), name_in_code_page(name))
              : !is_safe_entry_name_start(name, local_path_style(), local_lead_bytes())) {
        Quoted quoted;
        quote(name, &quoted);
        std::printf("Error: Refusing to extract '%.*s': unsafe file name.\n", quoted.length(),
                    quoted.text.data());
        return std::nullopt;
    }
    if (!whole) {
        return refuse_too_long(*entry);
    }
    return entry;
}

int target_fits(const BigEntry& entry, const char* directory) {
    char target[PATH_CAPACITY];
    if (!target_path(entry, directory, target)) {
        refuse_too_long(entry);
        return 0;
    }
    return 1;
}

int write_entry(std::uint32_t n, const BigEntry& entry, const char* directory) {
    char target[PATH_CAPACITY];
    if (!target_path(entry, directory, target)) {
        refuse_too_long(entry);
        return 0;
    }
    Quoted quoted;
    quote(entry.name, &quoted);
    std::string target_storage;
    if (std::size_t link = link_below_output(target, std::strlen(directory))) {
        target[link] = '\0';
        std::printf("Error: Refusing to extract '%.*s': '%s' is a link.\n", quoted.length(),
                    quoted.text.data(), printable(target, target_storage));
        return 0;
    }
    std::printf("Extracting[%lu] %lu bytes from '%.*s' to '%s': ", static_cast<unsigned long>(n),
                static_cast<unsigned long>(entry_data_size(entry)), quoted.length(), quoted.text.data(),
                printable(target, target_storage));
    make_target_directory(target);

    // The file is emptied only once it is known to be no other entry's.
    FileIdentity identity;
    FileHandle file = file_open_target(target, &identity);
    if (file == INVALID_FILE) {
        std::printf("Error: Failed to create.\nPlease, remove the file if it exists.\n");
        say_if_held_elsewhere(target);
        name_what_is_in_the_way(target);
        return 0;
    }
    if (!may_write_file(n, quoted.text, identity) || !copy_buffer_ready()) {
        file_close(file);
        return 0;
    }
    if (!file_empty(file)) {
        std::printf("Error: Could not write to file.\n");
        file_close(file);
        return 0;
    }
    if (!copy_data(entry, file)) {
        file_close(file);
        return 0;
    }
    if (!file_flush(file)) {
        std::printf("Error: Could not write to file.\n");
        file_close(file);
        return 0;
    }
    file_close(file);
    std::printf("OK\n");
    return 1;
}

std::optional<BigEntry> extract_entry(std::uint32_t n, const char* directory) {
    if (!archive_is_open()) {
        return std::nullopt;
    }
    std::optional<BigEntry> entry = entry_to_extract(n);
    if (!entry || !write_entry(n, *entry, directory)) {
        return std::nullopt;
    }
    return entry;
}
