// The seam of fault_seam.h in test builds, driven by the environment:
//   BIGTOOL_FAULT="KIND:K"   the K-th operation of that kind fails (KIND is
//                            open, read, write, seek, dir, or any for every kind);
//   BIGTOOL_FAULT_FIRED=F    file F is created when that failure is injected,
//                            so that a test knows its K was reached;
//   BIGTOOL_PAUSE="KIND:K"   before the K-th operation of that kind, file
//                            BIGTOOL_PAUSE_FILE is created and the run waits
//                            until it is removed (10 s at most);
//   BIGTOOL_SHORT_READS=1    each system read and write moves at most one byte.
// Read once, at the first operation. Only the standard library is used, so
// that every backend shares this file.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/fault_seam.h"

namespace {

// One counted choice: which kind (or any) and which occurrence; 0 is none.
struct Choice {
    bool any = false;
    FaultOp kind = FaultOp::open;
    long target = 0;
    long seen = 0;
};

struct Plan {
    bool loaded = false;
    Choice fault;
    Choice pause;
    const char* fired_file = nullptr;
    const char* pause_file = nullptr;
    bool short_reads = false;
};

Plan plan;

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
                 {"seek", FaultOp::seek}, {"dir", FaultOp::dir}};
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

void load_plan() {
    plan.loaded = true;
    const char* short_reads = std::getenv("BIGTOOL_SHORT_READS");
    plan.short_reads = short_reads != nullptr && std::strcmp(short_reads, "1") == 0;
    plan.fault = parse_choice(std::getenv("BIGTOOL_FAULT"));
    plan.fired_file = std::getenv("BIGTOOL_FAULT_FIRED");
    plan.pause = parse_choice(std::getenv("BIGTOOL_PAUSE"));
    plan.pause_file = std::getenv("BIGTOOL_PAUSE_FILE");
}

bool reached(Choice& choice, FaultOp op) {
    if (choice.target <= 0 || (!choice.any && op != choice.kind)) {
        return false;
    }
    return ++choice.seen == choice.target;
}

bool file_exists(const char* path) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return false;
    }
    std::fclose(file);
    return true;
}

void touch(const char* path) {
    std::FILE* file = std::fopen(path, "wb");
    if (file != nullptr) {
        std::fclose(file);
    }
}

// Bounded, so that a test that never lets go cannot hang the run.
void pause_here() {
    if (plan.pause_file == nullptr) {
        return;
    }
    touch(plan.pause_file);
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (file_exists(plan.pause_file) && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace

bool fault_injected(FaultOp op) {
    if (!plan.loaded) {
        load_plan();
    }
    if (reached(plan.pause, op)) {
        pause_here();
    }
    if (!reached(plan.fault, op)) {
        return false;
    }
    if (plan.fired_file != nullptr) {
        touch(plan.fired_file);
    }
    return true;
}

bool fault_short_reads() {
    if (!plan.loaded) {
        load_plan();
    }
    return plan.short_reads;
}
