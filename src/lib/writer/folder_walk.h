// The walk of a folder whose files become an archive's entries, as CREATE
// walks it: names beginning with '.' passed over, each folder's items in
// the listing's order (folder_list), folders walked where they come, links
// followed and a link back to a folder above walked once, each file named
// by its path below the folder with '\' between the parts. Each path is
// its folder's, a separator and the item's name. Nothing is printed or
// kept between walks.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/platform.h"

struct ListedItems;

enum class WalkFault {
    none,
    cannot_list,      // a folder that cannot be listed
    unrepresentable,  // a name the code page cannot hold
    too_long,         // a path past the tool's paths' limit
    too_many,         // more folders than a walk enters: a link loop the system hides
    stopped,          // the visitor said stop
};

// Links may lead into one folder along many paths, and each path is walked
// (trees may rely on a folder archived under two names); but 30 levels of
// two links each would make 2^30 paths. Far more folders than a real tree
// has, and few enough to be walked in seconds.
inline constexpr std::uint32_t WALK_FOLDER_LIMIT = 65536;

// What a walk asks of its caller: how each folder is listed, and what is
// done with each file.
class FolderVisitor {
public:
    virtual ~FolderVisitor() = default;
    // Lists `folder` into *listed, its identity in *identity (zeros where
    // the system cannot tell). is_cycle: it is being walked further up, and
    // is passed over. By default folder_list with the files' sizes.
    virtual ListStatus list(const char* folder, ListedItems* listed, FolderIdentity* identity);
    // The folder last listed has been walked, or its walk stopped.
    virtual void leave() {}
    // Whether the file at `path` is to be passed over without a word.
    virtual bool passed_over(const char*, const std::string&) { return false; }
    // Each file: its archive name, its path and the size listed. False
    // stops the walk.
    virtual bool file(std::string_view name, const std::string& path, std::uint64_t size) = 0;
};

// Walks `root`. On a fault, *message says what and where, in the command
// line's words without "Error: ", and *where is the path concerned (the
// folder, or the item). May throw std::bad_alloc.
WalkFault walk_folder(const char* root, FolderVisitor& visitor, std::string* message, std::string* where = nullptr);

// The same with a function called for each file (FolderVisitor::file).
using WalkVisitor = std::function<bool(std::string_view name, const std::string& path, std::uint64_t size)>;
WalkFault walk_folder(const char* root, const WalkVisitor& visit, std::string* message);
