// See rewrite.h. The new archive is written by the library's writer, from
// a plan that walks the open archive again, through calls the test seam
// counts; this layer prints.
#include "cli/create/rewrite.h"

#include <cstdio>
#include <vector>

#include "cli/create/counted_calls.h"
#include "cli/create/create.h"
#include "cli/create/read_ahead.h"
#include "cli/main/end_run.h"
#include "cli/main/held_elsewhere.h"
#include "cli/reader/reader.h"
#include "cli/text/printable.h"
#include "lib/writer/archive_writer.h"
#include "platform/platform.h"

namespace {

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
// which is walked again as it is written, and what is needed of each file.
struct Plan {
    std::vector<std::uint32_t> fates;  // in entry order
    std::vector<PlannedFile> files;    // those that replace data, in entry order, then the added ones
    std::string paths;                 // the files' paths, each terminated
    std::uint32_t entries = 0;         // in the new archive
    std::uint32_t stay = 0;            // of them the open archive's; the added ones follow
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

const char* path_of(const PlannedFile& file) {
    return plan.paths.c_str() + file.pathAt;
}

bool read_ahead(const PlannedFile& file) {
    return file.size > 0 && file.size <= READ_AHEAD_LIMIT;
}

// The planned files that are read ahead, by their numbers in the plan.
ReadAhead::Source small_files() {
    return [f = std::uint32_t{0}](std::uint32_t* key, std::string* path, std::uint32_t* size,
                                  std::uint64_t*) mutable {
        for (; f < plan.files.size(); ++f) {
            if (read_ahead(plan.files[f])) {
                *key = f;
                *path = path_of(plan.files[f]);
                *size = plan.files[f].size;
                ++f;
                return true;
            }
        }
        return false;
    };
}

int read_open_archive(void*, std::uint64_t offset, void* buffer, std::uint32_t count, std::uint32_t* got) {
    return read_archive_data(static_cast<std::uint32_t>(offset), buffer, count, got);
}

void say_changed() {
    std::printf("Error: The archive changed while it was rewritten.\n");
}

// The plan as the writer asks for it, in order: the open archive's entries
// that stay, found again as the walk goes (a name longer than the index
// window comes in pieces), then the added files.
class RewritePlan final : public EntryPlan {
public:
    explicit RewritePlan(ReadAhead& ahead)
        : ahead_(ahead), source_{read_open_archive, nullptr, 0, archive_file()} {}

    std::uint32_t count() const override { return plan.entries; }

    PlannedEntry entry(std::uint32_t k) const override {
        lost_ = false;
        if (k >= plan.stay) {
            file_ = static_cast<std::uint32_t>(plan.files.size() - (plan.entries - k));
            const PlannedFile& file = plan.files[file_];
            return {file.name, file.size, nullptr, path_of(file), nullptr, 0};
        }
        while (n_ < plan.fates.size() && plan.fates[n_] == REMOVED) {
            ++n_;
        }
        const std::uint32_t n = n_++;
        // Not walked_entry, which ends the run: the new file must go first.
        const std::optional<BigEntry> found = find_entry(n);
        if (!found) {
            lost_ = true;
            if (!entry_lookup_failed()) {
                say_changed();
            }
            return {};
        }
        const BigEntry& entry = *found;
        const std::uint64_t whole = entry.name.size() < entry.nameLength ? entry.nameLength : 0;
        if (plan.fates[n] == KEPT) {
            file_ = NO_FILE;
            return {entry.name, entry_data_size(entry), nullptr, nullptr, &source_, entry_data_offset(entry), whole};
        }
        file_ = plan.fates[n];
        const PlannedFile& file = plan.files[file_];
        return {entry.name, file.size, nullptr, path_of(file), nullptr, 0, whole};
    }

    std::string_view name_piece(std::uint32_t, std::uint64_t offset) const override {
        std::optional<std::string_view> piece = entry_name_piece(static_cast<std::uint32_t>(offset));
        lost_ = !piece;
        return piece ? *piece : std::string_view();
    }

    bool lost() const override { return lost_; }

    FedFile fed(std::uint32_t, const std::uint8_t** bytes, std::uint32_t* got) const override {
        const AheadFile* read = file_ != NO_FILE && read_ahead(plan.files[file_]) ? ahead_.take(file_) : nullptr;
        if (read == nullptr) {
            return FedFile::none;
        }
        if (!file_take_open(read->outcome)) {
            return FedFile::open_failed;
        }
        if (!file_take_read(read->outcome, got)) {
            return FedFile::read_failed;
        }
        *bytes = ahead_.bytes_of(*read);
        return FedFile::read;
    }

    // The planned file that entry(k) gave last.
    const char* file_path() const { return file_ != NO_FILE ? path_of(plan.files[file_]) : ""; }

private:
    static constexpr std::uint32_t NO_FILE = UINT32_MAX;

    ReadAhead& ahead_;
    ArchiveSource source_;
    mutable std::uint32_t n_ = 0;  // the open archive's entry the walk is at
    mutable std::uint32_t file_ = NO_FILE;
    mutable bool lost_ = false;
};

// A line for each file the new archive takes data from.
class Lines final : public WriteObserver {
public:
    void begin(std::uint32_t k, const PlannedView& entry) override {
        shown_ = entry.path != nullptr;
        if (shown_) {
            std::string shown;
            std::printf("%s[%lu] %lukb '%s': ", k >= plan.stay ? "Adding" : "Replacing",
                        static_cast<unsigned long>(k), static_cast<unsigned long>(entry.size / 1024),
                        printable(entry.path, shown));
        }
    }
    void end(std::uint32_t) override {
        if (shown_) {
            std::printf("Done\n");
        }
    }
    // What was printed must have reached its reader before the archive
    // changes: a run that ends with status 2 leaves the old one.
    bool publish() override { return output_written(); }

private:
    bool shown_ = false;
};

// The file a link at `archive_path` leads to, which is replaced: the link
// stays. Ends the run when it cannot be followed.
std::string replaced_file(const char* archive_path) {
    if (path_kind(archive_path) != PathKind::link) {
        return archive_path;
    }
    char target[4096];
    if (!link_target(archive_path, target, sizeof target)) {
        std::string shown;
        std::printf("Error: Could not follow the link '%s'.\n", printable(archive_path, shown));
        end_run(2);
    }
    return target;
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
    ++plan.stay;
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
    if (!fits_archive(HEADER_SIZE + plan.indexBytes + END_RECORD_SIZE + plan.dataTotal)) {
        std::printf("Error: The archive would reach 4 GiB.\n");
        end_run(2);
    }
    const std::string target = replaced_file(archive_path);
    WorkPool one(1);
    ReadAhead ahead(walk_helpers() != nullptr ? *walk_helpers() : one, small_files());
    RewritePlan rewrite(ahead);
    Lines lines;
    CountedCalls calls(archive_path);
    const WriteOutcome outcome = write_archive(rewrite, plan.indexBytes, target.c_str(), calls, &lines);
    std::string shown;
    switch (outcome.fault) {
    case WriteFault::none: return;
    case WriteFault::abandoned: end_output_lost();
    case WriteFault::plan_failed:
        if (!rewrite.lost()) {  // else the walk said why
            say_changed();
        }
        break;
    case WriteFault::open_input:
        std::printf("Error: Could not open '%s'.\n", printable(rewrite.file_path(), shown));
        say_if_held_elsewhere(rewrite.file_path());
        break;
    default: std::printf("Error: %s\n", outcome.message.c_str()); break;
    }
    end_run(2);
}
