// CHECK's judging: whether an archive is sound, as findings handed one by
// one to an observer, in a fixed order, and never printed. The archive is
// read through a small source (the command line's reader, or a library
// handle's table), and what depends on the process (path style, code
// page) comes from the caller's rules. One walk of the index judges each
// entry's name and range and keeps 24 bytes of it (entry_records.h); then
// the data is read (check_data.cpp) and the names compared
// (check_names.cpp), their findings given in entry order; a last walk
// finds the entries that need a folder where another entry is a file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "lib/format/big_format.h"
#include "lib/text/path_style.h"

// What a finding is about; the numbers are the C API's BT_CHECK_*.
enum class FindingKind : int {
    empty_name = 1,
    unsafe_name = 2,          // extraction here would refuse it
    name_too_long = 3,        // 260 bytes or longer
    refused_elsewhere = 4,    // the other system would refuse it
    data_past_end = 5,        // past the file's end, or wrapping past 4 GiB
    data_over_index = 6,      // starting inside the header or the index
    index_short = 7,          // the index holds fewer entries than the header counts
    end_record = 8,           // not the one CREATE writes
    data_unreadable = 9,
    data_overlap = 10,        // shares bytes with an earlier entry's data, by offset
    same_name = 11,           // extracts onto the file of an earlier entry
    same_but_case = 12,       // an earlier entry's name, but for letter case
    folder_is_file = 13,      // needs a folder where another entry is a file
    folder_is_file_but_case = 14,  // the same, but for letter case
    game_reads_as_one = 15,   // another name, that the game folds into an earlier one
};

// Entry numbers stay below 2^31 (fileCount is signed), so this is none.
inline constexpr std::uint32_t NO_ENTRY = UINT32_MAX;

struct Finding {
    FindingKind kind;
    bool error;             // a problem; otherwise a warning
    std::uint32_t entry;    // NO_ENTRY for the archive-wide findings
    std::uint32_t other;    // the other entry concerned, or NO_ENTRY
    std::string_view name;  // the entry's stored name as the source gave it (its start, when long)
    // As CHECK prints it after "Error: Entry N 'name': ", or the whole
    // line's text after "Error: " for the archive-wide findings.
    std::string_view message;
};

enum class SourceRead { found, ended, failed };

// The archive as the check reads it. Entries are asked for mostly in
// order; a name may be given by its start (entry_name_is_whole). Views
// stay valid until the source's next call.
class CheckSource {
public:
    // Entry n and, when `place` is not null, where it starts in the index;
    // ended when the index holds no entry n.
    virtual SourceRead entry(std::uint32_t n, BigEntry* entry, std::uint32_t* place) = 0;
    // Entry n again, from the place that entry() gave; never ended.
    virtual SourceRead entry_at(std::uint32_t n, std::uint32_t place, BigEntry* entry) = 0;
    // Up to `count` bytes at `offset`, fewer only at the file's end; false
    // when they could not be read.
    virtual bool read(std::uint32_t offset, void* buffer, std::uint32_t count, std::uint32_t* got) = 0;

protected:
    ~CheckSource() = default;
};

// What depends on the process that asks.
struct CheckRules {
    PathStyle here;          // extraction's rules here; the other style is "there"
    const LeadBytes* lead;   // the code page's lead bytes
    bool (*inCodePage)(std::string_view name);                  // as name_in_code_page
    bool (*foldCase)(std::string_view text, std::string* out);  // as fold_letter_case
    // Another entry's name as a message quotes it.
    std::string_view (*quote)(std::string_view name, std::string& storage);
};

class FindingObserver {
public:
    // False stops the check.
    virtual bool found(const Finding& finding) = 0;

protected:
    ~FindingObserver() = default;
};

enum class CheckEnd {
    done,         // every finding given
    stopped,      // by the observer
    read_failed,  // the index or a name could not be read (unreadable data is a finding)
    no_memory,    // the records or the copy buffer could not be allocated
};

// Checks the archive of `header` and gives each finding to `observer`: each
// entry's name and range findings in index order, then the index falling
// short or the end record, then unreadable data, overlaps, duplicate and
// case findings, folders where files are, and names the game reads as one,
// each group in index order. May throw std::bad_alloc.
CheckEnd check_archive(const BigHeader& header, CheckSource& source, const CheckRules& rules,
                       FindingObserver& observer);
