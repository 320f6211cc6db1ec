// A seam for tests: a test build can make the k-th operation of the
// platform layer fail, hold the run before it, make the system's reads and
// writes move one byte at a time, or keep the system's own copy from being
// used, so that every failure path of the tool can be driven. Builds that
// ship link no_faults.cpp, where nothing ever fails or waits on purpose.
#pragma once

// `remove` is counted only for pauses: a failed run's removal of its
// archive. `replace` is counted twice per replacement of an archive: before
// the new file takes the old one's name (a fault makes that fail), and
// after it, for a pause only. `lock` too is for pauses only: between the
// open of an archive to be replaced and its lock.
enum class FaultOp { open, read, write, seek, dir, remove, replace, lock };

// Counts the operation; true when it is the one chosen to fail. Before the
// operation chosen for a pause, waits until the test lets the run go on.
bool fault_injected(FaultOp op);

// True when a pause is planned before an operation of kind `op` (or of any
// kind).
bool fault_pause_before(FaultOp op);

// True when each read or write of the system is to move at most one byte;
// the platform layer must still deliver whole reads and writes.
bool fault_short_transfers();

// True when copies are to go through read and write, as where the system
// cannot copy inside the kernel.
bool fault_no_kernel_copy();
