// Archives named on the command line in a load order, each opened through
// the library's shared handles, validated and shown as LIST shows it, and
// read together through an overlay (lib/load_order.h).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "bigtool.h"
#include "lib/load_order.h"

struct ArchiveSet {
    std::vector<std::string> paths;  // as given, list files' lines in place
    std::vector<std::unique_ptr<bt_archive, void (*)(bt_archive*)>> archives;
    Overlay overlay;
};

// The archive paths of argv[1] and argv[3] onwards; an argument "@file"
// stands for the paths of that list file. Ends the run after saying why
// when a list file cannot be read or holds none.
std::vector<std::string> archive_arguments(int argc, char** argv);

// Opens, validates and shows each of `paths` in turn, then reads them into
// the overlay; ends the run at the first that fails, after the reader's
// message, before anything is compared.
void open_archive_set(std::vector<std::string> paths, ArchiveSet* set);

// A path as the reports show it.
std::string shown_path(const std::string& path);

// Ends the run, status 2, after saying why a walk over the set's data
// stopped.
[[noreturn]] void end_walk(const ArchiveSet& set, const OverlayWalk& walk);
