// POSIX backend: a folder's listing, for the library's walk and the
// command line's alike; nothing of the process is kept.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/listing_order.h"
#include "platform/listed_items.h"
#include "platform/platform.h"

bool folder_list(const char* directory, ListDetail detail, ListedItems* listed, FolderIdentity* identity) {
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
        if (!known) {
            struct stat item;
            // Links are followed; what they lead to decides. Sockets, FIFOs,
            // devices and dangling links are passed over and never opened.
            if (fstatat(dirfd(dir), entry->d_name, &item, 0) != 0) {
                continue;
            }
            if (!S_ISDIR(item.st_mode) && !S_ISREG(item.st_mode)) {
                continue;
            }
            is_dir = S_ISDIR(item.st_mode);
            size = is_dir ? 0 : static_cast<std::uint64_t>(item.st_size);
        }
        add_listed(*listed, {entry->d_name, length}, is_dir, size);
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
