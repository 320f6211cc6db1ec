// Writes the fuzzers' seed corpora, made with the tests' own archive writer:
// make_corpus <reader corpus dir> <entry name corpus dir>. Both must exist.
#include <cstdio>
#include <string>
#include <vector>

#include "support/big_writer.h"

namespace {

int write_seed(const std::string& dir, const std::string& name, const std::string& bytes) {
    std::string path = dir + "/" + name;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::perror(path.c_str());
        return 0;
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_corpus <reader dir> <entry name dir>\n");
        return 1;
    }
    const std::string reader = argv[1];
    const std::string names = argv[2];

    std::string three = big_archive({{"a.txt", "abc"}, {"sub\\b.dat", ""}, {"sub\\deep\\c", "xyz"}});
    std::string shared = big_header("BIGF", 0, 2, 16 + 10 + 10 + 8) + big_entry(44, 2, "a") +
                         big_entry(44, 2, "b") + END_RECORD + "hi";
    patch_le32(shared, 4, static_cast<std::uint32_t>(shared.size()));
    std::string unterminated = big_header("BIGF", 0, 1, 16 + 12) + big_entry(28, 0, "abc", false);
    patch_le32(unterminated, 4, static_cast<std::uint32_t>(unterminated.size()));
    std::string count_high = three;
    patch_be32(count_high, 8, 0x7FFFFFFF);

    // Entries enough, and a name long enough, to cross small windows.
    std::vector<FixtureEntry> many;
    for (int i = 0; i < 40; ++i) {
        many.push_back({"d\\" + std::string(static_cast<std::size_t>(i % 9), 'x') + std::to_string(i), "z"});
    }
    many.push_back({std::string(300, 'n'), "long"});

    const std::vector<std::pair<std::string, std::string>> archives = {
        {"many_entries", big_archive(many)},
        {"one_entry", big_archive({{"a.txt", "abc"}})},
        {"three_entries", three},
        {"shared_data", shared},
        {"unterminated_name", unterminated},
        {"count_above_index", count_high},
        {"header_only", big_header("BIGF", 16, 1, 16)},
        {"short_header", std::string("BIGF") + le32(15) + be32(1) + std::string("\0\0\1", 3)},
    };
    int ok = 1;
    for (const auto& [name, bytes] : archives) {
        ok &= write_seed(reader, name, bytes);
    }
    const std::vector<std::string> entry_names = {
        "a.txt", "sub\\b.dat", "sub/deep/c", "..\\up", "a\\..\\..\\b", "C:\\x", "\\root",
        "a:b", "...", ". .\\x", "CON.txt", "./a", "a\\.\\b",
    };
    for (std::size_t i = 0; i < entry_names.size(); ++i) {
        ok &= write_seed(names, "name" + std::to_string(i), entry_names[i]);
    }
    return ok ? 0 : 1;
}
