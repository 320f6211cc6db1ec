// The walk of a folder whose files become an archive's entries, as CREATE
// walks it: names beginning with '.' passed over, each folder's items in
// the listing's order (folder_list), folders walked where they come, links
// followed and a link back to a folder above walked once, each file named
// by its path below the folder with '\' between the parts. Nothing is
// printed or kept between walks.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

enum class WalkFault {
    none,
    cannot_list,      // a folder that cannot be listed
    unrepresentable,  // a name the code page cannot hold
    too_long,         // a path past the tool's paths' limit
    too_many,         // more folders than a walk enters: a link loop the system hides
    stopped,          // the visitor said stop
};

// Called for each file in the walk's order: its archive name, its path and
// the size the listing gave. False stops the walk.
using WalkVisitor = std::function<bool(std::string_view name, const std::string& path, std::uint64_t size)>;

// Walks `root`. On a fault, *message says what and where, in the command
// line's words without "Error: ". May throw std::bad_alloc.
WalkFault walk_folder(const char* root, const WalkVisitor& visit, std::string* message);
