// The items of one directory listing as every backend keeps them between
// dir_open and dir_close: the names in one pool, so that a large folder
// costs its names and little more.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

struct ListedItems {
    struct Listed {
        std::size_t name_at;  // into names, terminated
        bool is_directory;
        std::uint64_t size;
        bool unrepresentable;
    };
    std::string names;
    std::vector<Listed> items;
    std::size_t next = 0;
};

// `name` must be shorter than DirItem's name buffer.
inline void add_listed(ListedItems& listed, std::string_view name, bool is_directory,
                       std::uint64_t size, bool unrepresentable = false) {
    listed.items.push_back({listed.names.size(), is_directory, size, unrepresentable});
    listed.names.append(name);
    listed.names.push_back('\0');
}

inline int next_listed(ListedItems& listed, DirItem* item) {
    if (listed.next >= listed.items.size()) {
        return 0;
    }
    const ListedItems::Listed& found = listed.items[listed.next++];
    const char* name = listed.names.data() + found.name_at;
    std::memcpy(item->name, name, std::strlen(name) + 1);
    item->is_directory = found.is_directory;
    item->size = found.size;
    item->unrepresentable = found.unrepresentable;
    return 1;
}
