// See held_elsewhere.h.
#include "cli/main/held_elsewhere.h"

#include <cstdio>
#include <string>

#include "cli/text/printable.h"
#include "platform/platform.h"

void say_if_held_elsewhere(const char* path) {
    say_held_elsewhere(file_held_elsewhere(), path);
}

void say_held_elsewhere(bool held, const char* path) {
    if (held) {
        std::string shown;
        std::printf("Another program holds '%s'.\n", printable(path, shown));
    }
}
