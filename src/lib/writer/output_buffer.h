// What has been written to a new archive through its calls: bytes go
// through a buffer, written at their place each time it fills.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "lib/writer/write_calls.h"

struct OutputBuffer {
    WriteCalls& calls;
    std::uint32_t capacity;
    std::unique_ptr<std::uint8_t[]> buffer;  // null when there was no memory
    std::uint32_t held = 0;                  // bytes in the buffer, for `at` onwards
    std::uint64_t at = 0;

    OutputBuffer(WriteCalls& to, std::uint32_t size, std::uint64_t from)
        : calls(to), capacity(size), buffer(new (std::nothrow) std::uint8_t[size]), at(from) {}

    bool flush() {
        if (held > 0 && !calls.write_at(at, buffer.get(), held)) {
            return false;
        }
        at += held;
        held = 0;
        return true;
    }

    // `count` bytes after those held.
    bool append(const void* bytes, std::size_t count) {
        const auto* from = static_cast<const std::uint8_t*>(bytes);
        while (count > 0) {
            if (held == capacity && !flush()) {
                return false;
            }
            const std::size_t take = std::min<std::size_t>(count, capacity - held);
            std::memcpy(buffer.get() + held, from, take);
            held += static_cast<std::uint32_t>(take);
            from += take;
            count -= take;
        }
        return true;
    }

    // The system's copy of up to `count` bytes of `source` from `from`,
    // after the bytes held: those it copied; *written is false when what
    // was held could not be written.
    std::uint64_t copy(FileHandle source, std::uint64_t from, std::uint64_t count, bool* written) {
        *written = flush();
        if (!*written) {
            return 0;
        }
        const std::uint64_t done = calls.copy(source, from, at, count);
        at += done;
        return done;
    }
};
