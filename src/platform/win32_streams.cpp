// Win32 backend, the standard streams: made safe at the start of a run,
// standard output taken for data, and a console given text it shows as it
// is. The ANSI code page's rules (its lead bytes, what it makes controls)
// are read here once.
#if !defined(_WIN32)
#error "win32_streams.cpp belongs to the Windows backend"
#endif

#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string_view>

#include "cli/text/printable.h"
#include "platform/platform.h"
#include "platform/system.h"

namespace {

// The ANSI code page's rules, read once at the start of the run: for
// printable(), the relay and local_lead_bytes.
ConsoleText ansiText;

// Standard output had no handle when the run started.
bool outputWasClosed = false;

// The console as the run found it, before the relay took standard output.
ConsoleStart startConsole;

// What the console makes of each byte in the ANSI code page, in which this
// program's names and paths are: UTF-8's rules where that is the code page.
ConsoleText code_page_text() {
    ConsoleText console;
    UINT code_page = GetACP();
    if (code_page == CP_UTF8) {
        return console;
    }
    console.utf8 = false;
    for (int value = 1; value < 256; ++value) {
        auto byte = static_cast<BYTE>(value);
        if (IsDBCSLeadByteEx(code_page, byte)) {
            console.leadBytes[byte] = true;
            continue;
        }
        char text = static_cast<char>(byte);
        wchar_t wide = 0;
        int length = MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, &text, 1, &wide, 1);
        console.controls[byte] = length != 1 || wide < 0x20 || (wide >= 0x7F && wide <= 0x9F) ||
                                 (wide >= 0x202A && wide <= 0x202E) ||
                                 (wide >= 0x2066 && wide <= 0x2069);
    }
    return console;
}

// A console shows the bytes written to it in its own code page (the OEM
// one, 437 or 850), while this program's text is in the ANSI one. So what
// goes to a console (the text, FIND's rows, GET's bytes) goes into a pipe,
// and a thread converts it from the ANSI code page and writes it to the
// console as wide text, in the order written. Redirected output is not
// touched.
struct ConsoleRelay {
    HANDLE console = nullptr;   // the console, kept aside
    HANDLE pipe = nullptr;      // the read end
    HANDLE thread = nullptr;    // null when no relay runs
    bool refused = false;       // set by the thread; read once it has ended
    std::FILE* data = nullptr;  // FIND's rows or GET's bytes, when they go through it
};
ConsoleRelay relay;

constexpr DWORD RELAY_CHUNK = 4096;

bool is_console(HANDLE handle) {
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode) != 0;
}

// The ANSI text in `bytes` to the console; false when it was refused.
// `wide` has room for `length` units: no byte gives more than one (a
// 4-byte UTF-8 sequence gives two).
bool write_wide(const char* bytes, std::size_t length, wchar_t* wide) {
    if (length == 0) {
        return true;
    }
    int count = MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(length), wide,
                                    static_cast<int>(length));
    for (int done = 0; done < count;) {
        DWORD put = 0;
        if (!WriteConsoleW(relay.console, wide + done, static_cast<DWORD>(count - done), &put, nullptr) ||
            put == 0) {
            return false;
        }
        done += static_cast<int>(put);
    }
    return count > 0;
}

// Reads the pipe to its end. A character cut between two reads waits for
// the rest; after a refusal the pipe is still read, so that the program
// never waits on a full pipe.
DWORD WINAPI relay_to_console(void*) {
    char bytes[RELAY_CHUNK + 4];  // + what is carried over: at most 3 bytes
    wchar_t wide[RELAY_CHUNK + 4];
    std::size_t carried = 0;
    DWORD got = 0;
    while (ReadFile(relay.pipe, bytes + carried, RELAY_CHUNK, &got, nullptr) && got > 0) {
        std::size_t have = carried + got;
        std::size_t whole = whole_characters(std::string_view(bytes, have), ansiText);
        relay.refused = relay.refused || !write_wide(bytes, whole, wide);
        carried = have - whole;
        std::memmove(bytes, bytes + whole, carried);
    }
    relay.refused = relay.refused || !write_wide(bytes, carried, wide);
    return 0;
}

// Waits until the relay has written all that the pipe held: its write end
// must be closed first. False when the console refused some of it.
bool end_console_relay() {
    if (relay.thread == nullptr) {
        return true;
    }
    WaitForSingleObject(relay.thread, INFINITE);
    CloseHandle(relay.thread);
    CloseHandle(relay.pipe);
    CloseHandle(relay.console);
    bool refused = relay.refused;
    relay = ConsoleRelay{};
    return !refused;
}

// Starts the relay to the console that `target` writes to; the pipe's
// write end as a descriptor in text mode (the console gets its CR LF, as
// before), or -1, and nothing runs.
int start_console_relay(HANDLE target) {
    HANDLE self = GetCurrentProcess();
    HANDLE console = nullptr;
    if (!is_console(target) || !DuplicateHandle(self, target, self, &console, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        return -1;
    }
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, nullptr, 64 * 1024)) {
        CloseHandle(console);
        return -1;
    }
    int written = _open_osfhandle(reinterpret_cast<std::intptr_t>(write_end), _O_TEXT | _O_WRONLY);
    if (written < 0) {
        CloseHandle(write_end);
        CloseHandle(read_end);
        CloseHandle(console);
        return -1;
    }
    relay.console = console;
    relay.pipe = read_end;
    relay.thread = CreateThread(nullptr, 0, relay_to_console, nullptr, 0, nullptr);
    if (relay.thread == nullptr) {
        _close(written);
        CloseHandle(read_end);
        CloseHandle(console);
        relay = ConsoleRelay{};
        return -1;
    }
    return written;
}

// Descriptor 1, behind stdout, writes into a relay to `target`'s console.
// Where a step fails, it keeps writing where it did.
void relay_console_text(HANDLE target) {
    int written = start_console_relay(target);
    if (written < 0) {
        return;
    }
    bool moved = _dup2(written, _fileno(stdout)) == 0;
    _close(written);
    if (!moved) {
        end_console_relay();  // its pipe has no writer left
        return;
    }
    // Each printf at once, as on a console: "Extracting ...: " shows before
    // the entry is written (msvcrt knows no line buffering).
    std::setvbuf(stdout, nullptr, _IONBF, 0);
}

ConsoleStart find_console_start() {
    ConsoleStart console;
    DWORD processes[2];
    console.processes = GetConsoleProcessList(processes, 2);  // the whole count, even past 2
    console.outputIsConsole = is_console(GetStdHandle(STD_OUTPUT_HANDLE));
    // Wine: its console of a Unix terminal, which its programs get for
    // themselves, cannot be told from one that Explorer would make.
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    console.maybeTerminal = ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
    return console;
}

}  // namespace

const LeadBytes& local_lead_bytes() {
    return ansiText.leadBytes;
}

int prepare_process() {
    // Handles are not numbered like POSIX descriptors: a file opened later
    // never becomes a missing standard stream, and the C runtime marks such
    // a stream unusable. Where the runtime lets it, the stream is given the
    // null device instead; where it does not (Wine's), output written to a
    // missing standard output is lost and ends the run with status 2.
    struct Stream {
        DWORD id;
        std::FILE* stream;
        const char* mode;
    };
    const Stream streams[] = {{STD_INPUT_HANDLE, stdin, "r"},
                              {STD_OUTPUT_HANDLE, stdout, "w"},
                              {STD_ERROR_HANDLE, stderr, "w"}};
    for (const Stream& s : streams) {
        HANDLE handle = GetStdHandle(s.id);
        if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
            static_cast<void>(std::freopen("NUL", s.mode, s.stream));
            outputWasClosed = outputWasClosed || s.id == STD_OUTPUT_HANDLE;
        }
    }
    ansiText = code_page_text();
    set_console_text(ansiText);
    startConsole = find_console_start();
    relay_console_text(GetStdHandle(STD_OUTPUT_HANDLE));
    return 1;
}

int finish_console_output() {
    if (relay.thread == nullptr) {
        return 1;
    }
    // With every write end closed (descriptor 1, the data's), the relay
    // reads to the end.
    bool written = std::fflush(stdout) == 0;
    if (relay.data != nullptr) {
        written = std::fclose(relay.data) == 0 && written;
        relay.data = nullptr;
    }
    _close(_fileno(stdout));
    return end_console_relay() && written ? 1 : 0;
}

void keep_running_when_output_closes() {
    // A write to a pipe whose reader is gone fails here; no signal ends the run.
}

std::FILE* take_standard_output() {
    if (std::fflush(stdout) != 0) {
        return nullptr;
    }
    // The data keeps what descriptor 1 writes to (a file, a pipe, or the
    // console's relay, which keeps its bytes in order with the text), in
    // binary, so that no byte 0A gains a 0D.
    const bool relayed = relay.thread != nullptr;
    int data = _dup(_fileno(stdout));
    if (data < 0) {
        return nullptr;
    }
    // Descriptor 1, behind stdout, becomes standard error's; where that is
    // the console whose relay already runs, it stays.
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (!relayed || !is_console(error)) {
        if (_dup2(_fileno(stderr), _fileno(stdout)) != 0) {
            return nullptr;
        }
        if (!relayed) {
            relay_console_text(error);
        }
    }
    _setmode(data, _O_BINARY);
    std::FILE* stream = _fdopen(data, "wb");
    if (relayed) {
        relay.data = stream;
    }
    return stream;
}

bool standard_output_was_closed() {
    return outputWasClosed;
}

ConsoleStart console_start() {
    return startConsole;
}

void wait_for_enter(const char* prompt) {
    // The console itself: by now the relay is gone and descriptor 1 closed.
    HANDLE output = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
    if (output != INVALID_HANDLE_VALUE) {
        for (const char* at = prompt; *at != '\0'; ++at) {
            const wchar_t wide[2] = {L'\r', static_cast<wchar_t>(static_cast<unsigned char>(*at))};  // ASCII
            const bool line_end = *at == '\n';
            DWORD put = 0;
            WriteConsoleW(output, line_end ? wide : wide + 1, line_end ? 2 : 1, &put, nullptr);
        }
        CloseHandle(output);
    }
    if (input == INVALID_HANDLE_VALUE) {
        return;
    }
    // Keys pressed while the run worked do not close the window unread.
    FlushConsoleInputBuffer(input);
    SetConsoleMode(input, ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_PROCESSED_INPUT);
    wchar_t line[256];
    DWORD got = 0;
    while (ReadConsoleW(input, line, 256, &got, nullptr) && got > 0) {
        if (std::wmemchr(line, L'\r', got) != nullptr || std::wmemchr(line, L'\n', got) != nullptr) {
            break;
        }
    }
    CloseHandle(input);
}

FileHandle sys::stream_handle(std::FILE* stream) {
    return _get_osfhandle(_fileno(stream));
}
