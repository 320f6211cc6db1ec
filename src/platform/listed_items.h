// A directory listing as the platform layer keeps it between dir_open and
// dir_close: read whole when opened, the names in one pool, so that a large
// folder costs its names and little more.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

struct ListedItems {
    struct Listed {
        std::size_t nameAt;  // into names, terminated
        bool isDirectory;
        std::uint64_t size;
        bool unrepresentable;
    };
    std::string names;
    std::vector<Listed> items;
    std::size_t next = 0;
};

struct DirListing {
    ListedItems listed;
    // How the system tells this folder from every other one (POSIX: its
    // device and inode), to see a link loop.
    FolderIdentity identity{};
};

// `name` must be shorter than DirItem's name buffer.
inline void add_listed(ListedItems& listed, std::string_view name, bool is_directory,
                       std::uint64_t size, bool unrepresentable = false) {
    listed.items.push_back({listed.names.size(), is_directory, size, unrepresentable});
    listed.names.append(name);
    listed.names.push_back('\0');
}

inline const char* listed_name(const ListedItems& listed, const ListedItems::Listed& item) {
    return listed.names.data() + item.nameAt;
}

inline int next_listed(ListedItems& listed, DirItem* item) {
    if (listed.next >= listed.items.size()) {
        return 0;
    }
    const ListedItems::Listed& found = listed.items[listed.next++];
    const char* name = listed_name(listed, found);
    std::memcpy(item->name, name, std::strlen(name) + 1);
    item->isDirectory = found.isDirectory;
    item->size = found.size;
    item->unrepresentable = found.unrepresentable;
    return 1;
}
