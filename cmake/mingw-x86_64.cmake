# Cross build for 64-bit Windows with MinGW-w64: the build whose tests run
# under Wine, since 32-bit code cannot run where Wine is 64-bit only.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
