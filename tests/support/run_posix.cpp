// run_tool for POSIX hosts: fork and exec, no shell in between.
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/run_tool.h"

std::string tool_path() {
    const char* configured = std::getenv("BIGTOOL_EXE");
    static const std::string path =
        std::filesystem::absolute(configured ? configured : "bigtool").string();
    return path;
}

ToolRun run_tool(const std::vector<std::string>& args, const std::string& cwd,
                 const std::string& err_file) {
    ToolRun run;
    std::string program = tool_path();
    int out_pipe[2];
    if (pipe(out_pipe) != 0) {
        return run;
    }
    pid_t child = fork();
    if (child == 0) {
        std::vector<char*> argv;
        argv.push_back(program.data());
        for (const std::string& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        int err = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int in = open("/dev/null", O_RDONLY);
        if (err < 0 || in < 0 || chdir(cwd.c_str()) != 0) {
            _exit(127);
        }
        dup2(in, 0);
        dup2(out_pipe[1], 1);
        dup2(err, 2);
        close(out_pipe[0]);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(out_pipe[1]);
    char buffer[65536];
    for (;;) {
        ssize_t got = read(out_pipe[0], buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        run.out.append(buffer, static_cast<std::size_t>(got));
    }
    close(out_pipe[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::ifstream err_in(err_file, std::ios::binary);
    std::stringstream err_text;
    err_text << err_in.rdbuf();
    run.err = err_text.str();
    return run;
}
