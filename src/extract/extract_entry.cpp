// The command line's extraction of one entry, in two halves that the
// commands which extract share: the check of the entry, and the writing of
// its file, which entry_writer does over this process's platform calls,
// its messages printed here.
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
#include "extract/entry_writer.h"
#include "extract/extract.h"
#include "platform/platform.h"

namespace {

// A name longer than the window holds more than a refusal quotes of it.
static_assert(INDEX_WINDOW - ENTRY_NAME_AT > PATH_CAPACITY);

// The run of this process: one per command.
ExtractionRun extraction;

ExtractionRun& run() {
    extraction.style = local_path_style();
    extraction.lead = &local_lead_bytes();
    return extraction;
}

// The entry being written, as copy() needs it.
const BigEntry* writing = nullptr;

// The platform's calls, counted by the test seam, the archive refused as
// a file this process holds; the "Extracting" line printed as a target
// is begun.
class CommandFiles final : public EntryFiles {
public:
    PathKind kind(const char* path) override { return path_kind(path); }
    MakeDirStatus make_directory(const char* path) override { return ::make_directory(path); }
    FileHandle open(const char* path, FileIdentity* identity) override { return file_open_target(path, identity); }
    int empty(FileHandle file) override { return file_empty(file); }
    WriteFault copy(std::uint32_t, FileHandle file, void* buffer, std::uint32_t size) override {
        switch (copy_entry_data(*writing, file, buffer, size)) {
        case DataCopy::copied: return WriteFault::none;
        case DataCopy::seek_failed: return WriteFault::seek_failed;
        case DataCopy::read_failed: return WriteFault::read_failed;
        case DataCopy::write_failed: return WriteFault::write_failed;
        }
        return WriteFault::read_failed;
    }
    int flush(FileHandle file) override { return file_flush(file); }
    void close(FileHandle file) override { file_close(file); }
    void starting(std::uint32_t n, const char* target) override;
};
CommandFiles files;

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

// Names both entries of a file that two would go into.
void refuse_other_entrys_file(std::uint32_t n, std::string_view shown, std::uint32_t writer) {
    // The run ends here: the reader may walk back for the other's name.
    const std::string second(shown);
    std::optional<BigEntry> first = find_entry(writer);
    std::string storage;
    std::string_view first_shown = first ? quoted_name(first->name, storage) : std::string_view("?");
    std::printf("Error: Entry %lu '%s' names the file already extracted for entry %lu '%.*s'; "
                "it keeps entry %lu's data.\n",
                static_cast<unsigned long>(n), second.c_str(), static_cast<unsigned long>(writer),
                static_cast<int>(first_shown.size()), first_shown.data(), static_cast<unsigned long>(writer));
}

// Prints why the entry was not written; 0.
int refuse(WriteFault fault, std::uint32_t n, const BigEntry& entry) {
    Quoted quoted;
    quote(entry.name, &quoted);
    std::string target_storage;
    const char* target = extraction.target;
    switch (fault) {
    case WriteFault::none: return 1;
    case WriteFault::too_long: refuse_too_long(entry); break;
    case WriteFault::link:
        std::printf("Error: Refusing to extract '%.*s': '%s' is a link.\n", quoted.length(),
                    quoted.text.data(), printable(target, target_storage));
        break;
    case WriteFault::create_failed:
        std::printf("Error: Failed to create.\nPlease, remove the file if it exists.\n");
        say_if_held_elsewhere(target);
        name_what_is_in_the_way(target);
        break;
    case WriteFault::other_entrys_file: refuse_other_entrys_file(n, quoted.text, extraction.otherEntry); break;
    case WriteFault::no_memory: std::printf("Error: Failed to allocate enough memory.\n"); break;
    case WriteFault::seek_failed: std::printf("Error: Could not set file pointer.\n"); break;
    // Ending early means the entry runs past the archive's end.
    case WriteFault::read_failed: std::printf("Error: Could not read from BIG file.\n"); break;
    case WriteFault::write_failed: std::printf("Error: Could not write to file.\n"); break;
    }
    return 0;
}

void CommandFiles::starting(std::uint32_t n, const char* target) {
    Quoted quoted;
    quote(writing->name, &quoted);
    std::string target_storage;
    std::printf("Extracting[%lu] %lu bytes from '%.*s' to '%s': ", static_cast<unsigned long>(n),
                static_cast<unsigned long>(entry_data_size(*writing)), quoted.length(), quoted.text.data(),
                printable(target, target_storage));
}

}  // namespace

int make_path(const char* path) {
    return make_path(files, path, local_path_style(), local_lead_bytes());
}

int copy_buffer_ready() {
    if (!copy_buffer_ready(run())) {
        std::printf("Error: Failed to allocate enough memory.\n");
        return 0;
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
    switch (check_entry_name(name, entry_name_is_whole(*entry), local_path_style(), local_lead_bytes(),
                             name_in_code_page(name))) {
    case NameCheck::safe: break;
    case NameCheck::unsafe: {
        Quoted quoted;
        quote(name, &quoted);
        std::printf("Error: Refusing to extract '%.*s': unsafe file name.\n", quoted.length(),
                    quoted.text.data());
        return std::nullopt;
    }
    case NameCheck::too_long: return refuse_too_long(*entry);
    }
    return entry;
}

int target_fits(const BigEntry& entry, const char* directory) {
    if (!target_fits(run(), entry.name, directory)) {
        refuse_too_long(entry);
        return 0;
    }
    return 1;
}

int write_entry(std::uint32_t n, const BigEntry& entry, const char* directory) {
    writing = &entry;
    WriteFault fault = write_entry_file(run(), files, n, entry.name, directory);
    writing = nullptr;
    if (fault != WriteFault::none) {
        return refuse(fault, n, entry);
    }
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
