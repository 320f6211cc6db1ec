// The seam of fault_seam.h in test builds. BIGTOOL_FAULT="KIND:K" makes the
// K-th operation of that kind fail (KIND is open, read, write, seek, dir or
// any, counting every kind); BIGTOOL_SHORT_READS=1 makes each system read
// and write move at most one byte. Read once, at the first operation.
#include <cstdlib>
#include <cstring>

#include "platform/fault_seam.h"

namespace {

struct Plan {
    bool loaded = false;
    bool any = false;
    FaultOp kind = FaultOp::open;
    long target = 0;  // 0: nothing fails
    long seen = 0;
    bool short_reads = false;
};

Plan plan;

void load_plan() {
    plan.loaded = true;
    const char* short_reads = std::getenv("BIGTOOL_SHORT_READS");
    plan.short_reads = short_reads != nullptr && std::strcmp(short_reads, "1") == 0;
    const char* fault = std::getenv("BIGTOOL_FAULT");
    if (fault == nullptr) {
        return;
    }
    const char* colon = std::strchr(fault, ':');
    if (colon == nullptr) {
        return;
    }
    static const struct {
        const char* name;
        FaultOp op;
    } kinds[] = {{"open", FaultOp::open},   {"read", FaultOp::read}, {"write", FaultOp::write},
                 {"seek", FaultOp::seek},   {"dir", FaultOp::dir}};
    std::size_t length = static_cast<std::size_t>(colon - fault);
    if (length == 3 && std::strncmp(fault, "any", 3) == 0) {
        plan.any = true;
    } else {
        bool known = false;
        for (const auto& kind : kinds) {
            if (std::strlen(kind.name) == length && std::strncmp(fault, kind.name, length) == 0) {
                plan.kind = kind.op;
                known = true;
            }
        }
        if (!known) {
            return;
        }
    }
    plan.target = std::strtol(colon + 1, nullptr, 10);
}

}  // namespace

bool fault_injected(FaultOp op) {
    if (!plan.loaded) {
        load_plan();
    }
    if (plan.target <= 0 || (!plan.any && op != plan.kind)) {
        return false;
    }
    return ++plan.seen == plan.target;
}

bool fault_short_reads() {
    if (!plan.loaded) {
        load_plan();
    }
    return plan.short_reads;
}
