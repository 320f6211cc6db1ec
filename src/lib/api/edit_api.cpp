// The public API's changes to an archive: entries replaced, added and
// removed, then the whole written beside the archive and put in its place
// in one step, as UPDATE and DELETE do, through the library's writer.
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "lib/api/handle.h"
#include "lib/api/write_status.h"
#include "lib/reader/game_name.h"
#include "lib/text/entry_name.h"
#include "lib/text/joined.h"
#include "lib/writer/archive_writer.h"

namespace {

inline constexpr std::uint32_t EDIT_MAGIC = 0x42544544;  // "BTED"

// A run that locked the file as its name was being given to another tries
// again with the new one, a few times.
constexpr int OPEN_TRIES = 100;

// What becomes of an entry of the archive: kept, removed, or given the
// data of the put of that number.
constexpr std::uint32_t KEPT = UINT32_MAX;
constexpr std::uint32_t REMOVED = UINT32_MAX - 1;

struct Put {
    std::string name;  // an added entry's; empty for one that replaces an entry's data
    std::string path;  // its file, or empty for `bytes`
    std::vector<std::uint8_t> bytes;
};

}  // namespace

struct bt_edit {
    std::uint32_t magic = EDIT_MAGIC;
    std::string target;  // the file replaced: a link at the path is followed
    bt_archive* archive = nullptr;  // its file holds the change lock
    std::vector<std::uint32_t> fates;
    std::vector<Put> puts;
    bool ended = false;
    std::string message;
};

namespace {

int edit_fail(bt_edit* edit, int status, const std::string& message) {
    fail(nullptr, status, message);
    if (edit != nullptr) {
        try {
            edit->message = message;
        } catch (...) {
        }
    }
    return status;
}

bool usable_edit(bt_edit* edit, const char* call) {
    if (edit == nullptr || edit->magic != EDIT_MAGIC) {
        edit_fail(nullptr, BT_ERR_ARGUMENT, std::string(call) + ": the edit handle is not an open one.");
        return false;
    }
    edit->message.clear();
    if (edit->ended) {
        edit_fail(edit, BT_ERR_ARGUMENT, std::string(call) + ": the edit was committed already.");
        return false;
    }
    return true;
}

void end_edit(bt_edit* edit) {
    edit->ended = true;
    bt_close(edit->archive);
    edit->archive = nullptr;
}

// The entry of the archive with `name` by the game's rule: BT_OK with it,
// BT_ERR_NOT_FOUND, or a refusal when several have it.
int entry_named(bt_edit* edit, std::string_view name, std::uint32_t* found) {
    const std::uint32_t matches = table_count_named(edit->archive->table, name, found);
    if (matches > 1) {
        return edit_fail(edit, BT_ERR_UNSAFE_NAME,
                         joined({"'", quoted(name), "' matches several entries of the archive: which to replace is not clear."}));
    }
    return matches == 1 ? BT_OK : BT_ERR_NOT_FOUND;
}

int put(bt_edit* edit, const char* name, std::size_t length, Put data, const char* call) {
    if (!usable_edit(edit, call)) {
        return BT_ERR_ARGUMENT;
    }
    if (name == nullptr || length == 0) {
        return edit_fail(edit, BT_ERR_ARGUMENT, std::string(call) + ": the name is NULL or empty.");
    }
    std::string_view wanted(name, length);
    try {
        std::uint32_t k = 0;
        int found = entry_named(edit, wanted, &k);
        if (found == BT_ERR_UNSAFE_NAME) {
            return found;
        }
        if (found == BT_OK) {
            if (edit->fates[k] != KEPT && edit->fates[k] != REMOVED) {
                edit->puts[edit->fates[k]] = std::move(data);
            } else {
                edit->fates[k] = static_cast<std::uint32_t>(edit->puts.size());
                edit->puts.push_back(std::move(data));
            }
            return BT_OK;
        }
        for (Put& added : edit->puts) {
            if (!added.name.empty() && same_game_name(added.name, wanted)) {
                data.name = added.name;
                added = std::move(data);
                return BT_OK;
            }
        }
        if (wanted.find('\0') != std::string_view::npos ||
            !is_safe_entry_name(without_trailing_separators(wanted), local_path_style()) ||
            has_empty_component(wanted)) {
            return edit_fail(edit, BT_ERR_UNSAFE_NAME,
                             joined({"'", quoted(wanted), "' cannot be stored: its name would be unsafe to extract."}));
        }
        data.name = std::string(wanted);
        edit->puts.push_back(std::move(data));
    } catch (const std::bad_alloc&) {
        return edit_fail(edit, BT_ERR_NO_MEMORY, "Failed to allocate enough memory.");
    }
    return BT_OK;
}

WriteFault plan_put(ArchiveWriter& writer, std::string_view name, const Put& data, WriteOutcome* outcome,
                    bool as_stored) {
    if (!data.path.empty()) {
        return writer.add_file(name, data.path.c_str(), outcome, as_stored);
    }
    return writer.add_bytes(name, data.bytes.data(), static_cast<std::uint32_t>(data.bytes.size()), outcome,
                            as_stored);
}

}  // namespace

extern "C" {

int bt_edit_open(bt_edit** out, const char* path) {
    if (out == nullptr || path == nullptr || *path == '\0') {
        return edit_fail(nullptr, BT_ERR_ARGUMENT, "bt_edit_open: no place for the edit, or no path.");
    }
    *out = nullptr;
    std::unique_ptr<bt_edit> edit(new (std::nothrow) bt_edit);
    if (!edit) {
        return edit_fail(nullptr, BT_ERR_NO_MEMORY, "Failed to allocate enough memory.");
    }
    try {
        char followed[4096];
        edit->target = link_target(path, followed, sizeof followed) ? followed : path;
    } catch (const std::bad_alloc&) {
        return edit_fail(nullptr, BT_ERR_NO_MEMORY, "Failed to allocate enough memory.");
    }
    const char* target = edit->target.c_str();
    if (is_read_only(target)) {
        return edit_fail(nullptr, BT_ERR_OPEN, joined({"'", quoted(path), "' is read-only. It is unchanged."}));
    }
    for (int tries = 0;; ++tries) {
        std::uint64_t size = 0;
        FileHandle file = made_open_for_change(target, &size);
        if (file == INVALID_FILE) {
            return edit_fail(nullptr, BT_ERR_OPEN, "Could not open file.");
        }
        const ChangeLock lock = made_lock_for_change(file, target);
        if (lock == ChangeLock::locked) {
            int status = open_archive_file(&edit->archive, file, size);
            if (status != BT_OK) {
                return status;
            }
            break;
        }
        file_close_shared(file);
        if (lock == ChangeLock::held) {
            return edit_fail(nullptr, BT_ERR_OPEN,
                             joined({"Could not open file: another program is changing '", quoted(path), "'."}));
        }
        if (lock == ChangeLock::failed || tries + 1 == OPEN_TRIES) {
            return edit_fail(nullptr, BT_ERR_OPEN, "Could not open file.");
        }
    }
    try {
        edit->fates.assign(edit->archive->table.entries.size(), KEPT);
    } catch (const std::bad_alloc&) {
        bt_close(edit->archive);
        return edit_fail(nullptr, BT_ERR_NO_MEMORY, "Failed to allocate enough memory.");
    }
    *out = edit.release();
    return BT_OK;
}

void bt_edit_free(bt_edit* edit) {
    if (edit != nullptr && edit->magic == EDIT_MAGIC) {
        edit->magic = 0;
        bt_close(edit->archive);
        delete edit;
    }
}

const char* bt_edit_errmsg(const bt_edit* edit) {
    if (edit == nullptr || edit->magic != EDIT_MAGIC) {
        return "The edit handle is not an open one.";
    }
    return edit->message.c_str();
}

const bt_archive* bt_edit_archive(const bt_edit* edit) {
    return edit == nullptr || edit->magic != EDIT_MAGIC ? nullptr : edit->archive;
}

int bt_edit_put_bytes(bt_edit* edit, const char* name, size_t name_length, const void* data, uint64_t size) {
    if (data == nullptr && size > 0) {
        return edit_fail(edit, BT_ERR_ARGUMENT, "bt_edit_put_bytes: the data is NULL.");
    }
    if (size >= (std::uint64_t{1} << 32)) {
        return edit_fail(edit, BT_ERR_LIMIT, "An entry of 4 GiB or more is too large for a BIG archive.");
    }
    Put bytes;
    try {
        const auto* from = static_cast<const std::uint8_t*>(data);
        bytes.bytes.assign(from, from + size);
    } catch (const std::bad_alloc&) {
        return edit_fail(edit, BT_ERR_NO_MEMORY, "Failed to allocate enough memory.");
    }
    return put(edit, name, name_length, std::move(bytes), "bt_edit_put_bytes");
}

int bt_edit_put_file(bt_edit* edit, const char* name, size_t name_length, const char* path) {
    if (path == nullptr || *path == '\0') {
        return edit_fail(edit, BT_ERR_ARGUMENT, "bt_edit_put_file: no path.");
    }
    Put file;
    try {
        file.path = path;
    } catch (const std::bad_alloc&) {
        return edit_fail(edit, BT_ERR_NO_MEMORY, "Failed to allocate enough memory.");
    }
    return put(edit, name, name_length, std::move(file), "bt_edit_put_file");
}

int bt_edit_remove(bt_edit* edit, const char* const* patterns, size_t count, size_t* removed) {
    if (!usable_edit(edit, "bt_edit_remove")) {
        return BT_ERR_ARGUMENT;
    }
    std::size_t found = 0;
    int status = bt_select(edit->archive, patterns, count, nullptr, 0, &found);
    if (status != BT_OK) {
        return edit_fail(edit, status, bt_errmsg(edit->archive));
    }
    try {
        std::vector<std::uint32_t> indices(found);
        status = bt_select(edit->archive, patterns, count, indices.data(), indices.size(), &found);
        if (status != BT_OK) {
            return edit_fail(edit, status, bt_errmsg(edit->archive));
        }
        for (std::uint32_t k : indices) {
            edit->fates[k] = REMOVED;
        }
    } catch (const std::bad_alloc&) {
        return edit_fail(edit, BT_ERR_NO_MEMORY, "Failed to allocate enough memory.");
    }
    if (removed != nullptr) {
        *removed = found;
    }
    return BT_OK;
}

int bt_edit_commit(bt_edit* edit) {
    if (!usable_edit(edit, "bt_edit_commit")) {
        return BT_ERR_ARGUMENT;
    }
    const bt_archive* archive = edit->archive;
    const ArchiveTable& table = archive->table;
    WriteOutcome outcome;
    try {
        ArchiveWriter writer(local_path_style());
        for (std::uint32_t k = 0; k < table.entries.size(); ++k) {
            const std::uint32_t fate = edit->fates[k];
            WriteFault fault = WriteFault::none;
            if (fate == KEPT) {
                fault = writer.add_source(table_name(table, k), archive_source(archive), table_data_offset(table, k),
                                          table_data_size(table, k), &outcome, true);
            } else if (fate != REMOVED) {
                fault = plan_put(writer, table_name(table, k), edit->puts[fate], &outcome, true);
            }
            if (fault != WriteFault::none) {
                end_edit(edit);
                return edit_fail(edit, write_status(fault), outcome.message);
            }
        }
        for (const Put& added : edit->puts) {
            if (!added.name.empty() && plan_put(writer, added.name, added, &outcome, false) != WriteFault::none) {
                const WriteFault fault = outcome.fault;
                end_edit(edit);
                return edit_fail(edit, write_status(fault), outcome.message);
            }
        }
        writer.replace(archive->file);
        outcome = writer.write(edit->target.c_str(), nullptr);
    } catch (const std::bad_alloc&) {
        end_edit(edit);
        return edit_fail(edit, BT_ERR_NO_MEMORY, "Failed to allocate enough memory.");
    }
    // The writer closed the locked file, whatever happened.
    edit->archive->file = INVALID_FILE;
    end_edit(edit);
    if (outcome.fault != WriteFault::none) {
        return edit_fail(edit, write_status(outcome.fault), outcome.message);
    }
    return BT_OK;
}

}  // extern "C"
