// Statuses, messages and versions of the public API.
#include <cstring>

#include "lib/api/handle.h"

namespace {

// One slot per thread: a failed open has no handle to keep its message.
thread_local std::string last_message;

}  // namespace

int fail(const bt_archive* archive, int status, const std::string& message) {
    try {
        last_message = message;
        if (archive != nullptr) {
            std::lock_guard<std::mutex> lock(archive->messageLock);
            archive->message = message;
        }
    } catch (...) {
        // No memory for the message: the status still tells.
    }
    return status;
}

void clear_message(const bt_archive* archive) {
    std::lock_guard<std::mutex> lock(archive->messageLock);
    archive->message.clear();
}

bool usable(const bt_archive* archive, const char* call) {
    if (archive == nullptr || archive->magic != ARCHIVE_MAGIC) {
        fail(nullptr, BT_ERR_ARGUMENT, std::string(call) + ": the archive handle is not an open one.");
        return false;
    }
    clear_message(archive);
    return true;
}

namespace {

int read_source(void* context, std::uint64_t offset, void* buffer, std::uint32_t count, std::uint32_t* got) {
    return read_archive(static_cast<const bt_archive*>(context), offset, buffer, count, got);
}

}  // namespace

ArchiveSource archive_source(const bt_archive* archive) {
    return {read_source, const_cast<bt_archive*>(archive), 0, archive->file};
}

std::string quoted(std::string_view name) {
    constexpr std::size_t SHOWN = 259;
    return name.size() > SHOWN ? std::string(name.substr(0, SHOWN)) + "..." : std::string(name);
}

extern "C" {

const char* bt_status_name(int status) {
    switch (status) {
    case BT_OK: return "BT_OK";
    case BT_ERR_ARGUMENT: return "BT_ERR_ARGUMENT";
    case BT_ERR_NO_MEMORY: return "BT_ERR_NO_MEMORY";
    case BT_ERR_OPEN: return "BT_ERR_OPEN";
    case BT_ERR_READ: return "BT_ERR_READ";
    case BT_ERR_NOT_ARCHIVE: return "BT_ERR_NOT_ARCHIVE";
    case BT_ERR_DAMAGED: return "BT_ERR_DAMAGED";
    case BT_ERR_NOT_FOUND: return "BT_ERR_NOT_FOUND";
    case BT_ERR_BUFFER_TOO_SMALL: return "BT_ERR_BUFFER_TOO_SMALL";
    case BT_ERR_UNSUPPORTED: return "BT_ERR_UNSUPPORTED";
    case BT_ERR_UNSAFE_NAME: return "BT_ERR_UNSAFE_NAME";
    case BT_ERR_WRITE: return "BT_ERR_WRITE";
    case BT_ERR_LIMIT: return "BT_ERR_LIMIT";
    case BT_ERR_EXISTS: return "BT_ERR_EXISTS";
    }
    return nullptr;
}

const char* bt_version(void) {
    return BT_VERSION_STRING;
}

int bt_version_number(void) {
    return BT_VERSION_NUMBER;
}

const char* bt_errmsg(const bt_archive* archive) {
    if (archive == nullptr || archive->magic != ARCHIVE_MAGIC) {
        return "The archive handle is not an open one.";
    }
    return archive->message.c_str();
}

const char* bt_last_errmsg(void) {
    return last_message.c_str();
}

}  // extern "C"
