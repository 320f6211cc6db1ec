// host.h for Windows hosts, which have no tmpfs: the tests that need one
// skip. The pause gate is a named pipe.
#include <windows.h>

#include "support/host.h"

unsigned host_ansi_code_page() {
    return GetACP();
}

bool host_is_root() {
    return false;
}

std::string host_mount_tmpfs(const std::string&, std::size_t, bool, bool) {
    return "a small file system of its own needs a POSIX host";
}

void host_unmount(const std::string&) {}

std::string host_fold_case(const std::string&) {
    return "a case-insensitive tmpfs needs a POSIX host";
}

PauseGate::PauseGate(const std::string& unique) {
    // A pipe's name may not hold the path's separators.
    std::string name = "\\\\.\\pipe\\bigtool-gate-";
    for (char c : unique) {
        name += (c == '\\' || c == '/' || c == ':') ? '-' : c;
    }
    HANDLE pipe = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_OUTBOUND | FILE_FLAG_OVERLAPPED,
                                   PIPE_TYPE_BYTE | PIPE_WAIT, 1, 64, 64, 0, nullptr);
    if (pipe != INVALID_HANDLE_VALUE) {
        name_ = name;
        handle_ = reinterpret_cast<std::intptr_t>(pipe);
    }
}

PauseGate::~PauseGate() {
    release();
    if (handle_ != -1) {
        CloseHandle(reinterpret_cast<HANDLE>(handle_));
    }
}

bool PauseGate::wait_for_run(const std::atomic<bool>& run_ended) {
    if (handle_ == -1) {
        return false;
    }
    HANDLE pipe = reinterpret_cast<HANDLE>(handle_);
    OVERLAPPED connecting = {};
    connecting.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    bool connected = ConnectNamedPipe(pipe, &connecting) != 0 || GetLastError() == ERROR_PIPE_CONNECTED;
    if (!connected && GetLastError() == ERROR_IO_PENDING) {
        // The wait is cut into slices only to watch for a run that ended
        // without reaching the gate.
        while (!connected && !run_ended) {
            connected = WaitForSingleObject(connecting.hEvent, 10) == WAIT_OBJECT_0;
        }
        if (!connected) {
            CancelIo(pipe);
        }
    }
    CloseHandle(connecting.hEvent);
    return connected;
}

void PauseGate::release() {
    if (handle_ == -1) {
        return;
    }
    HANDLE pipe = reinterpret_cast<HANDLE>(handle_);
    OVERLAPPED writing = {};
    writing.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD put = 0;
    if (WriteFile(pipe, "g", 1, &put, &writing) || GetLastError() == ERROR_IO_PENDING) {
        GetOverlappedResult(pipe, &writing, &put, TRUE);
    }
    CloseHandle(writing.hEvent);
    DisconnectNamedPipe(pipe);
}
