// The builder: the build state, the two per-file operations of the walk, and
// the assembly of header, index and end record around the data.
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>

#include "cli/create/counted_calls.h"
#include "cli/create/create.h"
#include "cli/create/read_ahead.h"
#include "cli/main/end_run.h"
#include "cli/main/held_elsewhere.h"
#include "cli/text/printable.h"
#include "lib/format/big_format.h"
#include "lib/text/entry_name.h"
#include "lib/text/paths.h"
#include "lib/writer/index_writer.h"
#include "platform/platform.h"

namespace {

// A block of the index that a walk alone has filled.
struct FullBlock {
    std::unique_ptr<std::uint8_t[]> bytes;
    std::size_t used;
};

// The archive being built: CREATE's two passes and the walk share it.
struct BuildState {
    FileHandle handle = INVALID_FILE;
    const char* archivePath = nullptr;
    std::unique_ptr<std::uint8_t[]> index;           // INDEX_CAPACITY + room for the end record
    std::size_t writeAt = 0;                         // end of the entries so far
    // CREATE's index is the one block above; a walk with no archive to make
    // (index_tree) goes on in further blocks of the same size, the full ones
    // kept here, for a folder of any size.
    bool walkOnly = false;
    std::vector<FullBlock> fullBlocks;
    std::uint32_t fileCounter = 0;  // files met in this pass
    std::size_t rootLength = 0;  // a walked path's name starts after the root and a separator
    std::uint64_t dataTotal = 0;  // bytes the index pass's files hold
    std::size_t fillAt = 0;       // the entry the data pass fills next
    std::unique_ptr<std::uint8_t[]> copyBuffer;
    std::uint32_t gathered = 0;  // small files' bytes in copyBuffer, not yet written
    // Small files that the read-ahead's workers wrote into the archive
    // themselves: their bytes past this thread's position, which the next
    // file it writes goes after; those since the last write of what was
    // gathered, which a run without workers would have gathered; and
    // whether every write of theirs taken so far succeeded. This thread
    // takes their writes where a run without workers writes what it
    // gathered, so that both meet the same failures in the same places.
    std::uint64_t skipped = 0;
    std::uint32_t writtenAhead = 0;
    bool aheadWritesDone = true;
    // Two files must not get one name, or extracting the archive would write
    // one over the other: each name (a view into the index), and where the
    // walked path of its file, relative to the input directory, starts in
    // relativePaths, to name that file when a second one comes.
    std::unordered_map<std::string_view, std::size_t> names;
    bool namesKept = false;  // see is_first_with_name
    std::string relativePaths;
    ReadAhead* ahead = nullptr;  // the data pass's small files, read ahead
};

BuildState build;

std::span<const std::uint8_t> entries() {
    return {build.index.get(), build.writeAt};
}

// The archive name of a walked path: relative to the input directory, with
// backslashes, whatever form the input directory was given in.
int name_of(const char* path, char* out) {
    std::size_t length = std::strlen(path);
    if (length < build.rootLength) {
        return 0;
    }
    return archive_name_from_local({path + build.rootLength, length - build.rootLength},
                                   local_path_style(), out, PATH_CAPACITY);
}

int fail_changed() {
    std::printf("Error: The input directory changed while the archive was made.\n");
    return 0;
}

// Small files are gathered in the copy buffer and written many at a time:
// one write per file would cost more than the copy. Larger ones are copied
// by the system, without passing through the buffer.
constexpr std::uint32_t GATHER_LIMIT = 64 * 1024;

// Writes what was gathered. A failure is reported on the line of the file
// being added then, or after the last one; the run removes the archive.
int write_gathered() {
    if (build.writtenAhead > 0) {
        build.writtenAhead = 0;
        if (!file_take_written(build.aheadWritesDone)) {
            std::printf("Error: Could not write to BIG file.\n");
            return 0;
        }
    }
    if (build.gathered == 0) {
        return 1;
    }
    if (!file_write(build.handle, build.copyBuffer.get(), build.gathered)) {
        std::printf("Error: Could not write to BIG file.\n");
        return 0;
    }
    build.gathered = 0;
    return 1;
}

// The file this thread writes next, at `position`, goes after those that
// workers wrote: what was gathered, which comes before them, is written,
// and the position moves past them.
int pass_files_written_ahead(std::uint32_t position) {
    if (build.skipped == 0) {
        return 1;
    }
    if (!write_gathered()) {
        return 0;
    }
    if (!file_move_to(build.handle, position)) {
        std::printf("Error: Could not set file pointer.\n");
        return 0;
    }
    build.skipped = 0;
    return 1;
}

// Reads a small file into the buffer after what was gathered before, or
// takes it as `read` ahead: gathered, or already written by its worker.
int gather_file(FileHandle file, std::uint32_t size, const AheadFile* read, std::uint32_t position) {
    const bool written_ahead = read != nullptr && build.ahead->writes();
    if (build.gathered + build.writtenAhead + size + 1 > COPY_CHUNK && !write_gathered()) {
        return 0;
    }
    // (An empty file has no bytes to place.)
    if (!written_ahead && size > 0 && !pass_files_written_ahead(position)) {
        return 0;
    }
    // One byte more than the entry states: a file that grew shows it.
    std::uint8_t* at = build.copyBuffer.get() + build.gathered;
    std::uint32_t got = 0;
    const bool done = read != nullptr ? file_take_read(read->outcome, &got) : file_read(file, at, size + 1, &got);
    if (!read_as_listed(done, got, size)) {
        return 0;
    }
    if (written_ahead) {
        build.skipped += size;
        build.writtenAhead += size;
    } else {
        if (read != nullptr) {
            std::memcpy(at, build.ahead->bytes_of(*read), size);
        }
        build.gathered += size;
    }
    return 1;
}

// The data pass's files that are read ahead: the small ones of the index
// pass, in its order, by their numbers, with their data's offsets in the
// archive, whose data starts at `data_start`.
ReadAhead::Source files_of_index(const char* input_dir, std::uint64_t data_start) {
    std::string root = std::string(input_dir) + path_separator(local_path_style());
    return [root, at = std::size_t{0}, n = std::uint32_t{0}, path_at = std::size_t{0}, data = data_start](
               std::uint32_t* key, std::string* path, std::uint32_t* size, std::uint64_t* offset) mutable {
        while (std::optional<BigEntry> entry = entry_at(entries(), at)) {
            const char* relative = build.relativePaths.c_str() + path_at;
            *key = n++;
            *size = entry_data_size(*entry);
            *offset = data;
            data += *size;
            at = entry_end(entries(), *entry);
            path_at += std::strlen(relative) + 1;
            if (*size > 0 && *size < GATHER_LIMIT) {
                *path = root + relative;
                return true;
            }
        }
        return false;
    };
}

int copy_file(FileHandle file, std::uint32_t size, std::uint32_t position) {
    return write_gathered() && pass_files_written_ahead(position) &&
           copy_file_data(file, build.handle, size, build.copyBuffer.get(), COPY_CHUNK);
}

// Moves the archive to `offset`: 1, or 0 after saying it could not.
int seek_to(std::uint32_t offset) {
    std::uint32_t position = 0;
    if (!file_seek(build.handle, offset, &position) || position != offset) {
        std::printf("Error: Could not set file pointer.\n");
        return 0;
    }
    return 1;
}

void release_buffers() {
    build.index.reset();
    build.fullBlocks.clear();
    build.copyBuffer.reset();
    build.names.clear();
    build.namesKept = false;
    build.relativePaths.clear();
}

int fail_closing() {
    abandon_archive();
    return 0;
}

// Refuses the file at `path`, saying why; 0.
int refuse_file(const char* path, const char* why) {
    std::string shown;
    std::printf("Error: '%s' cannot be stored: %s.\n", printable(path, shown), why);
    return 0;
}

// Every name so far, with where its file's path starts in relativePaths.
void keep_names_so_far() {
    std::size_t path_at = 0;
    auto take_block = [&](std::span<const std::uint8_t> block) {
        for (std::size_t at = 0; at < block.size();) {
            std::optional<BigEntry> entry = entry_at(block, at);
            if (!entry) {
                break;
            }
            build.names.emplace(entry->name, path_at);
            path_at += std::strlen(build.relativePaths.c_str() + path_at) + 1;
            at = entry_end(block, *entry);
        }
    };
    for (const FullBlock& block : build.fullBlocks) {
        take_block({block.bytes.get(), block.used});
    }
    take_block(entries());
}

// Whether `path` is the first file with `name`; if so, it is remembered as
// that name's, and if not, the refusal is printed. Two paths get one name
// only where a file's or a folder's own name holds a backslash (POSIX): the
// names are kept in the table from the first such path on, those before it
// included, and a tree without one needs no table.
bool is_first_with_name(std::string_view name, const char* path) {
    if (!build.namesKept) {
        if (path_separator(local_path_style()) == '\\' || std::strchr(path + build.rootLength, '\\') == nullptr) {
            build.relativePaths.append(path + build.rootLength);
            build.relativePaths.push_back('\0');
            return true;
        }
        keep_names_so_far();
        build.namesKept = true;
    }
    auto [found, added] = build.names.try_emplace(name, build.relativePaths.size());
    if (!added) {
        std::string first(path, build.rootLength);
        first += build.relativePaths.c_str() + found->second;
        std::string shown_first;
        std::string shown_second;
        std::printf("Error: '%s' cannot be stored: '%s' has the same name in the archive.\n",
                    printable(path, shown_second), printable(first.c_str(), shown_first));
        return false;
    }
    build.relativePaths.append(path + build.rootLength);
    build.relativePaths.push_back('\0');
    return true;
}

// The input directory is there, and the index has its memory. 1, or 0
// after printing why.
int ready_to_walk(const char* input_dir) {
    if (!is_directory(input_dir)) {
        std::printf("Error: Could not open input directory.\n");
        return 0;
    }
    build.fullBlocks.clear();
    build.index.reset(new (std::nothrow) std::uint8_t[INDEX_CAPACITY + END_RECORD_SIZE]);
    if (!build.index) {
        std::printf("Error: Could not allocate %lu bytes memory.\n",
                    static_cast<unsigned long>(INDEX_CAPACITY));
        return 0;
    }
    return 1;
}

// A walk alone goes on in a new block once one is full. 1, or 0 after
// saying that the memory was not there.
int next_block() {
    build.fullBlocks.push_back({std::move(build.index), build.writeAt});
    build.writeAt = 0;
    build.index.reset(new (std::nothrow) std::uint8_t[INDEX_CAPACITY + END_RECORD_SIZE]);
    if (!build.index) {
        std::printf("Error: Failed to allocate enough memory.\n");
        return 0;
    }
    return 1;
}

// The index pass records each file's name and size.
class IndexPass final : public TreeVisitor {
public:
    bool wants_sizes() const override { return true; }
    int file(const char* path, std::uint64_t size) override {
        ++build.fileCounter;
        return add_index_entry(path, size);
    }
    void archive_met(const char* path) override {
        std::string shown;
        std::printf("Skipping '%s': it is the archive itself.\n", printable(path, shown));
    }
};

// The data pass copies each file's bytes: the i-th file it meets is the
// one that got entry i.
class DataPass final : public TreeVisitor {
public:
    bool wants_sizes() const override { return false; }
    int file(const char* path, std::uint64_t) override {
        if (add_file_data(build.fileCounter++, path) != 1) {
            std::printf("Error: Failed adding file!\n");
            abandon_archive();
            end_run(2);
        }
        return 1;
    }
};

// The index pass, from the first file.
int walk_index_pass(const char* input_dir) {
    build.writeAt = 0;
    build.dataTotal = 0;
    build.rootLength = std::strlen(input_dir) + 1;
    build.fileCounter = 0;
    IndexPass pass;
    return walk_tree(input_dir, pass);
}

// The index of the files as the index pass listed them, their data one
// after another from where it starts, the end record, and the header last
// (archive_writer's records): a run that fails while writing them leaves a
// header of zeros, which no reader accepts. 1, or 0 after printing why.
int write_index(std::uint32_t file_count, std::uint64_t archive_size) {
    CountedCalls calls(build.handle, build.archivePath);
    IndexWriter index(calls, build.writeAt);
    if (!index.ready()) {
        std::printf("Error: Failed to allocate enough memory.\n");
        return 0;
    }
    WriteOutcome outcome;
    std::uint32_t k = 0;
    for (std::size_t at = 0; outcome.fault == WriteFault::none && at < build.writeAt; ++k) {
        std::optional<BigEntry> entry = entry_at(entries(), at);
        if (!entry) {
            break;
        }
        outcome = index.add(k, {entry->name, entry_data_size(*entry), nullptr, nullptr, nullptr, 0}, nullptr);
        at = entry_end(entries(), *entry);
    }
    if (outcome.fault == WriteFault::none) {
        outcome = index.end(file_count);
    }
    if (outcome.fault == WriteFault::none) {
        outcome = write_header(calls, file_count, index.data_start(), archive_size);
    }
    if (outcome.fault != WriteFault::none) {
        std::printf("Error: %s\n", outcome.message.c_str());
        return 0;
    }
    return 1;
}

}  // namespace

int copy_file_data(FileHandle file, FileHandle target, std::uint32_t size, void* buffer,
                   std::uint32_t buffer_size) {
    std::uint64_t copied = 0;
    switch (file_copy(file, target, size, buffer, buffer_size, &copied)) {
    case CopyStatus::copied: break;
    case CopyStatus::source_ended:
        std::printf("Error: The file shrank while the archive was made.\n");
        return 0;
    case CopyStatus::read_failed: std::printf("Error: Could not read file.\n"); return 0;
    case CopyStatus::write_failed: std::printf("Error: Could not write to BIG file.\n"); return 0;
    }
    std::uint32_t got = 0;
    // The entry states the size: a file that grew would not match it.
    std::uint8_t probe;
    if (!file_read(file, &probe, 1, &got)) {
        std::printf("Error: Could not read file.\n");
        return 0;
    }
    if (got != 0) {
        std::printf("Error: The file grew while the archive was made.\n");
        return 0;
    }
    return 1;
}

int read_as_listed(bool read, std::uint32_t got, std::uint32_t size) {
    if (!read) {
        std::printf("Error: Could not read file.\n");
        return 0;
    }
    if (got < size) {
        std::printf("Error: The file shrank while the archive was made.\n");
        return 0;
    }
    if (got > size) {
        std::printf("Error: The file grew while the archive was made.\n");
        return 0;
    }
    return 1;
}

void abandon_archive() {
    if (build.handle != INVALID_FILE) {
        file_discard(build.handle, build.archivePath);
        build.handle = INVALID_FILE;
    }
    release_buffers();
}

int add_index_entry(const char* path, std::uint64_t size) {
    if (!build.index || path == nullptr) {
        return 0;
    }
    std::string shown;
    char name[PATH_CAPACITY];
    if (!name_of(path, name)) {
        std::printf("Error: Path too long: '%s'.\n", printable(path, shown));
        return 0;
    }
    // A POSIX file name may hold backslashes, which an archive reads as
    // separators: "..\x" would become an entry that climbs out of its
    // folder, "a\\b" or "a\" one that does not come back as it went in.
    // A trailing separator, which extraction refuses too, is named for what
    // it is below.
    const LeadBytes& lead = local_lead_bytes();
    if (!is_safe_entry_name(without_trailing_separators(name, lead), local_path_style(), lead)) {
        return refuse_file(path, "its name would be unsafe to extract");
    }
    if (has_empty_component(name, lead)) {
        return refuse_file(path, "its name would have an empty part");
    }
    if (!fits_archive(size)) {
        std::printf("Error: '%s' is 4 GiB or larger, too large for a BIG archive.\n",
                    printable(path, shown));
        return 0;
    }
    std::size_t n = std::strlen(name);
    if (build.writeAt + n + ENTRY_FIXED_SIZE >= INDEX_CAPACITY) {
        if (build.walkOnly) {
            if (!next_block()) {
                return 0;
            }
        } else {
            std::printf("\nFatal: Out of memory!\n");
            abandon_archive();
            end_run(2);
        }
    }
    std::uint8_t* entry = build.index.get() + build.writeAt;
    std::memcpy(entry + ENTRY_NAME_AT, name, n + 1);
    if (!is_first_with_name({reinterpret_cast<const char*>(entry + ENTRY_NAME_AT), n}, path)) {
        return 0;
    }
    // The offsets are the index writer's, counted on from the sizes.
    store_entry_fields(entry, 0, static_cast<std::uint32_t>(size));
    build.writeAt += n + ENTRY_FIXED_SIZE;
    build.dataTotal += size;
    return 1;
}

int add_file_data(std::uint32_t index, const char* path) {
    std::string shown;
    if (!build.index) {
        std::printf("Error: Failed to find file entry.\n");
        return 0;
    }
    // The walk must meet the files of the index pass, in the same order.
    std::optional<BigEntry> entry = entry_at(entries(), build.fillAt);
    char name[PATH_CAPACITY];
    if (!entry || !name_of(path, name) || entry->name != name) {
        return fail_changed();
    }
    std::uint32_t size = entry_data_size(*entry);
    // The archive itself, when it lies in its own tree, was empty when the
    // index pass listed it: only an empty file needs the check against the
    // files this run holds. Any other file is opened as listed; a file
    // changed since shows when it is read.
    const AheadFile* read = size > 0 && size < GATHER_LIMIT && build.ahead ? build.ahead->take(index) : nullptr;
    if (read != nullptr) {
        bool written = true;
        if (build.ahead->batch_write_to_take(&written)) {
            build.aheadWritesDone = build.aheadWritesDone && written;
        }
        if (std::strcmp(build.ahead->path_of(*read), path) != 0) {
            read = nullptr;  // read here, and written over what its worker wrote
        }
    }
    FileHandle file = INVALID_FILE;
    if (read == nullptr) {
        file = size == 0 ? file_open(path, OpenMode::read_input) : file_open_listed(path, size);
    }
    if (read != nullptr ? !file_take_open(read->outcome) : file == INVALID_FILE) {
        std::printf("Error: Could not open '%s'.\n", printable(path, shown));
        say_if_held_elsewhere(path);
        return 0;
    }
    std::uint64_t position = 0;
    if (!file_position(build.handle, &position)) {
        std::printf("Error: Could not set file pointer.\n");
        return 0;
    }
    position += build.gathered + build.skipped;
    if (!fits_archive(position + size)) {
        std::printf("Error: The archive would reach 4 GiB.\n");
        return 0;
    }
    if (!build.copyBuffer) {
        build.copyBuffer.reset(new (std::nothrow) std::uint8_t[COPY_CHUNK]);
        if (!build.copyBuffer) {
            std::printf("Error: Failed to allocate enough memory.\n");
            return 0;
        }
    }
    std::printf("Adding[%lu] %lukb '%s': ", static_cast<unsigned long>(index),
                static_cast<unsigned long>(size / 1024), printable(path, shown));
    const auto at = static_cast<std::uint32_t>(position);
    if (!(size < GATHER_LIMIT ? gather_file(file, size, read, at) : copy_file(file, size, at))) {
        return 0;
    }
    std::printf("Done\n");
    if (read == nullptr) {
        file_close(file);
    }
    build.fillAt = entry_end(entries(), *entry);
    return 1;
}

int create_archive(const char* archive_path, const char* input_dir) {
    if (archive_path == nullptr || input_dir == nullptr) {
        std::printf("Bad parameters.");
        return 0;
    }
    // Checked before the archive exists, so that a mistyped directory does
    // not leave an archive behind.
    build.walkOnly = false;
    if (!ready_to_walk(input_dir)) {
        return 0;
    }
    std::string shown;
    std::printf("Creating '%s'\n", printable(archive_path, shown));
    build.handle = file_open(archive_path, OpenMode::create_new);
    if (build.handle == INVALID_FILE) {
        std::printf("Error: Could not open file.\n");
        build.index.reset();
        return 0;
    }
    // From here on a failure removes the archive again: it is this run's,
    // and a second run must not find it in its way.
    build.archivePath = archive_path;
    leave_out_of_walk(archive_path);

    if (!walk_index_pass(input_dir)) {
        return fail_closing();
    }
    std::uint32_t file_count = build.fileCounter;
    auto start_offset = static_cast<std::uint32_t>(build.writeAt + HEADER_SIZE + END_RECORD_SIZE);
    if (!fits_archive(start_offset + build.dataTotal)) {
        std::printf("Error: The archive would reach 4 GiB.\n");
        return fail_closing();
    }

    // The data area starts beyond the file's end; the gap is written last.
    if (!seek_to(start_offset)) {
        return fail_closing();
    }
    build.fileCounter = 0;
    build.fillAt = 0;
    build.gathered = 0;
    build.skipped = 0;
    build.writtenAhead = 0;
    build.aheadWritesDone = true;
    WorkPool one(1);
    WorkPool& pool = walk_helpers() != nullptr ? *walk_helpers() : one;
    // The workers write the small files' data themselves, where the system
    // lets them write beside this thread.
    ReadAhead ahead(pool, files_of_index(input_dir, start_offset),
                    pool.workers() > 0 ? file_open_again_for_writing(build.handle) : INVALID_FILE);
    build.ahead = &ahead;
    DataPass pass;
    const bool walked = walk_tree(input_dir, pass) && write_gathered();
    build.ahead = nullptr;
    if (!walked) {
        return fail_closing();
    }
    std::printf("Total file count: %lu\n", static_cast<unsigned long>(build.fileCounter));
    if (build.fileCounter != file_count) {
        fail_changed();
        return fail_closing();
    }
    std::uint64_t archive_size = 0;
    const bool placed = file_position(build.handle, &archive_size);
    archive_size += build.skipped;
    if (!placed || !fits_archive(archive_size)) {
        std::printf("Error: Could not set file pointer.\n");
        return fail_closing();
    }

    if (!write_index(file_count, archive_size)) {
        return fail_closing();
    }
    if (!file_flush(build.handle)) {
        std::printf("Error: Could not write to BIG file.\n");
        return fail_closing();
    }
    release_buffers();
    return 1;
}

int index_tree(const char* input_dir) {
    build.walkOnly = true;
    if (!ready_to_walk(input_dir) || !walk_index_pass(input_dir)) {
        release_buffers();
        return 0;
    }
    // The names' map served the walk's refusal of two files with one name.
    std::unordered_map<std::string_view, std::size_t>().swap(build.names);
    return 1;
}

std::vector<WalkedFile> walked_files() {
    std::vector<WalkedFile> files;
    files.reserve(build.fileCounter);
    std::size_t path_at = 0;
    auto take_block = [&](std::span<const std::uint8_t> block) {
        for (std::size_t at = 0; at < block.size();) {
            std::optional<BigEntry> entry = entry_at(block, at);
            if (!entry || path_at >= build.relativePaths.size()) {
                break;
            }
            const char* path = build.relativePaths.c_str() + path_at;
            files.push_back({entry->name, path, entry_data_size(*entry)});
            path_at += std::strlen(path) + 1;
            at = entry_end(block, *entry);
        }
    };
    for (const FullBlock& block : build.fullBlocks) {
        take_block({block.bytes.get(), block.used});
    }
    take_block(entries());
    return files;
}

void keep_archive() {
    if (build.handle != INVALID_FILE) {
        file_close(build.handle);
        build.handle = INVALID_FILE;
    }
}
