// The order in which a folder's items are walked where the system's listing
// has none of its own (POSIX): the same tree then always gives the same
// archive, in the order Windows would list it.
#pragma once

#include <string_view>

// By name with a-z folded to upper case, compared as unsigned bytes; names
// equal that way are ordered by their bytes as they are.
bool listed_before(std::string_view a, std::string_view b);
