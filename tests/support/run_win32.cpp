// run_tool for Windows hosts: one command line through cmd.exe, which sets
// the working directory and the standard streams.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>

#include "support/run_tool.h"

namespace {

constexpr int RUN_ATTEMPTS = 3;
constexpr int CMD_COULD_NOT_START = 9009;

// One argument as the C runtime's start-up splits it back: inside double
// quotes, backslashes count only before a quote, where each is doubled and
// the quote itself escaped.
void append_quoted(std::string& line, const std::string& arg) {
    line += '"';
    std::size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            line.append(backslashes * 2 + 1, '\\');
        } else {
            line.append(backslashes, '\\');
        }
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, '\\');
    line += '"';
}

// cmd.exe reads the line first: outside what it takes for quotes, its
// special characters are escaped with ^. Every " switches its quoting, so an
// escaped quote inside an argument exposes the rest of it. A % is left
// alone: cmd keeps %NAME% as typed unless NAME is a set variable, and Wine's
// cmd would keep a ^ before it.
std::string escape_for_cmd(const std::string& line) {
    std::string escaped;
    bool quoted = false;
    for (char c : line) {
        if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && std::string_view("&|<>()^").find(c) != std::string_view::npos) {
            escaped += '^';
        }
        escaped += c;
    }
    return escaped;
}

// The tests write arguments in UTF-8; the system's wide command line holds
// them whole, as a user's typing would.
std::wstring widened(const std::string& utf8) {
    int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
    return wide;
}

std::string crlf_to_lf(const std::string& text) {
    std::string lines;
    lines.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;
        }
        lines += text[i];
    }
    return lines;
}

}  // namespace

std::string tool_path() {
    const char* configured = std::getenv("BIGTOOL_EXE");
    static const std::string path =
        std::filesystem::absolute(configured ? configured : "bigtool.exe").string();
    return path;
}

ToolRun run_tool(const std::vector<std::string>& args, const std::string& cwd,
                 const std::string& err_file, const RunOptions& options) {
    ToolRun run;
    // A test that asks for these must skip on Windows; running without them
    // would test something else.
    if (options.fileSizeLimit != 0 || options.memoryLimit != 0 || !options.killAtGate.empty() || !options.closedStreams.empty() ||
        !options.outFile.empty() || options.removeCwd || options.outputReaderGone) {
        run.err = "run_tool: a run option that only POSIX hosts give was asked for\n";
        return run;
    }
    // The variables are set in cmd.exe, for the tool alone: tests may run
    // this from a second thread. An empty value unsets the name there.
    std::string line;
    for (const std::string& pair : options.env) {
        line += "set ";
        append_quoted(line, pair);
        line += " && ";
    }
    line += "cd /d ";
    append_quoted(line, cwd);
    line += " && ";
    append_quoted(line, options.program.empty() ? tool_path() : options.program);
    // The redirections come before the arguments, whose quotes may leave
    // cmd's quoting switched at the end.
    line += " 2>";
    append_quoted(line, err_file);
    line += " <NUL";
    std::string arg_text;
    for (const std::string& arg : args) {
        arg_text += ' ';
        append_quoted(arg_text, arg);
    }
    line += escape_for_cmd(arg_text);
    // cmd /c drops the first and the last quote of a line that holds more
    // than two; the outer pair is there to be dropped.
    std::wstring command = widened("\"" + line + "\"");
    // Under a loaded Wine, starting cmd.exe, or the tool from it, now and
    // then fails. Neither started anything, so it is tried again; 9009 is
    // cmd's status for a program it could not start, never the tool's.
    std::string out;
    for (int attempt = 0; attempt < RUN_ATTEMPTS; ++attempt) {
        std::fflush(nullptr);
        FILE* pipe = _wpopen(command.c_str(), L"rb");
        if (pipe == nullptr) {
            continue;
        }
        out.clear();
        char buffer[65536];
        std::size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            out.append(buffer, got);
        }
        run.status = _pclose(pipe);
        if (run.status != CMD_COULD_NOT_START) {
            break;
        }
    }
    // The console's line ends are the system's; the tests compare lines.
    run.out = options.dataOutput ? out : crlf_to_lf(out);
    std::ifstream err_in(err_file, std::ios::binary);
    std::stringstream err_text;
    err_text << err_in.rdbuf();
    run.err = crlf_to_lf(err_text.str());
    return run;
}
