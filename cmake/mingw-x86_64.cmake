# Cross build for 64-bit Windows with MinGW-w64: the test build with the
# fault seam, whose suite runs under Wine.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
