// See write_calls.h.
#include "lib/writer/write_calls.h"

#include <chrono>

#include "lib/text/joined.h"
#include "lib/writer/name_beside.h"

namespace {

// A leftover of a run that was killed may hold a name this one would try.
constexpr unsigned NAME_TRIES = 100;

}  // namespace

std::string quoted_for_message(std::string_view name) {
    constexpr std::size_t SHOWN = 260;
    return joined({"'", name.substr(0, SHOWN), name.size() > SHOWN ? "...'" : "'"});
}

SystemCalls::~SystemCalls() {
    if (file_ != INVALID_FILE) {
        made_file_discard(file_, path_.c_str());
    }
    if (replacing_ != INVALID_FILE) {
        file_close_shared(replacing_);
    }
}

WriteOutcome SystemCalls::make(const char* target) {
    if (replacing_ == INVALID_FILE && made_name_taken(target)) {
        return {WriteFault::exists, 0, quoted_for_message(target) + " exists already. It is left as it is."};
    }
    auto tick = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
    auto mark = static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(this));
    for (unsigned i = 0; i < NAME_TRIES; ++i) {
        path_ = name_beside(target, ".tmp-" + std::to_string((tick ^ (mark << 7)) % 1000000007u + i));
        if (path_.empty()) {
            return {WriteFault::create_failed, 0,
                    joined({"The name ", quoted_for_message(target), " is too long for a temporary file beside it."})};
        }
        file_ = made_file_create(path_.c_str());
        if (file_ != INVALID_FILE) {
            if (replacing_ != INVALID_FILE) {
                take_permissions(file_, target);
            }
            return {};
        }
        if (!made_name_taken(path_.c_str())) {
            break;
        }
    }
    return {WriteFault::create_failed, 0, joined({"Could not create ", quoted_for_message(path_), "."})};
}

void SystemCalls::discard() {
    made_file_discard(file_, path_.c_str());
    file_ = INVALID_FILE;
}

WriteOutcome SystemCalls::finish(const char* target) {
    FileHandle made = file_;
    file_ = INVALID_FILE;  // the calls below close it
    if (replacing_ != INVALID_FILE) {
        FileHandle replaced = replacing_;
        replacing_ = INVALID_FILE;  // made_file_replace closes it
        switch (made_file_replace(made, path_.c_str(), target, replaced)) {
        case ReplaceStatus::replaced: return {};
        case ReplaceStatus::in_use:
            return {WriteFault::write_failed, 0,
                    joined({"Could not replace ", quoted_for_message(target),
                            ": another program has it open. It is unchanged."})};
        case ReplaceStatus::changed:
            return {WriteFault::write_failed, 0,
                    joined({"Could not replace ", quoted_for_message(target), ": another program replaced it first."})};
        case ReplaceStatus::failed: break;
        }
        return {WriteFault::write_failed, 0, joined({"Could not replace ", quoted_for_message(target), ". It is unchanged."})};
    }
    switch (made_file_publish(made, path_.c_str(), target)) {
    case PublishStatus::published: return {};
    case PublishStatus::exists:
        return {WriteFault::exists, 0, quoted_for_message(target) + " exists already. It is left as it is."};
    case PublishStatus::failed: break;
    }
    return {WriteFault::create_failed, 0, joined({"Could not create ", quoted_for_message(target), "."})};
}
