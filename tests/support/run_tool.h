// Running the built tool as a user would: a fresh process, its own working
// directory, standard output and standard error captured apart.
#pragma once

#include <string>
#include <vector>

struct ToolRun {
    std::string out;
    std::string err;
    int status = -1;
};

// The tool's path comes from the BIGTOOL_EXE environment variable, relative
// to the directory the tests start in, or absolute.
std::string tool_path();

// Runs the tool with `args` (argv[1] onwards, passed literally, no wildcard
// expansion) in the directory `cwd`. Standard error goes to `err_file`.
ToolRun run_tool(const std::vector<std::string>& args, const std::string& cwd,
                 const std::string& err_file);
