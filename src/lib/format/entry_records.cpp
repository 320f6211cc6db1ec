// See entry_records.h.
#include "lib/format/entry_records.h"

#include <new>

int add_record(EntryRecords& records, const EntryRecord& record) {
    std::ptrdiff_t slot = records.count % RECORD_BLOCK;
    if (slot == 0) {
        std::unique_ptr<EntryRecord[]> block(new (std::nothrow) EntryRecord[RECORD_BLOCK]);
        if (!block) {
            return 0;
        }
        records.blocks.push_back(std::move(block));
    }
    records.blocks.back()[slot] = record;
    ++records.count;
    return 1;
}

RecordIterator records_begin(EntryRecords& records) {
    return RecordIterator{records.blocks.data(), 0};
}

RecordIterator records_end(EntryRecords& records) {
    return RecordIterator{records.blocks.data(), records.count};
}
