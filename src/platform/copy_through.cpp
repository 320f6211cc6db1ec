// See copy_through.h.
#include "platform/copy_through.h"

#include "platform/fault_seam.h"

CopyStatus copy_through(FileHandle source, FileHandle target, std::uint64_t count, void* buffer,
                        std::uint32_t buffer_size, std::uint64_t* copied) {
    while (*copied < count) {
        std::uint64_t left = count - *copied;
        auto want = static_cast<std::uint32_t>(left < buffer_size ? left : buffer_size);
        std::uint32_t got = 0;
        if (!file_read(source, buffer, want, &got)) {
            return CopyStatus::read_failed;
        }
        if (got == 0) {
            return CopyStatus::source_ended;
        }
        if (!file_write(target, buffer, got)) {
            return CopyStatus::write_failed;
        }
        *copied += got;
    }
    return CopyStatus::copied;
}

bool copy_step_fault(CopyStatus* status) {
    if (fault_injected(FaultOp::read)) {
        *status = CopyStatus::read_failed;
        return true;
    }
    if (fault_injected(FaultOp::write)) {
        *status = CopyStatus::write_failed;
        return true;
    }
    return false;
}
