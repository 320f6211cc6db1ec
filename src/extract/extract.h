// Copying entries of the open archive into files below an output directory.
#pragma once

#include <cstdint>
#include <optional>

#include "archive/big_format.h"
#include "platform/platform.h"

// Creates `path` and any missing directories above it. 1 when this call made
// the directory, 0 otherwise (it already existed, or could not be made).
int make_path(const char* path);

// The output directory as typed, resolved (see resolve_path) once per run;
// null, with *status saying why when asked, when it cannot be.
const char* output_directory(const char* outdir, ResolveStatus* status = nullptr);

// Copies entry n to the output directory joined with the entry's name. The
// entry on success; none after printing why (nothing is printed when no
// archive is open or there is no entry n).
std::optional<BigEntry> extract_entry(std::uint32_t n, const char* outdir);

// The EXTRACT command: argv[3] .. argv[argc-2] choose entries, argv[argc-1]
// is the output directory. Ends the run.
[[noreturn]] void extract_command(int argc, char** argv, std::int32_t file_count);
