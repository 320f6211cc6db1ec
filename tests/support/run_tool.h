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
    std::uint64_t fileSizeLimit = 0;  // RLIMIT_FSIZE in bytes (SIGXFSZ as by default); 0: none
    std::uint64_t memoryLimit = 0;    // RLIMIT_AS in bytes; 0: none
    std::string killAtGate;           // the tool is killed (SIGKILL) once it waits at this gate
    std::vector<int> closedStreams;   // of 0, 1 and 2: started with these descriptors closed
    std::string outFile;              // standard output goes to this file instead of the test
    bool outputReaderGone = false;    // standard output is a pipe whose reading end is closed
    // Standard output carries data: its bytes are kept as they come (on
    // Windows the console's CRLF line ends are otherwise read as LF).
    bool dataOutput = false;
    bool removeCwd = false;           // the working directory is removed before the tool starts
    std::string program;              // a copy of the tool to start instead (absolute path)
};

// The tool's path comes from the BIGTOOL_EXE environment variable, relative
// to the directory the tests start in, or absolute.
std::string tool_path();

// Runs the tool with `args` (argv[1] onwards, passed literally, no wildcard
// expansion) in the directory `cwd`. Standard error goes to `err_file`.
// Arguments are UTF-8 text; on Windows they reach the tool through the wide
// command line, as typed characters do.
ToolRun run_tool(const std::vector<std::string>& args, const std::string& cwd,
                 const std::string& err_file, const RunOptions& options = {});
