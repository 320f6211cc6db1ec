#include "cli/main/thread_setting.h"

#include <cstdio>
#include <string>

#include "lib/threads/work_pool.h"
#include "platform/platform.h"

namespace {

unsigned asked = 0;  // 0: as many as the processors

}  // namespace

int read_thread_setting() {
    std::string text;
    if (!environment_value("BIGTOOL_THREADS", &text)) {
        return 1;
    }
    unsigned value = 0;
    bool number = !text.empty() && text.size() <= 2;
    for (char c : text) {
        number = number && c >= '0' && c <= '9';
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (!number || value < 1 || value > 64) {
        std::printf("Error: BIGTOOL_THREADS must be a whole number from 1 to 64.\n");
        return 0;
    }
    asked = value;
    return 1;
}

unsigned command_threads() {
    return work_threads(asked, asked == 0 ? processor_count() : 1);
}
