# The library: libbigtool.a and libbigtool.so.1 on Linux; on Windows
# libbigtool.a and bigtool-1.dll with its import library. Both are built
# from the same sources; the shared one exports the public header's calls
# and nothing else.
bigtool_sources(library_sources ${BIGTOOL_LIBRARY_SOURCES} ${library_backend})
# Extraction and building hand per-file work to a few threads.
find_package(Threads REQUIRED)
set(BIGTOOL_ABI_VERSION 1)

add_library(bigtool_static STATIC ${library_sources})
set_target_properties(bigtool_static PROPERTIES OUTPUT_NAME bigtool)
target_compile_definitions(bigtool_static PUBLIC BT_STATIC)

add_library(bigtool_shared SHARED ${library_sources})
set_target_properties(bigtool_shared PROPERTIES
  OUTPUT_NAME bigtool
  VERSION ${PROJECT_VERSION}
  SOVERSION ${BIGTOOL_ABI_VERSION}
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)
target_compile_definitions(bigtool_shared PRIVATE BT_SHARED_BUILD)
if(WIN32)
  # bigtool-1.dll, needing no DLL beyond Windows' own; the export list
  # names the public calls alone.
  set_target_properties(bigtool_shared PROPERTIES PREFIX "" RUNTIME_OUTPUT_NAME bigtool-${BIGTOOL_ABI_VERSION})
  target_link_options(bigtool_shared PRIVATE -static
    ${BIGTOOL_ROOT}/src/lib/api/bigtool.def)
else()
  target_link_options(bigtool_shared PRIVATE -Wl,--version-script=${BIGTOOL_ROOT}/src/lib/api/exports.map)
  # A sanitizer's runtime comes with the program, not the library.
  if(NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize")
    target_link_options(bigtool_shared PRIVATE -Wl,--no-undefined)
  endif()
endif()

foreach(target bigtool_static bigtool_shared)
  target_include_directories(${target}
    PUBLIC $<BUILD_INTERFACE:${BIGTOOL_ROOT}/include> $<INSTALL_INTERFACE:include>
    PRIVATE ${BIGTOOL_ROOT}/src)
  target_link_libraries(${target} PRIVATE $<BUILD_INTERFACE:bigtool_warnings> Threads::Threads)
  if(NOT WIN32)
    set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  endif()
endforeach()
add_library(bigtool::bigtool ALIAS bigtool_shared)
add_library(bigtool::static ALIAS bigtool_static)

# Linux: the header, both libraries, a pkg-config file and a CMake package
# (find_package(bigtool) gives bigtool::bigtool and bigtool::static), in
# the usual folders. Windows: the DLL, its import library and the header
# in a folder of their own, library/, beside the program.
function(bigtool_install_library)
  if(WIN32)
    install(TARGETS bigtool_shared RUNTIME DESTINATION library ARCHIVE DESTINATION library)
    install(FILES ${BIGTOOL_ROOT}/include/bigtool.h DESTINATION library)
    return()
  endif()
  include(GNUInstallDirs)
  include(CMakePackageConfigHelpers)
  set_target_properties(bigtool_shared PROPERTIES EXPORT_NAME bigtool)
  set_target_properties(bigtool_static PROPERTIES EXPORT_NAME static)
  install(TARGETS bigtool_shared bigtool_static EXPORT bigtoolTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  install(FILES ${BIGTOOL_ROOT}/include/bigtool.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  set(cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/bigtool)
  install(EXPORT bigtoolTargets NAMESPACE bigtool:: DESTINATION ${cmake_dir})
  configure_package_config_file(${BIGTOOL_ROOT}/cmake/bigtoolConfig.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/bigtoolConfig.cmake INSTALL_DESTINATION ${cmake_dir})
  write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/bigtoolConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/bigtoolConfig.cmake
    ${CMAKE_CURRENT_BINARY_DIR}/bigtoolConfigVersion.cmake DESTINATION ${cmake_dir})
  # The prefix is found from the file's own place, so that an unpacked
  # package works wherever it is.
  set(pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
  file(RELATIVE_PATH BIGTOOL_PC_TO_PREFIX /root/${pc_dir} /root)
  configure_file(${BIGTOOL_ROOT}/cmake/bigtool.pc.in ${CMAKE_CURRENT_BINARY_DIR}/bigtool.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/bigtool.pc DESTINATION ${pc_dir})
endfunction()
