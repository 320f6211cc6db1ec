// POSIX backend: a folder's listing, for the library's walk and the
// command line's alike; nothing of the process is kept.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "lib/patterns/listing_order.h"
#include "lib/threads/work_pool.h"
#include "platform/listed_items.h"
#include "platform/platform.h"

namespace {

// Links are followed; what they lead to decides. Sockets, FIFOs, devices
// and dangling links are passed over (false) and never opened.
bool look_at(int folder, const char* name, bool* is_dir, std::uint64_t* size) {
    struct stat item;
    if (fstatat(folder, name, &item, 0) != 0 || (!S_ISDIR(item.st_mode) && !S_ISREG(item.st_mode))) {
        return false;
    }
    *is_dir = S_ISDIR(item.st_mode);
    *size = *is_dir ? 0 : static_cast<std::uint64_t>(item.st_size);
    return true;
}

struct SharedLook {
    std::size_t item;
    bool known;          // the directory entry's type settled it
    bool found = false;  // looked at, and a directory or a regular file
};

// The looks of `looks` not settled yet, in shares the workers take.
void look_shared(int folder, ListedItems& names, std::vector<SharedLook>& looks, WorkPool& helpers) {
    constexpr std::size_t SHARE = 256;
    for (std::size_t from = 0; from < looks.size(); from += SHARE) {
        const std::size_t to = std::min(looks.size(), from + SHARE);
        const std::uint64_t ticket = helpers.run([&, from, to] {
            for (std::size_t n = from; n < to; ++n) {
                SharedLook& look = looks[n];
                if (!look.known) {
                    ListedItems::Listed& item = names.items[look.item];
                    look.found = look_at(folder, listed_name(names, item), &item.isDirectory, &item.size);
                }
            }
        });
        if (to == looks.size()) {
            helpers.wait_for(ticket);
        }
    }
}

}  // namespace

bool folder_list(const char* directory, ListDetail detail, ListedItems* listed, FolderIdentity* identity,
                 WorkPool* helpers) {
    int fd;
    do {
        fd = ::open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return false;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        ::close(fd);
        return false;
    }
    *identity = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return false;
    }
    bool failed = false;
    const bool shared = helpers != nullptr && helpers->workers() > 0 && detail == ListDetail::with_sizes;
    // Shared looks: the names first, then the looks, a share per worker.
    std::vector<SharedLook> looks;
    ListedItems names;
    for (;;) {
        errno = 0;
        struct dirent* entry = readdir(dir);
        if (entry == nullptr) {
            failed = errno != 0;
            break;
        }
        std::size_t length = std::strlen(entry->d_name);
        if (length >= sizeof(DirItem{}.name)) {
            continue;
        }
        // The directory entry's own type settles directories, and files
        // when no size is wanted; links and unknown types are looked up.
        bool is_dir = entry->d_type == DT_DIR;
        std::uint64_t size = 0;
        bool known = is_dir || (entry->d_type == DT_REG && detail == ListDetail::types_only);
        if (shared) {
            looks.push_back({names.items.size(), known});
            add_listed(names, {entry->d_name, length}, is_dir, 0);
            continue;
        }
        if (!known && !look_at(dirfd(dir), entry->d_name, &is_dir, &size)) {
            continue;
        }
        add_listed(*listed, {entry->d_name, length}, is_dir, size);
    }
    if (shared && !failed) {
        look_shared(dirfd(dir), names, looks, *helpers);
        for (const SharedLook& look : looks) {
            const ListedItems::Listed& item = names.items[look.item];
            if (look.known || look.found) {
                add_listed(*listed, listed_name(names, item), item.isDirectory, item.size);
            }
        }
    }
    closedir(dir);
    if (failed) {
        return false;
    }
    // Sorted, so that the same tree always gives the same archive.
    std::sort(listed->items.begin(), listed->items.end(),
              [listed](const ListedItems::Listed& a, const ListedItems::Listed& b) {
                  return listed_before(listed_name(*listed, a), listed_name(*listed, b));
              });
    return true;
}
