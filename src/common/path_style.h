// The two conventions for local paths. Path logic takes the style as an
// argument so that both can be tested on any host.
#pragma once

enum class PathStyle {
    posix,    // '/' separates; a path is absolute when it begins with '/'
    windows,  // '\' separates ('/' is accepted too); absolute when it has a drive letter
};
