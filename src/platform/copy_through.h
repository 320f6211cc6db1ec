// The careful half of file_copy, shared by every backend: it is written
// against platform.h alone, so the failure it names is the same everywhere.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Carries on from *copied up to `count` bytes through `buffer` with
// file_read and file_write, advancing *copied; a read or write failure and
// the source's end are told apart.
CopyStatus copy_through(FileHandle source, FileHandle target, std::uint64_t count, void* buffer,
                        std::uint32_t buffer_size, std::uint64_t* copied);

// One step of a copy done by the system counts, for the test seam, as one
// read and one write: true, with *status the failure, when either is the one
// chosen to fail. Keeps injected faults on the same steps on every system.
bool copy_step_fault(CopyStatus* status);
