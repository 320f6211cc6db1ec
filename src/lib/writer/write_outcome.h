// What a write of an archive comes to: the fault, and the entry it
// concerns, with the message as the command line words it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

enum class WriteFault {
    none,
    no_memory,
    bad_name,       // empty, holding a NUL byte, or past the names the format holds
    unsafe_name,    // it would be unsafe to extract, or would come back as another
    same_name,      // an entry planned before has it, by the game's rule
    too_large,      // the archive would reach 4 GiB
    exists,         // a file has the archive's name
    create_failed,  // the new file beside it could not be made
    open_input,     // a file to take data from could not be opened
    read_input,
    input_shrank,
    input_grew,
    read_source,  // a source's data could not be read, or ended early
    write_failed,
    abandoned,    // the observer would not have it published
    empty,        // no entry: no reader takes such an archive
    plan_failed,  // the plan could not give an entry again, or gave other names
};

// What a write was doing when it failed: the fault, and the entry it
// concerns (or the file, for create_failed), with the message as the
// command line words it, without "Error: ".
struct WriteOutcome {
    WriteFault fault = WriteFault::none;
    std::uint32_t entry = 0;
    std::string message;
};

// `name` in quotes for a message, cut as the reader's messages cut a name.
std::string quoted_for_message(std::string_view name);
