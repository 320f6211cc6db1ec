// The public API's check: check_archive over a handle's table, each finding
// handed to the caller's function behind an opaque bt_finding.
#include <new>
#include <string>

#include "lib/api/handle.h"
#include "lib/checks/check_archive.h"

struct bt_finding {
    const Finding* finding = nullptr;
    std::string message;  // terminated, for C
};

namespace {

static_assert(static_cast<int>(FindingKind::empty_name) == BT_CHECK_EMPTY_NAME &&
              static_cast<int>(FindingKind::folder_is_file_but_case) == BT_CHECK_FOLDER_IS_FILE_BUT_CASE &&
              static_cast<int>(FindingKind::game_reads_as_one) == BT_CHECK_GAME_READS_AS_ONE);

// The table holds every entry whole; the data and the names read again
// come from the file at positions.
class TableSource final : public CheckSource {
public:
    explicit TableSource(const bt_archive* archive) : archive_(archive) {}

    SourceRead entry(std::uint32_t n, BigEntry* entry, std::uint32_t* place) override {
        const ArchiveTable& table = archive_->table;
        if (n >= table.entries.size()) {
            return SourceRead::ended;
        }
        *entry = {table.index.get() + table.entries[n].at, table_name(table, n), table.entries[n].nameLength};
        if (place != nullptr) {
            *place = table.entries[n].at;
        }
        return SourceRead::found;
    }

    SourceRead entry_at(std::uint32_t n, std::uint32_t, BigEntry* entry) override {
        return this->entry(n, entry, nullptr) == SourceRead::found ? SourceRead::found : SourceRead::failed;
    }

    bool read(std::uint32_t offset, void* buffer, std::uint32_t count, std::uint32_t* got) override {
        return read_archive(archive_, offset, buffer, count, got) != 0;
    }

private:
    const bt_archive* archive_;
};

class Caller final : public FindingObserver {
public:
    Caller(bt_check_fn fn, void* context) : fn_(fn), context_(context) {}
    std::uint64_t errors = 0;

    bool found(const Finding& finding) override {
        errors += finding.error ? 1 : 0;
        if (fn_ == nullptr) {
            return true;
        }
        given_.finding = &finding;
        given_.message.assign(finding.message);
        return fn_(context_, &given_) == 0;
    }

private:
    bt_check_fn fn_;
    void* context_;
    bt_finding given_;
};

std::string_view quote(std::string_view name, std::string& storage) {
    storage = quoted(name);
    return storage;
}

int check(const bt_archive* archive, bt_check_fn fn, void* context, uint64_t* errors) {
    TableSource source(archive);
    Caller caller(fn, context);
    const CheckRules rules{local_path_style(), &code_page_lead_bytes(), name_in_code_page, fold_letter_case, quote};
    const CheckEnd end = check_archive(archive->table.header, source, rules, caller);
    if (errors != nullptr) {
        *errors = caller.errors;
    }
    switch (end) {
    case CheckEnd::done:
    case CheckEnd::stopped: return BT_OK;
    case CheckEnd::read_failed: return fail(archive, BT_ERR_READ, open_fault_text(OpenFault::cannot_read));
    case CheckEnd::no_memory: break;
    }
    return fail(archive, BT_ERR_NO_MEMORY, open_fault_text(OpenFault::no_memory));
}

}  // namespace

extern "C" {

int bt_check(const bt_archive* archive, bt_check_fn found, void* context, uint64_t* errors) {
    if (errors != nullptr) {
        *errors = 0;
    }
    if (!usable(archive, "bt_check")) {
        return BT_ERR_ARGUMENT;
    }
    try {
        return check(archive, found, context, errors);
    } catch (const std::bad_alloc&) {
        return fail(archive, BT_ERR_NO_MEMORY, open_fault_text(OpenFault::no_memory));
    }
}

int bt_finding_kind(const bt_finding* finding) {
    return finding != nullptr ? static_cast<int>(finding->finding->kind) : 0;
}

int bt_finding_is_error(const bt_finding* finding) {
    return finding != nullptr && finding->finding->error ? 1 : 0;
}

uint32_t bt_finding_entry(const bt_finding* finding) {
    return finding != nullptr ? finding->finding->entry : BT_NO_ENTRY;
}

uint32_t bt_finding_other(const bt_finding* finding) {
    return finding != nullptr ? finding->finding->other : BT_NO_ENTRY;
}

const char* bt_finding_message(const bt_finding* finding) {
    return finding != nullptr ? finding->message.c_str() : "";
}

}  // extern "C"
