// A seam for tests: a test build can make the k-th operation of the
// platform layer fail, pause before it, or make the system's reads and
// writes move one byte at a time, so that every failure path of the tool can
// be driven. Release builds link no_faults.cpp, where nothing ever fails or
// waits on purpose.
#pragma once

enum class FaultOp { open, read, write, seek, dir };

// Counts the operation; true when it is the one chosen to fail. Before the
// operation chosen to pause, waits until the test lets it go on.
bool fault_injected(FaultOp op);

// True when each read or write of the system is to move at most one byte;
// the layer must still deliver whole reads and writes.
bool fault_short_reads();
