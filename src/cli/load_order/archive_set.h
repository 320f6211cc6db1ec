// Archives named on the command line in a load order, each opened through
// the library's shared handles, validated and shown as LIST shows it, and
// read together through an overlay (lib/load_order/load_order.h).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "bigtool.h"
#include "lib/load_order/load_order.h"
#include "lib/writer/archive_writer.h"

struct ArchiveSet {
    std::vector<std::string> paths;  // as given, list files' lines in place
    std::vector<std::unique_ptr<bt_archive, void (*)(bt_archive*)>> archives;
    Overlay overlay;
};

// The archive paths of argv[1] (unless `from_first` is false: the words
// that write take it for the archive they make) and argv[3] onwards; an
// argument "@file" stands for the paths of that list file. Ends the run
// after saying why when a list file cannot be read or holds none.
std::vector<std::string> archive_arguments(int argc, char** argv, bool from_first = true);

// Opens, validates and shows each of `paths` in turn, then reads them into
// the overlay; ends the run at the first that fails, after the reader's
// message, before anything is compared.
void open_archive_set(std::vector<std::string> paths, ArchiveSet* set);

// A path as the reports show it.
std::string shown_path(const std::string& path);

// Entries of the set's archives as a writer's plan, each with its name as
// stored and its data; what they are is the word's.
class HolderPlan : public EntryPlan {
public:
    explicit HolderPlan(const ArchiveSet& set);
    PlannedEntry planned(Holder holder) const;

protected:
    const ArchiveSet& set_;

private:
    std::vector<ArchiveSource> sources_;  // one per archive
};

// Makes the archive `path` of `plan`'s entries, in its order, printing
// progress as CREATE does, with CREATE's refusals and the format's limits;
// never over an existing file, and nothing left when it fails. Ends the
// run.
[[noreturn]] void write_set_archive(const char* path, const EntryPlan& plan);

// Ends the run, status 2, after saying why a walk over the set's data
// stopped.
[[noreturn]] void end_walk(const ArchiveSet& set, const OverlayWalk& walk);
