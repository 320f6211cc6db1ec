// Sizes shared by the whole tool.
#pragma once

#include <cstddef>
#include <cstdint>

// Path buffers hold this many bytes, the terminator included.
inline constexpr std::size_t PATH_CAPACITY = 260;

// Entry and file data are copied through a buffer of this size.
inline constexpr std::uint32_t COPY_CHUNK = 5242880;

// The archive's index is read through a window of this size, which never
// grows: longer names are read through it in pieces.
inline constexpr std::uint32_t INDEX_WINDOW = 65536;
