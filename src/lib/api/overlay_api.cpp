// The public API's overlays: archives in a load order (lib/load_order/load_order.h).
// No exception leaves these functions.
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "lib/api/handle.h"
#include "lib/load_order/load_order.h"

namespace {

// "BTOV"; cleared by bt_overlay_free, as an archive's magic is.
constexpr std::uint32_t OVERLAY_MAGIC = 0x42544f56;

}  // namespace

struct bt_overlay {
    std::uint32_t magic = OVERLAY_MAGIC;
    Overlay overlay;
    std::vector<const bt_archive*> archives;  // by position
    std::vector<bt_archive*> owned;           // opened from paths
    mutable std::mutex messageLock;
    mutable std::string message;
};

namespace {

int overlay_fail(const bt_overlay* overlay, int status, const std::string& message) {
    fail(nullptr, status, message);
    try {
        std::lock_guard<std::mutex> lock(overlay->messageLock);
        overlay->message = message;
    } catch (...) {
        // No memory for the message: the status still tells.
    }
    return status;
}

// BT_OK when `overlay` is an open handle that can be used, its message
// cleared; otherwise the call's failure.
int overlay_check(const bt_overlay* overlay, const char* call) {
    if (overlay == nullptr || overlay->magic != OVERLAY_MAGIC) {
        return fail(nullptr, BT_ERR_ARGUMENT, std::string(call) + ": the overlay handle is not an open one.");
    }
    {
        std::lock_guard<std::mutex> lock(overlay->messageLock);
        overlay->message.clear();
    }
    if (overlay->overlay.broken) {
        return overlay_fail(overlay, BT_ERR_NO_MEMORY, open_fault_text(OpenFault::no_memory));
    }
    return BT_OK;
}

int add_archive(bt_overlay* overlay, const bt_archive* archive) {
    switch (overlay_add(overlay->overlay, archive->table, archive_source(archive))) {
    case OverlayFault::none: break;
    case OverlayFault::too_many:
        return overlay_fail(overlay, BT_ERR_ARGUMENT,
                            "bt_overlay_add: an overlay holds at most " + std::to_string(OVERLAY_MOST_ARCHIVES) +
                                " archives.");
    default: return overlay_fail(overlay, BT_ERR_NO_MEMORY, open_fault_text(OpenFault::no_memory));
    }
    try {
        overlay->archives.push_back(archive);
    } catch (const std::bad_alloc&) {
        overlay->overlay.broken = true;
        return overlay_fail(overlay, BT_ERR_NO_MEMORY, open_fault_text(OpenFault::no_memory));
    }
    return BT_OK;
}

int walk_conflicts(const bt_overlay* overlay, bt_conflict_fn found, void* context, uint64_t* same_bytes) {
    const Overlay& layers = overlay->overlay;
    std::vector<std::uint32_t> positions;
    std::vector<std::uint32_t> indices;
    OverlayWalk walk = overlay_conflicts(layers, [&](const Conflict& conflict) {
        positions.clear();
        indices.clear();
        for (const Holder& holder : conflict.holders) {
            positions.push_back(holder.archive);
            indices.push_back(holder.entry);
        }
        std::string_view name = holder_name(layers, overlay_winner(layers, conflict.name));
        return found(context, name.data(), name.size(), positions.data(), indices.data(), positions.size()) == 0;
    });
    if (same_bytes != nullptr) {
        *same_bytes = walk.sameBytes;
    }
    if (walk.fault == OverlayFault::none) {
        return BT_OK;
    }
    if (walk.fault == OverlayFault::no_memory) {
        return overlay_fail(overlay, BT_ERR_NO_MEMORY, open_fault_text(OpenFault::no_memory));
    }
    std::string name = quoted(holder_name(layers, walk.at));
    return overlay_fail(overlay, BT_ERR_READ,
                        "Entry " + std::to_string(walk.at.entry) + " '" + name + "' of archive " +
                            std::to_string(walk.at.archive) +
                            (walk.fault == OverlayFault::unreadable ? ": its data cannot be read."
                                                                    : ": could not read from BIG file."));
}

}  // namespace

extern "C" {

int bt_overlay_new(bt_overlay** out) {
    if (out == nullptr) {
        return fail(nullptr, BT_ERR_ARGUMENT, "bt_overlay_new: the handle's place is NULL.");
    }
    *out = new (std::nothrow) bt_overlay;
    if (*out == nullptr) {
        return fail(nullptr, BT_ERR_NO_MEMORY, open_fault_text(OpenFault::no_memory));
    }
    return BT_OK;
}

void bt_overlay_free(bt_overlay* overlay) {
    if (overlay == nullptr || overlay->magic != OVERLAY_MAGIC) {
        return;
    }
    overlay->magic = 0;
    for (bt_archive* archive : overlay->owned) {
        bt_close(archive);
    }
    delete overlay;
}

const char* bt_overlay_errmsg(const bt_overlay* overlay) {
    if (overlay == nullptr || overlay->magic != OVERLAY_MAGIC) {
        return "The overlay handle is not an open one.";
    }
    return overlay->message.c_str();
}

int bt_overlay_add(bt_overlay* overlay, const bt_archive* archive) {
    if (int status = overlay_check(overlay, "bt_overlay_add"); status != BT_OK) {
        return status;
    }
    if (archive == nullptr || archive->magic != ARCHIVE_MAGIC) {
        return overlay_fail(overlay, BT_ERR_ARGUMENT, "bt_overlay_add: the archive handle is not an open one.");
    }
    return add_archive(overlay, archive);
}

int bt_overlay_add_path(bt_overlay* overlay, const char* path) {
    if (int status = overlay_check(overlay, "bt_overlay_add_path"); status != BT_OK) {
        return status;
    }
    if (path == nullptr) {
        return overlay_fail(overlay, BT_ERR_ARGUMENT, "bt_overlay_add_path: the path is NULL.");
    }
    bt_archive* archive = nullptr;
    if (int status = bt_open(&archive, path); status != BT_OK) {
        return overlay_fail(overlay, status, bt_last_errmsg());
    }
    try {
        overlay->owned.push_back(archive);
    } catch (const std::bad_alloc&) {
        bt_close(archive);
        return overlay_fail(overlay, BT_ERR_NO_MEMORY, open_fault_text(OpenFault::no_memory));
    }
    int status = add_archive(overlay, archive);
    if (status != BT_OK && !overlay->overlay.broken) {
        overlay->owned.pop_back();
        bt_close(archive);
    }
    return status;
}

uint32_t bt_overlay_archive_count(const bt_overlay* overlay) {
    if (overlay_check(overlay, "bt_overlay_archive_count") != BT_OK) {
        return 0;
    }
    return static_cast<std::uint32_t>(overlay->archives.size());
}

int bt_overlay_archive(const bt_overlay* overlay, uint32_t position, const bt_archive** archive) {
    if (int status = overlay_check(overlay, "bt_overlay_archive"); status != BT_OK) {
        return status;
    }
    if (archive == nullptr || position >= overlay->archives.size()) {
        return overlay_fail(overlay, BT_ERR_ARGUMENT,
                            "bt_overlay_archive: there is no archive " + std::to_string(position) +
                                "; the overlay has " + std::to_string(overlay->archives.size()) + ".");
    }
    *archive = overlay->archives[position];
    return BT_OK;
}

uint32_t bt_overlay_name_count(const bt_overlay* overlay) {
    if (overlay_check(overlay, "bt_overlay_name_count") != BT_OK) {
        return 0;
    }
    return static_cast<std::uint32_t>(overlay->overlay.names.size());
}

int bt_overlay_lookup(const bt_overlay* overlay, const char* name, size_t length, uint32_t* position,
                      uint32_t* index) {
    if (int status = overlay_check(overlay, "bt_overlay_lookup"); status != BT_OK) {
        return status;
    }
    if (name == nullptr && length > 0) {
        return overlay_fail(overlay, BT_ERR_ARGUMENT, "bt_overlay_lookup: the name is NULL.");
    }
    std::string_view wanted(name == nullptr ? "" : name, length);
    std::optional<std::uint32_t> found = overlay_find(overlay->overlay, wanted);
    if (!found) {
        return overlay_fail(overlay, BT_ERR_NOT_FOUND, "No entry matches '" + quoted(wanted) + "'.");
    }
    return bt_overlay_winner(overlay, *found, position, index);
}

int bt_overlay_winner(const bt_overlay* overlay, uint32_t k, uint32_t* position, uint32_t* index) {
    if (int status = overlay_check(overlay, "bt_overlay_winner"); status != BT_OK) {
        return status;
    }
    if (k >= overlay->overlay.names.size()) {
        return overlay_fail(overlay, BT_ERR_ARGUMENT,
                            "bt_overlay_winner: there is no name " + std::to_string(k) + "; the overlay has " +
                                std::to_string(overlay->overlay.names.size()) + ".");
    }
    Holder winner = overlay_winner(overlay->overlay, k);
    if (position != nullptr) {
        *position = winner.archive;
    }
    if (index != nullptr) {
        *index = winner.entry;
    }
    return BT_OK;
}

int bt_overlay_conflicts(const bt_overlay* overlay, bt_conflict_fn found, void* context, uint64_t* same_bytes) {
    if (int status = overlay_check(overlay, "bt_overlay_conflicts"); status != BT_OK) {
        return status;
    }
    if (found == nullptr) {
        return overlay_fail(overlay, BT_ERR_ARGUMENT, "bt_overlay_conflicts: the function is NULL.");
    }
    try {
        return walk_conflicts(overlay, found, context, same_bytes);
    } catch (const std::bad_alloc&) {
        return overlay_fail(overlay, BT_ERR_NO_MEMORY, open_fault_text(OpenFault::no_memory));
    }
}

}  // extern "C"
