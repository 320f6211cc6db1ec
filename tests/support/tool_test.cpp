// See tool_test.h.
#include "support/tool_test.h"

#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>

namespace fs = std::filesystem;

std::string info_block(const std::string& archive, int files, unsigned long size,
                       unsigned long start_offset) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "Validating '%s': Done\n\n\tInformation\nFiles: %d\nSize: %lu\nStart offset: "
                  "%08lX\n\n",
                  archive.c_str(), files, size, start_offset);
    return text;
}

std::string extract_opening(const std::string& outdir, int index_arguments) {
    return "Output directory: " + outdir + "\nExtracting " + std::to_string(index_arguments) +
           " file(s)...\n\n";
}

bool host_is_windows() {
    return fs::path::preferred_separator == '\\';
}

bool seam_built() {
    return BIGTOOL_SEAM_BUILT != 0;
}

std::vector<CopyWay> copy_ways() {
    std::vector<CopyWay> ways = {{"system_copy", {}}};
    if (seam_built()) {
        RunOptions read_write;
        read_write.env = {"BIGTOOL_NO_KERNEL_COPY=1"};
        ways.push_back({"read_and_write", read_write});
    }
    return ways;
}

void ToolTest::SetUp() {
    // Short, so that tests near the path limits keep their room on hosts
    // whose temporary folder is deep.
    std::random_device random;
    do {
        dir_ = fs::temp_directory_path() / ("bt-" + std::to_string(random()));
    } while (!fs::create_directories(dir_));
    dir_ = fs::canonical(dir_);
}

void ToolTest::TearDown() {
    if (HasFailure()) {
        std::printf("The failed test's folder is kept: %s\n", dir_.string().c_str());
        return;
    }
    std::error_code ignored;
    // Tests may leave read-only folders behind; open them up first.
    for (auto it = fs::recursive_directory_iterator(dir_, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(dir_, ignored);
    fs::remove(dir_.parent_path() / (dir_.filename().string() + ".err"), ignored);
}

ToolRun ToolTest::run(const std::vector<std::string>& args, const RunOptions& options) {
    return run_in("", args, options);
}

ToolRun ToolTest::run_in(const std::string& relative, const std::vector<std::string>& args,
                         const RunOptions& options) {
    const fs::path cwd = relative.empty() ? dir_ : at(relative);
    return run_tool(args, cwd.string(), (dir_.parent_path() / (dir_.filename().string() + ".err")).string(),
                    options);
}

fs::path ToolTest::at(const std::string& relative) const {
    return dir_ / fs::path(relative).make_preferred();
}

void ToolTest::write_file(const std::string& relative, const std::string& bytes) const {
    fs::path path = at(relative);
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ToolTest::read_file(const std::string& relative) const {
    std::ifstream in(at(relative), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool ToolTest::exists(const std::string& relative) const {
    return fs::exists(at(relative));
}

std::vector<std::string> ToolTest::files_below(const std::string& relative) const {
    std::vector<std::string> found;
    fs::path root = at(relative);
    std::error_code ignored;
    for (auto it = fs::recursive_directory_iterator(root, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_regular_file()) {
            found.push_back(fs::relative(it->path(), root).generic_string());
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::string ToolTest::local(const std::string& relative) const {
    std::string path = dir_.string();
    if (!relative.empty()) {
        path += static_cast<char>(fs::path::preferred_separator);
        for (char c : relative) {
            path += c == '/' ? static_cast<char>(fs::path::preferred_separator) : c;
        }
    }
    return path;
}

std::string ToolTest::create_opening(const std::string& input, const std::string& archive) const {
    return BANNER + "Import directory: " + local(input) + "\n\nCreating '" + archive + "'\n";
}

std::string ToolTest::extracting(int n, std::size_t size, const std::string& name,
                                 const std::string& target) const {
    return "Extracting[" + std::to_string(n) + "] " + std::to_string(size) + " bytes from '" + name +
           "' to '" + local(target) + "': ";
}
