// Running the built tool as a user would: a fresh process, its own working
// directory, standard output and standard error captured apart.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ToolRun {
    std::string out;
    std::string err;
    int status = -1;  // the exit status, or 128 + the signal that ended the run
};

// What a run may change about the process it starts. Everything is off by
// default, so the plain run is the tool as a user starts it.
struct RunOptions {
    std::vector<std::string> env;  // NAME=VALUE pairs added to the inherited environment
    // POSIX hosts only; elsewhere tests that need these skip themselves.
    std::uint64_t file_size_limit = 0;  // RLIMIT_FSIZE in bytes with SIGXFSZ ignored; 0: none
    std::uint64_t memory_limit = 0;     // RLIMIT_AS in bytes; 0: none
    std::string kill_when_exists;       // the tool is killed (SIGKILL) once this file exists
};

// The tool's path comes from the BIGTOOL_EXE environment variable, relative
// to the directory the tests start in, or absolute.
std::string tool_path();

// Runs the tool with `args` (argv[1] onwards, passed literally, no wildcard
// expansion) in the directory `cwd`. Standard error goes to `err_file`.
ToolRun run_tool(const std::vector<std::string>& args, const std::string& cwd,
                 const std::string& err_file, const RunOptions& options = {});
