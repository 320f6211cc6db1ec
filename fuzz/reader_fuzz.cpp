// Any byte string, opened as an archive and listed entry by entry through
// the reader. ASan catches a read past the loaded index; the checks below
// catch a reader that accepts what it must refuse or hands out entries that
// disagree with each other.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

#include "archive/reader.h"

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

    BigHeader header{};
    check(get_header(&header) == 0, "a header before any open");
    if (open_archive(archive_path.c_str()) == 1) {
        check(get_header(&header) == 1, "no header after a successful open");
        // The header as the file holds it, missing bytes read as zero.
        std::uint8_t raw[16] = {};
        std::memcpy(raw, data, size < 16 ? size : 16);
        check(std::memcmp(raw, "BIGF", 4) == 0, "accepted a wrong magic");
        check(header.archiveSize == le32_at(raw + 4), "archiveSize decoded wrongly");
        check(header.archiveSize == static_cast<std::uint32_t>(size), "accepted a size mismatch");
        check(static_cast<std::uint32_t>(header.fileCount) == be32_at(raw + 8),
              "fileCount decoded wrongly");
        check(header.fileCount >= 1, "accepted an archive without files");
        check(header.startOffset == be32_at(raw + 12), "startOffset decoded wrongly");

        // Every entry lies inside the file's index bytes, the one after the
        // previous, and each is 9 bytes plus its name.
        std::vector<BigEntry> listed;
        for (std::int32_t n = 0; n < header.fileCount; ++n) {
            std::optional<BigEntry> entry = find_entry(static_cast<std::uint32_t>(n));
            if (!entry) {
                break;
            }
            check(entry->name.data()[entry->name.size()] == '\0', "name without its terminator");
            check(std::memchr(entry->name.data(), 0, entry->name.size()) == nullptr,
                  "name with a zero byte inside");
            if (!listed.empty()) {
                const BigEntry& before = listed.back();
                check(entry->bytes == before.bytes + 9 + before.name.size(),
                      "entries not back to back");
            }
            // An entry's fields must be readable; ASan judges the reads.
            volatile std::uint32_t sum = entry_data_offset(*entry) + entry_data_size(*entry);
            (void)sum;
            listed.push_back(*entry);
        }
        std::size_t total = 0;
        for (const BigEntry& entry : listed) {
            total += 9 + entry.name.size();
        }
        check(total <= size - 16, "entries beyond the file");
        check(!find_entry(static_cast<std::uint32_t>(header.fileCount)), "an entry at fileCount");
        check(!find_entry(0xFFFFFFFFu), "an entry at the largest index");
        // Going back must give the same entries as walking forward.
        if (!listed.empty()) {
            std::size_t pick = data[size - 1] % listed.size();
            std::optional<BigEntry> again = find_entry(static_cast<std::uint32_t>(pick));
            check(again && again->bytes == listed[pick].bytes, "a second lookup disagrees");
            std::optional<BigEntry> first = find_entry(0);
            check(first && first->bytes == listed[0].bytes, "the first entry moved");
        }
    }
    close_archive();
    check(get_header(&header) == 0, "a header after close");
    check(!find_entry(0), "an entry after close");
    return 0;
}
