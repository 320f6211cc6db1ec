// The archive that PATCH and MERGE make of entries of other archives,
// through the library's writer.
#include <cstdio>
#include <string>

#include "cli/load_order/archive_set.h"
#include "cli/main/end_run.h"
#include "cli/text/printable.h"
#include "lib/api/handle.h"
#include "lib/writer/archive_writer.h"
#include "platform/platform.h"

namespace {

// CREATE's progress, with entry names where CREATE shows files.
class Progress : public WriteObserver {
public:
    void begin(std::uint32_t k, const PlannedView& entry) override {
        std::string_view name = quoted_name(entry.name, shown_);
        std::printf("Adding[%lu] %lukb '%.*s': ", static_cast<unsigned long>(k),
                    static_cast<unsigned long>(entry.size / 1024), static_cast<int>(name.size()), name.data());
    }
    void end(std::uint32_t) override { std::printf("Done\n"); }
    bool publish() override {
        // A run that ends with status 2 leaves no archive: its lines must
        // reach their reader first.
        std::printf("Total file count: %lu\n", static_cast<unsigned long>(count_));
        return output_written();
    }
    std::uint32_t count_ = 0;

private:
    std::string shown_;
};

[[noreturn]] void end_failed(const WriteOutcome& outcome) {
    if (outcome.fault == WriteFault::abandoned) {
        end_output_lost();
    }
    std::string shown;
    std::printf("Error: %s\n", printable(outcome.message.c_str(), shown));
    end_run(2);
}

}  // namespace

void write_set_archive(const char* path, const EntryPlan& plan) {
    // A reader that went away (`| head`) is a failed write like any other,
    // which leaves no archive, not a signal that ends the run part way.
    keep_running_when_output_closes();
    // CREATE's refusals and the format's limits, before anything is made.
    std::uint64_t index_bytes = 0;
    std::uint64_t data_bytes = 0;
    WriteOutcome outcome;
    for (std::uint32_t k = 0; k < plan.count(); ++k) {
        const PlannedEntry entry = plan.entry(k);
        if (judge_name(entry.name, local_path_style(), k, &outcome) != WriteFault::none) {
            end_failed(outcome);
        }
        index_bytes += ENTRY_FIXED_SIZE + entry.name.size();
        data_bytes += entry.size;
    }
    if (!fits_archive(HEADER_SIZE + index_bytes + END_RECORD_SIZE + data_bytes)) {
        std::printf("Error: The archive would reach 4 GiB.\n");
        end_run(2);
    }
    std::string shown;
    std::printf("Creating '%s'\n", printable(path, shown));
    Progress progress;
    progress.count_ = plan.count();
    SystemCalls calls(INVALID_FILE);
    outcome = write_archive(plan, index_bytes, path, calls, &progress);
    if (outcome.fault == WriteFault::exists) {
        std::printf("Error: Could not open file.\n");
        end_run(2);
    }
    if (outcome.fault != WriteFault::none) {
        end_failed(outcome);
    }
    complete_run();
}

HolderPlan::HolderPlan(const ArchiveSet& set) : set_(set) {
    for (const auto& archive : set.archives) {
        sources_.push_back(archive_source(archive.get()));
    }
}

PlannedEntry HolderPlan::planned(Holder holder) const {
    const ArchiveTable& table = set_.archives[holder.archive]->table;
    return {table_name(table, holder.entry), table_data_size(table, holder.entry), nullptr, nullptr,
            &sources_[holder.archive], table_data_offset(table, holder.entry)};
}
