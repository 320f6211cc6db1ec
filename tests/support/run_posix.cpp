// run_tool for POSIX hosts: fork and exec, no shell in between.
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/run_tool.h"

extern char** environ;

std::string tool_path() {
    const char* configured = std::getenv("BIGTOOL_EXE");
    static const std::string path =
        std::filesystem::absolute(configured ? configured : "bigtool").string();
    return path;
}

namespace {

// A run that has not ended by then is taken as hung and killed.
constexpr int HANG_LIMIT_MS = 120000;
constexpr int POLL_MS = 10;

// In the child: `resource` limited to `bytes`; 0 leaves it as it is.
bool limit_to(decltype(RLIMIT_AS) resource, std::uint64_t bytes) {
    if (bytes == 0) {
        return true;
    }
    struct rlimit limit;
    limit.rlim_cur = bytes;
    limit.rlim_max = bytes;
    return setrlimit(resource, &limit) == 0;
}

}  // namespace

ToolRun run_tool(const std::vector<std::string>& args, const std::string& cwd,
                 const std::string& err_file, const RunOptions& options) {
    ToolRun run;
    // Everything the child needs is made before the fork: tests may run this
    // from a second thread, and the child must not allocate.
    std::string program = options.program.empty() ? tool_path() : options.program;
    std::vector<char*> argv;
    argv.push_back(program.data());
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<std::string> env_text = options.env;
    std::vector<char*> envp;
    for (std::string& pair : env_text) {
        envp.push_back(pair.data());
    }
    for (char** inherited = environ; *inherited != nullptr; ++inherited) {
        envp.push_back(*inherited);  // the first of two equal names wins, so added pairs do
    }
    envp.push_back(nullptr);

    int out_pipe[2];
    if (pipe(out_pipe) != 0) {
        return run;
    }
    // A reader that has gone away, as `| head` leaves it once it has its lines.
    int gone_pipe[2] = {-1, -1};
    if (options.outputReaderGone) {
        if (pipe(gone_pipe) != 0) {
            return run;
        }
        close(gone_pipe[0]);
    }
    pid_t child = fork();
    if (child == 0) {
        int err = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int in = open("/dev/null", O_RDONLY);
        int out = options.outputReaderGone ? gone_pipe[1]
                  : options.outFile.empty() ? out_pipe[1]
                                            : open(options.outFile.c_str(), O_WRONLY);
        if (err < 0 || in < 0 || out < 0 || chdir(cwd.c_str()) != 0) {
            _exit(127);
        }
        if (options.removeCwd && rmdir(cwd.c_str()) != 0) {
            _exit(127);
        }
        // The tool meets the limit and a closed pipe as a user's shell
        // leaves them: SIGXFSZ and SIGPIPE at their default, which ends a
        // process that does not ignore them.
        signal(SIGXFSZ, SIG_DFL);
        signal(SIGPIPE, SIG_DFL);
        if (!limit_to(RLIMIT_FSIZE, options.fileSizeLimit) ||
            !limit_to(RLIMIT_AS, options.memoryLimit)) {
            _exit(127);
        }
        if (dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) {
            _exit(127);
        }
        // Nothing else of this process reaches the tool.
        for (int fd : {in, out, err, out_pipe[0], out_pipe[1], gone_pipe[1]}) {
            if (fd > 2) {
                close(fd);
            }
        }
        for (int fd : options.closedStreams) {
            close(fd);
        }
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    close(out_pipe[1]);
    if (gone_pipe[1] >= 0) {
        close(gone_pipe[1]);
    }
    char buffer[65536];
    const auto hung_at = std::chrono::steady_clock::now() + std::chrono::milliseconds(HANG_LIMIT_MS);
    bool killed = false;
    for (;;) {
        struct pollfd ready = {out_pipe[0], POLLIN, 0};
        int polled = poll(&ready, 1, POLL_MS);
        if (polled < 0 && errno != EINTR) {
            break;
        }
        bool kill_now = std::chrono::steady_clock::now() >= hung_at;
        // The tool holds the FIFO open for reading once it waits there; the
        // gate stays shut (open, nothing written) until the tool is gone.
        int gate = -1;
        if (!options.killAtGate.empty() && !killed) {
            gate = open(options.killAtGate.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            kill_now = kill_now || gate >= 0;
        }
        if (kill_now && !killed) {
            kill(child, SIGKILL);
            killed = true;
        }
        if (gate >= 0) {
            close(gate);
        }
        if (polled <= 0) {
            continue;
        }
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
