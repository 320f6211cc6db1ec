// The seam of fault_seam.h in builds that ship: no operation fails on purpose.
#include "platform/fault_seam.h"
#include "platform/platform.h"

bool fault_injected(FaultOp) {
    return false;
}

bool fault_pause_before(FaultOp) {
    return false;
}

bool fault_short_transfers() {
    return false;
}

bool fault_no_kernel_copy() {
    return false;
}

std::uint64_t seam_hand_over() {
    return 0;
}

void seam_turn_begin(std::uint64_t) {}

void seam_turn_end(std::uint64_t) {}
