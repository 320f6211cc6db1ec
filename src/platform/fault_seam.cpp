// The seam of fault_seam.h in test builds, driven by the environment:
//   BIGTOOL_FAULT="KIND:K"      the K-th operation of that kind fails (KIND is
//                               open, read, write, seek, dir, remove, replace,
//                               lock, or any for every kind);
//   BIGTOOL_FAULT_FIRED=F       file F is created when that failure is injected,
//                               so that a test knows its K was reached;
//   BIGTOOL_PAUSE="KIND:K"      before the K-th operation of that kind, the run
//   BIGTOOL_PAUSE_GATE=G        waits at gate G (a FIFO on POSIX, a named pipe on
//                               Windows) until the test opens it and lets it go on;
//   BIGTOOL_SHORT_TRANSFERS=1   each system read and write moves at most one byte;
//   BIGTOOL_NO_KERNEL_COPY=1    copies go through read and write.
// Read once, at the first operation. Threads that share a run count in
// turns (platform.h), so that the K-th operation is the same on every run.
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

#include "platform/fault_seam.h"
#include "platform/system.h"

namespace {

// One counted choice: which kind (or any) and which occurrence; 0 is none.
struct Choice {
    bool any = false;
    FaultOp kind = FaultOp::open;
    long target = 0;
    long seen = 0;
};

// What the test asked of this run, read from the environment once.
struct Plan {
    bool loaded = false;
    Choice fault;
    Choice pause;
    const char* firedFile = nullptr;
    const char* pauseGate = nullptr;
    bool shortTransfers = false;
    bool noKernelCopy = false;
};
Plan plan;
std::once_flag planLoaded;

// The turns: every turn below doneBelow has ended; those above it that
// ended early wait in endedAhead. The thread that hands jobs over starts
// in turn 0.
struct Turns {
    std::mutex lock;
    std::condition_variable ended;
    std::uint64_t doneBelow = 0;
    std::set<std::uint64_t> endedAhead;
};
Turns turns;
thread_local std::uint64_t currentTurn = 0;
thread_local std::uint64_t turnBefore = 0;  // a job done on the handing thread itself

Choice parse_choice(const char* text) {
    Choice choice;
    if (text == nullptr) {
        return choice;
    }
    const char* colon = std::strchr(text, ':');
    if (colon == nullptr) {
        return choice;
    }
    static const struct {
        const char* name;
        FaultOp op;
    } kinds[] = {{"open", FaultOp::open}, {"read", FaultOp::read}, {"write", FaultOp::write},
                 {"seek", FaultOp::seek}, {"dir", FaultOp::dir}, {"remove", FaultOp::remove},
                 {"replace", FaultOp::replace},
                 {"lock", FaultOp::lock}};
    std::size_t length = static_cast<std::size_t>(colon - text);
    if (length == 3 && std::strncmp(text, "any", 3) == 0) {
        choice.any = true;
    } else {
        bool known = false;
        for (const auto& kind : kinds) {
            if (std::strlen(kind.name) == length && std::strncmp(text, kind.name, length) == 0) {
                choice.kind = kind.op;
                known = true;
            }
        }
        if (!known) {
            return choice;
        }
    }
    choice.target = std::strtol(colon + 1, nullptr, 10);
    return choice;
}

bool switched_on(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && std::strcmp(value, "1") == 0;
}

void read_plan() {
    plan.loaded = true;
    plan.shortTransfers = switched_on("BIGTOOL_SHORT_TRANSFERS");
    plan.noKernelCopy = switched_on("BIGTOOL_NO_KERNEL_COPY");
    plan.fault = parse_choice(std::getenv("BIGTOOL_FAULT"));
    plan.firedFile = std::getenv("BIGTOOL_FAULT_FIRED");
    plan.pause = parse_choice(std::getenv("BIGTOOL_PAUSE"));
    plan.pauseGate = std::getenv("BIGTOOL_PAUSE_GATE");
}

void load_plan() {
    std::call_once(planLoaded, read_plan);
}

// Whether operations are counted at all: a fault or a pause was asked for.
bool counting() {
    return plan.fault.target > 0 || plan.pause.target > 0;
}

void end_turn(std::uint64_t turn) {
    {
        std::lock_guard<std::mutex> hold(turns.lock);
        turns.endedAhead.insert(turn);
        while (!turns.endedAhead.empty() && *turns.endedAhead.begin() == turns.doneBelow) {
            turns.endedAhead.erase(turns.endedAhead.begin());
            ++turns.doneBelow;
        }
    }
    turns.ended.notify_all();
}

bool reached(Choice& choice, FaultOp op) {
    if (choice.target <= 0 || (!choice.any && op != choice.kind)) {
        return false;
    }
    return ++choice.seen == choice.target;
}

}  // namespace

bool fault_injected(FaultOp op) {
    load_plan();
    if (!counting()) {
        return false;
    }
    std::unique_lock<std::mutex> hold(turns.lock);
    turns.ended.wait(hold, [] { return turns.doneBelow >= currentTurn; });
    const bool pause = reached(plan.pause, op);
    const bool fail = reached(plan.fault, op);
    hold.unlock();
    if (pause && plan.pauseGate != nullptr) {
        sys::wait_at_gate(plan.pauseGate);
    }
    if (!fail) {
        return false;
    }
    if (plan.firedFile != nullptr) {
        if (std::FILE* fired = std::fopen(plan.firedFile, "wb")) {
            std::fclose(fired);
        }
    }
    return true;
}

bool fault_pause_before(FaultOp op) {
    load_plan();
    return plan.pause.target > 0 && plan.pauseGate != nullptr && (plan.pause.any || plan.pause.kind == op);
}

bool fault_short_transfers() {
    load_plan();
    return plan.shortTransfers;
}

bool fault_no_kernel_copy() {
    load_plan();
    return plan.noKernelCopy;
}

std::uint64_t seam_hand_over() {
    load_plan();
    if (!counting()) {
        return 0;
    }
    const std::uint64_t ending = currentTurn;
    currentTurn += 2;
    end_turn(ending);
    return ending + 1;
}

void seam_turn_begin(std::uint64_t turn) {
    if (counting()) {
        turnBefore = currentTurn;
        currentTurn = turn;
    }
}

void seam_turn_end(std::uint64_t turn) {
    if (counting()) {
        currentTurn = turnBefore;
        end_turn(turn);
    }
}
