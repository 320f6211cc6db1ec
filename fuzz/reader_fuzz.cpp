// Any byte string, opened as an archive and walked through the reader: in
// order, backwards, and by jumps to places met before; then walked again
// through an index window of a small capacity that the input chooses, so
// that entries cross the window's end and names are longer than it. Every
// name is read back whole in pieces. Everything is checked against a plain
// reading of the same bytes in memory, and the window never grows. The
// same bytes go through the public API too, read from memory: every entry,
// every name looked up, every entry's data read. ASan judges the reads.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

#include "bigtool.h"
#include "cli/reader/reader.h"
#include "lib/format/index_window.h"

namespace {

std::string archive_path;

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "reader_fuzz: %s\n", what);
        std::abort();
    }
}

std::uint32_t le32_at(const std::uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint32_t be32_at(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

// The archive as read straight from the bytes in memory.
struct PlainEntry {
    std::uint32_t at;  // offset in the index
    std::uint32_t offset;
    std::uint32_t size;
    std::string_view name;
};

struct PlainArchive {
    bool accepted = false;
    std::uint32_t startOffset = 0;
    std::int32_t fileCount = 0;
    std::uint32_t indexLength = 0;
    std::vector<PlainEntry> entries;  // those the index holds whole, up to fileCount
};

PlainArchive read_plainly(const std::uint8_t* data, std::size_t size) {
    PlainArchive plain;
    std::uint8_t raw[16] = {};
    std::memcpy(raw, data, size < 16 ? size : 16);
    std::uint32_t start = be32_at(raw + 12);
    plain.startOffset = start;
    plain.fileCount = static_cast<std::int32_t>(be32_at(raw + 8));
    plain.accepted = std::memcmp(raw, "BIGF", 4) == 0 && le32_at(raw + 4) == size &&
                     plain.fileCount >= 1 && start >= 16;
    if (!plain.accepted) {
        return plain;
    }
    std::size_t end = std::min<std::size_t>(start, size);
    plain.indexLength = static_cast<std::uint32_t>(end > 16 ? end - 16 : 0);
    const std::uint8_t* index = data + 16;
    std::size_t at = 0;
    const auto wanted = static_cast<std::size_t>(plain.fileCount);
    while (plain.entries.size() < wanted && at + 9 <= plain.indexLength) {
        std::size_t name_end = at + 8;
        while (name_end < plain.indexLength && index[name_end] != 0) {
            ++name_end;
        }
        if (name_end == plain.indexLength) {
            break;
        }
        std::string_view name(reinterpret_cast<const char*>(index + at + 8), name_end - at - 8);
        plain.entries.push_back(
            {static_cast<std::uint32_t>(at), be32_at(index + at), be32_at(index + at + 4), name});
        at = name_end + 1;
    }
    return plain;
}

// The entry's view: its fields, and as much of its name as it holds. The
// view is not used after this: reading pieces moves the window.
void check_entry(const BigEntry& entry, const PlainEntry& plain) {
    check(entry.nameLength == plain.name.size(), "a name's length differs");
    check(!entry.name.empty() || plain.name.empty(), "an entry holds nothing of its name");
    check(plain.name.substr(0, entry.name.size()) == entry.name, "a name's start differs");
    check(entry_data_offset(entry) == plain.offset, "a dataOffset differs");
    check(entry_data_size(entry) == plain.size, "a dataSize differs");
}

// The whole name read back in pieces, from the start, each piece given by
// `piece_at(offset)`.
template <typename PieceAt>
void check_pieces(const PlainEntry& plain, PieceAt piece_at) {
    std::string name;
    while (name.size() < plain.name.size()) {
        std::optional<std::string_view> piece = piece_at(static_cast<std::uint32_t>(name.size()));
        check(piece && !piece->empty(), "a piece of a name is missing");
        check(name.size() + piece->size() <= plain.name.size(), "a piece runs past its name");
        name += *piece;
    }
    check(name == plain.name, "a name read in pieces differs");
}

// Entry n through find_entry: what the plain reading holds, or none.
void check_found(const PlainArchive& plain, std::uint32_t n) {
    std::optional<BigEntry> entry = find_entry(n);
    check(entry_lookup_failed() == 0, "a lookup failed on a readable file");
    if (n < plain.entries.size()) {
        check(entry.has_value(), "an entry that the index holds is missing");
        check_entry(*entry, plain.entries[n]);
        check_pieces(plain.entries[n], entry_name_piece);
        check(entry_name_piece(entry->nameLength) == std::string_view(), "a piece past a name's end");
    } else {
        check(!entry, "an entry beyond the index or fileCount");
    }
}

// Entry numbers in an order the input chooses, each at most once.
std::vector<std::uint32_t> shuffled(std::size_t count, const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint32_t> order(count);
    for (std::size_t i = 0; i < count; ++i) {
        order[i] = static_cast<std::uint32_t>(i);
    }
    for (std::size_t i = count; i > 1; --i) {
        std::size_t pick = data[(i * 7) % size] % i;
        std::swap(order[i - 1], order[pick]);
    }
    return order;
}

void walk_reader(const PlainArchive& plain, const std::uint8_t* data, std::size_t size) {
    BigHeader header{};
    check(get_header(&header) == 1, "no header after a successful open");
    check(header.fileCount == plain.fileCount, "fileCount decoded wrongly");
    check(header.archiveSize == size, "archiveSize decoded wrongly");
    check(header.startOffset == plain.startOffset, "startOffset decoded wrongly");

    const std::size_t count = plain.entries.size();
    for (std::uint32_t n = 0; n <= count; ++n) {
        check_found(plain, n);
    }
    check(!find_entry(static_cast<std::uint32_t>(plain.fileCount)), "an entry at fileCount");
    check(!find_entry(0xFFFFFFFFu), "an entry at the largest index");
    for (std::size_t n = count; n-- > 0;) {
        check_found(plain, static_cast<std::uint32_t>(n));
    }

    // Places met in one ascending walk, visited in another order.
    std::vector<EntryPlace> places;
    for (std::uint32_t n = 0; n < count; ++n) {
        std::optional<EntryPlace> place = find_entry_place(n);
        check(place && place->number == n && place->at == plain.entries[n].at, "a place differs");
        places.push_back(*place);
    }
    for (std::uint32_t n : shuffled(count, data, size)) {
        return_to_entry(places[n]);
        check_found(plain, n);
    }
}

void walk_window(const PlainArchive& plain, const std::uint8_t* data, std::size_t size) {
    FileHandle file = file_open(archive_path.c_str(), OpenMode::read_existing);
    check(file != INVALID_FILE, "cannot open the archive again");
    const std::uint32_t capacity = data[size - 1] % 48;
    IndexWindow window;
    check(window_open(window, file, 16, plain.indexLength, capacity) == 1, "no window");
    check(window_preload(window) == 1, "the preload failed");
    const std::uint32_t window_size = std::max<std::uint32_t>(capacity, 9);
    BigEntry entry{};
    auto piece_at = [&](const PlainEntry& expected) {
        return [&](std::uint32_t offset) -> std::optional<std::string_view> {
            std::string_view piece;
            const auto length = static_cast<std::uint32_t>(expected.name.size());
            if (window_bytes(window, expected.at + 8 + offset, length - offset, &piece) !=
                WindowStatus::found) {
                return std::nullopt;
            }
            return piece;
        };
    };
    for (const PlainEntry& expected : plain.entries) {
        check(window_entry(window, expected.at, &entry) == WindowStatus::found,
              "the window misses an entry");
        check_entry(entry, expected);
        // Whole when the name fits the window after the entry's fixed fields.
        check(entry_name_is_whole(entry) == (expected.name.size() + 8 <= window_size),
              "a name is held whole or not against the window's size");
        check_pieces(expected, piece_at(expected));
    }
    // Past the entries the plain reading found, unless fileCount stopped it,
    // the window finds nothing either.
    if (plain.entries.size() < static_cast<std::size_t>(plain.fileCount)) {
        std::uint32_t after = 0;
        if (!plain.entries.empty()) {
            const PlainEntry& last = plain.entries.back();
            after = last.at + 9 + static_cast<std::uint32_t>(last.name.size());
        }
        check(window_entry(window, after, &entry) == WindowStatus::missing,
              "an entry beyond the index");
    }
    for (std::uint32_t n : shuffled(plain.entries.size(), data, size)) {
        std::uint32_t position = 0;
        check(file_seek(file, 0, &position) == 1, "seek failed");
        check(window_entry(window, plain.entries[n].at, &entry) == WindowStatus::found,
              "a jump misses an entry");
        check_entry(entry, plain.entries[n]);
        check_pieces(plain.entries[n], piece_at(plain.entries[n]));
    }
    check(window.size == window_size, "the window's size changed");
    window_close(window);
    file_close(file);
}

struct Memory {
    const std::uint8_t* data;
    std::size_t size;
};

int read_memory(void* context, std::uint64_t offset, void* buffer, std::size_t count, std::size_t* got) {
    const auto* memory = static_cast<const Memory*>(context);
    std::size_t left = offset < memory->size ? memory->size - offset : 0;
    *got = std::min(count, left);
    if (*got > 0) {
        std::memcpy(buffer, memory->data + offset, *got);
    }
    return 0;
}

std::string folded(std::string_view name) {
    std::string key;
    for (char c : name) {
        key += c == '/' ? '\\' : (c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c);
    }
    return key;
}

// The archive's first entries copied into a new archive by the writer:
// refused with a status and a message (an unsafe name, data past the end),
// or written whole, reading back as they were.
void copy_through_writer(const bt_archive* archive) {
    const std::string path = archive_path + ".copy";
    bt_writer* writer = nullptr;
    check(bt_writer_new(&writer, path.c_str()) == BT_OK, "no writer");
    const std::uint32_t count = std::min<std::uint32_t>(bt_entry_count(archive), 64);
    int status = BT_OK;
    std::uint32_t added = 0;
    for (std::uint32_t k = 0; k < count; ++k) {
        int one = bt_writer_add_entry(writer, archive, k);
        check(one == BT_OK || ((one == BT_ERR_UNSAFE_NAME || one == BT_ERR_ARGUMENT || one == BT_ERR_LIMIT) &&
                               *bt_writer_errmsg(writer)),
              "an entry refused without its status or message");
        added += one == BT_OK;
    }
    status = bt_writer_commit(writer);
    check(status == BT_OK || (status == BT_ERR_READ && *bt_writer_errmsg(writer)) ||
              (status == BT_ERR_ARGUMENT && added == 0),
          "a commit failed wrongly");
    bt_writer_free(writer);
    bt_archive* copy = nullptr;
    if (status == BT_OK) {
        check(bt_open(&copy, path.c_str()) == BT_OK && bt_entry_count(copy) == added, "the copy is not whole");
        bt_close(copy);
        std::remove(path.c_str());
    }
    check(access(path.c_str(), F_OK) != 0, "a failed commit left its archive");
}

// What bt_check gave: each finding well formed, and the entries whose data
// lies past the end among them.
struct Findings {
    std::uint32_t count = 0;
    std::uint64_t errors = 0;
    std::vector<bool> pastEnd;
};

int note_finding(void* context, const bt_finding* finding) {
    auto* seen = static_cast<Findings*>(context);
    const int kind = bt_finding_kind(finding);
    const std::uint32_t entry = bt_finding_entry(finding);
    const std::uint32_t other = bt_finding_other(finding);
    check(kind >= BT_CHECK_EMPTY_NAME && kind <= BT_CHECK_GAME_READS_AS_ONE && kind != BT_CHECK_INDEX_SHORT,
          "a finding of no kind");
    check((entry < seen->count || entry == BT_NO_ENTRY) && (other < seen->count || other == BT_NO_ENTRY) &&
              (entry == BT_NO_ENTRY) == (kind == BT_CHECK_END_RECORD) && *bt_finding_message(finding) != '\0',
          "a finding about no entry, or without its message");
    seen->errors += bt_finding_is_error(finding) ? 1 : 0;
    if (kind == BT_CHECK_DATA_PAST_END) {
        seen->pastEnd[entry] = true;
    }
    return 0;
}

void check_api(bt_archive* archive, const PlainArchive& plain, std::size_t size) {
    Findings seen;
    seen.count = static_cast<std::uint32_t>(plain.entries.size());
    seen.pastEnd.assign(seen.count, false);
    std::uint64_t errors = 0;
    check(bt_check(archive, note_finding, &seen, &errors) == BT_OK && errors == seen.errors,
          "bt_check failed in memory, or miscounted its errors");
    for (std::uint32_t k = 0; k < seen.count; ++k) {
        const PlainEntry& entry = plain.entries[k];
        check(seen.pastEnd[k] == (entry.size > 0 && std::uint64_t{entry.offset} + entry.size > size),
              "data past the end found wrongly");
    }
}

void walk_api(const PlainArchive& plain, const std::uint8_t* data, std::size_t size) {
    Memory memory{data, size};
    bt_archive* archive = nullptr;
    int status = bt_open_reader(&archive, read_memory, &memory, size);
    const bool whole = plain.accepted && plain.entries.size() == static_cast<std::size_t>(plain.fileCount);
    check((status == BT_OK) == whole, "the API accepted or refused wrongly");
    check(status == BT_OK || (status < 0 && bt_status_name(status) != nullptr && archive == nullptr &&
                              *bt_last_errmsg() != '\0'),
          "a refusal without its status, message or null handle");
    if (status != BT_OK) {
        return;
    }
    const auto count = static_cast<std::uint32_t>(plain.entries.size());
    check(bt_entry_count(archive) == count, "the API's count differs");
    std::vector<std::uint8_t> buffer(size + 1);
    for (std::uint32_t k = 0; k < count; ++k) {
        const PlainEntry& expected = plain.entries[k];
        const char* name = nullptr;
        std::size_t length = 0;
        std::uint32_t data_size = 0;
        std::uint32_t offset = 0;
        check(bt_entry(archive, k, &name, &length, &data_size, &offset) == BT_OK, "bt_entry failed");
        check(std::string_view(name, length) == expected.name && name[length] == '\0', "a name differs");
        check(data_size == expected.size && offset == expected.offset, "an entry's fields differ");
        std::uint32_t found = count;
        check(bt_lookup(archive, name, length, &found) == BT_OK && found <= k &&
                  folded(plain.entries[found].name) == folded(expected.name),
              "a lookup missed its entry, or gave a later one");
        std::size_t want = std::min<std::size_t>(data_size, buffer.size());
        std::size_t got = 0;
        int read = bt_read(archive, k, 0, buffer.data(), buffer.size(), &got);
        if (want == 0 || std::uint64_t{offset} + want <= size) {
            check(read == BT_OK && got == want && std::memcmp(buffer.data(), data + offset, want) == 0,
                  "an entry's data differs");
        } else {
            check(read == BT_ERR_READ && got < want, "data past the end read as whole");
        }
    }
    const char* every[] = {"*"};
    std::size_t selected = 0;
    check(bt_select(archive, every, 1, nullptr, 0, &selected) == BT_OK && selected == count,
          "'*' does not select every entry");
    check(bt_entry(archive, count, nullptr, nullptr, nullptr, nullptr) == BT_ERR_ARGUMENT,
          "an entry past the last");
    check_api(archive, plain, size);
    copy_through_writer(archive);
    bt_close(archive);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The reader's messages would drown the fuzzer's own, which go to stderr.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) {
        std::abort();
    }
    // A file in memory where there is one: the file is rewritten every run.
    archive_path = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    archive_path += "/bigtool-reader-fuzz-XXXXXX";
    int fd = mkstemp(archive_path.data());
    check(fd >= 0, "no temporary file");
    close(fd);
    std::atexit([] { std::remove(archive_path.c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(archive_path.c_str(), "wb");
    check(file != nullptr, "cannot write the temporary archive");
    check(size == 0 || std::fwrite(data, 1, size, file) == size, "short write");
    std::fclose(file);

    const PlainArchive plain = read_plainly(data, size);
    BigHeader header{};
    check(get_header(&header) == 0, "a header before any open");
    int opened = open_archive(archive_path.c_str());
    check(opened == (plain.accepted ? 1 : 0), "accepted or refused wrongly");
    if (opened) {
        walk_reader(plain, data, size);
    }
    close_archive();
    check(get_header(&header) == 0, "a header after close");
    check(!find_entry(0), "an entry after close");
    if (plain.accepted) {
        walk_window(plain, data, size);
    }
    walk_api(plain, data, size);
    return 0;
}
