# The tool's sources, apart from main.cpp: shared by the build of the tool
# and its tests (CMakeLists.txt) and by the fuzz targets (fuzz/). Paths are
# relative to the repository's root, BIGTOOL_ROOT.
set(BIGTOOL_PORTABLE_SOURCES
  src/platform/platform.cpp
  src/platform/resolve_path.cpp
  src/main/end_run.cpp
  src/main/held_elsewhere.cpp
  src/common/number.cpp
  src/common/directory_form.cpp
  src/common/printable.cpp
  src/common/start_choice.cpp
  src/archive/index_window_file.cpp
  src/archive/archive_reader.cpp
  src/archive/reader.cpp
  src/archive/selection.cpp
  src/archive/check_command.cpp
  src/extract/extract_entry.cpp
  src/extract/extract_command.cpp
  src/extract/get_command.cpp
  src/create/walk_tree.cpp
  src/create/read_ahead.cpp
  src/create/build_archive.cpp
  src/create/create_command.cpp
  src/create/tree_match.cpp
  src/create/rewrite.cpp
  src/create/update_command.cpp
  src/create/delete_command.cpp
  src/main/find.cpp
  src/main/list.cpp
  src/main/print_name.cpp
  src/main/archive_set.cpp
  src/main/conflicts_command.cpp
  src/main/diff_command.cpp
  src/main/write_set.cpp
  src/main/patch_command.cpp
  src/main/merge_command.cpp
  src/main/thread_setting.cpp
)
# The library behind the public header (include/bigtool.h), which the tool
# links too: nothing in it prints, ends the process or keeps process-wide
# state.
set(BIGTOOL_LIBRARY_SOURCES
  src/lib/archive_table.cpp
  src/lib/read_api.cpp
  src/lib/load_order.cpp
  src/lib/overlay_api.cpp
  src/lib/write_api.cpp
  src/lib/edit_api.cpp
  src/lib/status.cpp
  src/archive/big_format.cpp
  src/archive/header_check.cpp
  src/archive/index_window.cpp
  src/archive/archive_writer.cpp
  src/archive/entry_records.cpp
  src/archive/check_data.cpp
  src/archive/check_names.cpp
  src/archive/check_archive.cpp
  src/lib/check_api.cpp
  src/common/name_pattern.cpp
  src/common/entry_name.cpp
  src/common/paths.cpp
  src/common/written_files.cpp
  src/common/code_page.cpp
  src/extract/entry_writer.cpp
  src/lib/extract_api.cpp
  src/common/pattern_set.cpp
  src/common/work_pool.cpp
  src/common/listing_order.cpp
  src/archive/folder_walk.cpp
)
set(BIGTOOL_POSIX_LIBRARY_BACKEND src/platform/posix_shared.cpp src/platform/posix_made.cpp
  src/platform/posix_folders.cpp)
set(BIGTOOL_WIN32_LIBRARY_BACKEND src/platform/win32_shared.cpp src/platform/win32_made.cpp
  src/platform/win32_folders.cpp)
# One backend per system.
set(BIGTOOL_POSIX_BACKEND src/platform/posix.cpp)
set(BIGTOOL_WIN32_BACKEND src/platform/win32.cpp src/platform/win32_streams.cpp)
# The test seam in test builds; nothing that fails on purpose in the others.
set(BIGTOOL_SEAM_SOURCE src/platform/fault_seam.cpp)
set(BIGTOOL_NO_SEAM_SOURCE src/platform/no_faults.cpp)

# Absolute paths of a list above.
function(bigtool_sources out)
  set(paths)
  foreach(name IN LISTS ARGN)
    list(APPEND paths ${BIGTOOL_ROOT}/${name})
  endforeach()
  set(${out} ${paths} PARENT_SCOPE)
endfunction()
