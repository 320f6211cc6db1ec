// The name of a new file made beside the one it is to become or replace,
// so that it can take that one's name in one step: the same folder, the
// same file system.
#pragma once

#include <string>

// `target` with `suffix` added; where the system would not take so long a
// name, the end of its name gives way to the suffix, so that the name is no
// longer than the target's own, which fits. "" when nothing of the name
// would be left.
std::string name_beside(const std::string& target, const std::string& suffix);
