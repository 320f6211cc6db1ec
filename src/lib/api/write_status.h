// The status the public API gives for each of the writer's faults; the
// writer and the changes to an archive share it.
#pragma once

#include "lib/writer/archive_writer.h"

int write_status(WriteFault fault);
