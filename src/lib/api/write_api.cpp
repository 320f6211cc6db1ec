// The public API's writer: a new archive planned through calls, written
// whole by bt_writer_commit (lib/writer/archive_writer.h).
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "lib/api/handle.h"
#include "lib/api/write_status.h"
#include "lib/text/joined.h"
#include "lib/writer/archive_writer.h"
#include "lib/writer/folder_walk.h"

namespace {

inline constexpr std::uint32_t WRITER_MAGIC = 0x42545752;  // "BTWR"

struct CallerReads {
    bt_read_fn read;
    void* context;
};

}  // namespace

struct bt_writer {
    std::uint32_t magic = WRITER_MAGIC;
    std::string path;
    ArchiveWriter plan{local_path_style()};
    std::vector<std::unique_ptr<CallerReads>> readers;  // the reader callbacks' contexts
    bool committed = false;
    std::string message;
};

namespace {

int writer_fail(bt_writer* writer, int status, const std::string& message) {
    fail(nullptr, status, message);
    if (writer != nullptr) {
        try {
            writer->message = message;
        } catch (...) {
        }
    }
    return status;
}


// Whether `writer` may still take entries; fails the call when not.
bool open_writer(bt_writer* writer, const char* call) {
    if (writer == nullptr || writer->magic != WRITER_MAGIC) {
        writer_fail(nullptr, BT_ERR_ARGUMENT, std::string(call) + ": the writer handle is not an open one.");
        return false;
    }
    writer->message.clear();
    if (writer->committed) {
        writer_fail(writer, BT_ERR_ARGUMENT, std::string(call) + ": the writer was committed already.");
        return false;
    }
    return true;
}

int outcome_status(bt_writer* writer, WriteFault fault, const WriteOutcome& outcome) {
    return fault == WriteFault::none ? BT_OK : writer_fail(writer, write_status(fault), outcome.message);
}

bool name_given(bt_writer* writer, const char* name, std::size_t length, const char* call) {
    if (name == nullptr && length > 0) {
        writer_fail(writer, BT_ERR_ARGUMENT, std::string(call) + ": the name is NULL.");
        return false;
    }
    return true;
}

bool size_fits(bt_writer* writer, std::uint64_t size) {
    if (size >= (std::uint64_t{1} << 32)) {
        writer_fail(writer, BT_ERR_LIMIT, "An entry of 4 GiB or more is too large for a BIG archive.");
        return false;
    }
    return true;
}

int read_callback(void* context, std::uint64_t offset, void* buffer, std::uint32_t count, std::uint32_t* got) {
    auto* caller = static_cast<CallerReads*>(context);
    std::size_t moved = 0;
    if (caller->read(caller->context, offset, buffer, count, &moved) != 0 || moved > count) {
        return 0;
    }
    *got = static_cast<std::uint32_t>(moved);
    return 1;
}

}  // namespace

int write_status(WriteFault fault) {
    switch (fault) {
    case WriteFault::none: return BT_OK;
    case WriteFault::no_memory: return BT_ERR_NO_MEMORY;
    case WriteFault::bad_name:
    case WriteFault::empty: return BT_ERR_ARGUMENT;
    case WriteFault::unsafe_name:
    case WriteFault::same_name: return BT_ERR_UNSAFE_NAME;
    case WriteFault::too_large: return BT_ERR_LIMIT;
    case WriteFault::exists: return BT_ERR_EXISTS;
    case WriteFault::open_input: return BT_ERR_OPEN;
    case WriteFault::read_input:
    case WriteFault::input_shrank:
    case WriteFault::input_grew:
    case WriteFault::read_source:
    case WriteFault::plan_failed: return BT_ERR_READ;
    case WriteFault::create_failed:
    case WriteFault::write_failed:
    case WriteFault::abandoned: return BT_ERR_WRITE;
    }
    return BT_ERR_WRITE;
}

extern "C" {

int bt_writer_new(bt_writer** out, const char* path) {
    if (out == nullptr || path == nullptr || *path == '\0') {
        return writer_fail(nullptr, BT_ERR_ARGUMENT, "bt_writer_new: no place for the writer, or no path.");
    }
    *out = nullptr;
    try {
        auto* writer = new bt_writer;
        writer->path = path;
        *out = writer;
    } catch (const std::bad_alloc&) {
        return writer_fail(nullptr, BT_ERR_NO_MEMORY, "Failed to allocate enough memory.");
    }
    return BT_OK;
}

void bt_writer_free(bt_writer* writer) {
    if (writer != nullptr && writer->magic == WRITER_MAGIC) {
        writer->magic = 0;
        delete writer;
    }
}

const char* bt_writer_errmsg(const bt_writer* writer) {
    if (writer == nullptr || writer->magic != WRITER_MAGIC) {
        return "The writer handle is not an open one.";
    }
    return writer->message.c_str();
}

uint32_t bt_writer_count(const bt_writer* writer) {
    return writer == nullptr || writer->magic != WRITER_MAGIC ? 0 : writer->plan.count();
}

int bt_writer_add_bytes(bt_writer* writer, const char* name, size_t name_length, const void* data,
                        uint64_t size) {
    if (!open_writer(writer, "bt_writer_add_bytes") || !name_given(writer, name, name_length, "bt_writer_add_bytes")) {
        return BT_ERR_ARGUMENT;
    }
    if (data == nullptr && size > 0) {
        return writer_fail(writer, BT_ERR_ARGUMENT, "bt_writer_add_bytes: the data is NULL.");
    }
    if (!size_fits(writer, size)) {
        return BT_ERR_LIMIT;
    }
    WriteOutcome outcome;
    WriteFault fault = writer->plan.add_bytes({name == nullptr ? "" : name, name_length}, data,
                                              static_cast<std::uint32_t>(size), &outcome);
    return outcome_status(writer, fault, outcome);
}

int bt_writer_add_file(bt_writer* writer, const char* name, size_t name_length, const char* path) {
    if (!open_writer(writer, "bt_writer_add_file") || !name_given(writer, name, name_length, "bt_writer_add_file")) {
        return BT_ERR_ARGUMENT;
    }
    if (path == nullptr) {
        return writer_fail(writer, BT_ERR_ARGUMENT, "bt_writer_add_file: the path is NULL.");
    }
    WriteOutcome outcome;
    WriteFault fault = writer->plan.add_file({name == nullptr ? "" : name, name_length}, path, &outcome);
    return outcome_status(writer, fault, outcome);
}

int bt_writer_add_reader(bt_writer* writer, const char* name, size_t name_length, bt_read_fn read, void* context,
                         uint64_t size) {
    if (!open_writer(writer, "bt_writer_add_reader") ||
        !name_given(writer, name, name_length, "bt_writer_add_reader")) {
        return BT_ERR_ARGUMENT;
    }
    if (read == nullptr) {
        return writer_fail(writer, BT_ERR_ARGUMENT, "bt_writer_add_reader: the read function is NULL.");
    }
    if (!size_fits(writer, size)) {
        return BT_ERR_LIMIT;
    }
    // Each reader has its own context, kept as long as the writer.
    CallerReads* caller = nullptr;
    try {
        writer->readers.push_back(std::make_unique<CallerReads>(CallerReads{read, context}));
        caller = writer->readers.back().get();
    } catch (const std::bad_alloc&) {
        return writer_fail(writer, BT_ERR_NO_MEMORY, "Failed to allocate enough memory.");
    }
    WriteOutcome outcome;
    WriteFault fault = writer->plan.add_source({name == nullptr ? "" : name, name_length},
                                               {read_callback, caller, size}, 0,
                                               static_cast<std::uint32_t>(size), &outcome);
    if (fault != WriteFault::none) {
        writer->readers.pop_back();
    }
    return outcome_status(writer, fault, outcome);
}

int bt_writer_add_folder(bt_writer* writer, const char* path) {
    if (!open_writer(writer, "bt_writer_add_folder")) {
        return BT_ERR_ARGUMENT;
    }
    if (path == nullptr || *path == '\0') {
        return writer_fail(writer, BT_ERR_ARGUMENT, "bt_writer_add_folder: no path.");
    }
    WriteOutcome outcome;
    WriteFault added = WriteFault::none;
    std::string message;
    WalkFault fault = WalkFault::none;
    try {
        fault = walk_folder(
            path,
            [&](std::string_view name, const std::string& file, std::uint64_t) {
                added = writer->plan.add_file(name, file.c_str(), &outcome);
                return added == WriteFault::none;
            },
            &message);
    } catch (const std::bad_alloc&) {
        return writer_fail(writer, BT_ERR_NO_MEMORY, "Failed to allocate enough memory.");
    }
    switch (fault) {
    case WalkFault::none: return BT_OK;
    case WalkFault::stopped: return outcome_status(writer, added, outcome);
    case WalkFault::cannot_list: return writer_fail(writer, BT_ERR_OPEN, message);
    case WalkFault::unrepresentable: return writer_fail(writer, BT_ERR_UNSAFE_NAME, message);
    case WalkFault::too_long:
    case WalkFault::too_many: return writer_fail(writer, BT_ERR_LIMIT, message);
    }
    return writer_fail(writer, BT_ERR_WRITE, message);
}

int bt_writer_add_entry(bt_writer* writer, const bt_archive* from, uint32_t index) {
    if (!open_writer(writer, "bt_writer_add_entry")) {
        return BT_ERR_ARGUMENT;
    }
    if (from == nullptr || from->magic != ARCHIVE_MAGIC) {
        return writer_fail(writer, BT_ERR_ARGUMENT, "bt_writer_add_entry: the archive handle is not an open one.");
    }
    const ArchiveTable& table = from->table;
    if (index >= table.entries.size()) {
        return writer_fail(writer, BT_ERR_ARGUMENT,
                           joined({"bt_writer_add_entry: there is no entry ", std::to_string(index), "; the archive has ",
                                   std::to_string(table.entries.size()), "."}));
    }
    const std::uint64_t offset = table_data_offset(table, index);
    const std::uint32_t size = table_data_size(table, index);
    WriteOutcome outcome;
    WriteFault fault = writer->plan.add_source(table_name(table, index), archive_source(from), offset, size, &outcome);
    return outcome_status(writer, fault, outcome);
}

int bt_writer_commit(bt_writer* writer) {
    if (!open_writer(writer, "bt_writer_commit")) {
        return BT_ERR_ARGUMENT;
    }
    WriteOutcome outcome = writer->plan.write(writer->path.c_str(), nullptr);
    if (outcome.fault != WriteFault::none) {
        return writer_fail(writer, write_status(outcome.fault), outcome.message);
    }
    writer->committed = true;
    return BT_OK;
}

}  // extern "C"
