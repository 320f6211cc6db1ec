// The seam of fault_seam.h in builds that ship: no operation fails on purpose.
#include "platform/fault_seam.h"

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
