// The CHECK command: check_archive (check_archive.h) over the open
// archive's reader, each finding printed as it comes, and the count of
// problems at the end.
#include "cli/check/check_command.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <string>

#include "cli/main/end_run.h"
#include "cli/reader/reader.h"
#include "cli/text/printable.h"
#include "lib/checks/check_archive.h"
#include "platform/platform.h"

namespace {

// The reader as the check's source. The reader says why it could not read
// the index; `told` remembers that it did, so that the failure is said once.
class ReaderSource final : public CheckSource {
public:
    bool told = false;

    SourceRead entry(std::uint32_t n, BigEntry* entry, std::uint32_t* place) override {
        if (place != nullptr) {
            std::optional<EntryPlace> found = find_entry_place(n);
            if (!found) {
                return missing();
            }
            *place = found->at;
        }
        // After find_entry_place the reader is on the entry: no second walk.
        return given(find_entry(n), entry);
    }

    SourceRead entry_at(std::uint32_t n, std::uint32_t place, BigEntry* entry) override {
        return_to_entry({n, place});
        SourceRead read = given(find_entry(n), entry);
        // The walk met it: only a file cut short since makes it missing.
        return read == SourceRead::ended ? SourceRead::failed : read;
    }

    bool read(std::uint32_t offset, void* buffer, std::uint32_t count, std::uint32_t* got) override {
        return read_archive_data(offset, buffer, count, got) != 0;
    }

private:
    SourceRead missing() {
        told = entry_lookup_failed();
        return told ? SourceRead::failed : SourceRead::ended;
    }

    SourceRead given(const std::optional<BigEntry>& found, BigEntry* entry) {
        if (!found) {
            return missing();
        }
        *entry = *found;
        return SourceRead::found;
    }
};

class Printer final : public FindingObserver {
public:
    std::uint64_t problems = 0;

    bool found(const Finding& finding) override {
        const char* level = finding.error ? "Error" : "Warning";
        const auto what = static_cast<int>(finding.message.size());
        if (finding.entry == NO_ENTRY) {
            std::printf("%s: %.*s\n", level, what, finding.message.data());
        } else {
            std::string_view quoted = quoted_name(finding.name, storage);
            std::printf("%s: Entry %lu '%.*s': %.*s\n", level, static_cast<unsigned long>(finding.entry),
                        static_cast<int>(quoted.size()), quoted.data(), what, finding.message.data());
        }
        problems += finding.error ? 1 : 0;
        return true;
    }

private:
    std::string storage;
};

std::string_view quote(std::string_view name, std::string& storage) {
    return quoted_name(name, storage);
}

}  // namespace

void check_command(int, char**, std::FILE*) {
    BigHeader header;
    get_header(&header);
    std::printf("Checking all files...\n\n");
    ReaderSource source;
    Printer printer;
    const CheckRules rules{local_path_style(), &local_lead_bytes(), name_in_code_page, fold_letter_case, quote};
    switch (check_archive(header, source, rules, printer)) {
    case CheckEnd::done:
    case CheckEnd::stopped: break;
    case CheckEnd::read_failed:
        if (!source.told) {
            std::printf("Error: Could not read file.\n");
        }
        end_run(2);
    case CheckEnd::no_memory:
        std::printf("Error: Failed to allocate enough memory.\n");
        end_run(2);
    }
    if (printer.problems == 0) {
        close_archive();
        complete_run();
    }
    // More than INT_MAX problems would take gigabytes of lines to say.
    std::printf("Error: %i problem(s) found.\n",
                static_cast<int>(std::min<std::uint64_t>(printer.problems, INT_MAX)));
    end_run(2);
}
