// Which directory arguments a command may take: the part of the path
// rules that prints.
#pragma once

#include "lib/text/path_style.h"

// True for a directory argument that a command may take; otherwise prints
// why and returns false. Device paths are taken by no command. Windows
// would make or open another folder than one with a part that ends in a
// dot or a blank ("out ", "x.."; "." and ".." are parts of their own), and
// none that holds '"', '<', '>', '|', '?' or '*': those are refused there.
bool directory_form_accepted(const char* dir, PathStyle style, const LeadBytes& lead = NO_LEAD_BYTES);
