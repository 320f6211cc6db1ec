# The command line's sources (src/cli/, apart from main.cpp) and the
# platform's portable tier, which counts its operations for the test seam:
# shared by the build of the tool and its tests (CMakeLists.txt) and by the
# fuzz targets (fuzz/). Paths are relative to the repository's root,
# BIGTOOL_ROOT.
set(BIGTOOL_PORTABLE_SOURCES
  src/cli/check/check_command.cpp
  src/cli/create/build_archive.cpp
  src/cli/create/counted_calls.cpp
  src/cli/create/create_command.cpp
  src/cli/create/delete_command.cpp
  src/cli/create/read_ahead.cpp
  src/cli/create/rewrite.cpp
  src/cli/create/tree_match.cpp
  src/cli/create/update_command.cpp
  src/cli/create/walk_tree.cpp
  src/cli/extract/extract_command.cpp
  src/cli/extract/extract_entry.cpp
  src/cli/extract/get_command.cpp
  src/cli/load_order/archive_set.cpp
  src/cli/load_order/conflicts_command.cpp
  src/cli/load_order/diff_command.cpp
  src/cli/load_order/merge_command.cpp
  src/cli/load_order/patch_command.cpp
  src/cli/load_order/write_set.cpp
  src/cli/main/end_run.cpp
  src/cli/main/find.cpp
  src/cli/main/held_elsewhere.cpp
  src/cli/main/list.cpp
  src/cli/main/start_choice.cpp
  src/cli/main/thread_setting.cpp
  src/cli/reader/archive_reader.cpp
  src/cli/reader/index_window_file.cpp
  src/cli/reader/reader.cpp
  src/cli/reader/selection.cpp
  src/cli/text/directory_form.cpp
  src/cli/text/number.cpp
  src/cli/text/print_name.cpp
  src/cli/text/printable.cpp
  src/platform/platform.cpp
  src/platform/resolve_path.cpp
)
# The library behind the public header (include/bigtool.h), all of it in
# src/lib/, which the tool links too: nothing in it prints, ends the process
# or keeps process-wide state.
set(BIGTOOL_LIBRARY_SOURCES
  src/lib/api/check_api.cpp
  src/lib/api/edit_api.cpp
  src/lib/api/extract_api.cpp
  src/lib/api/overlay_api.cpp
  src/lib/api/read_api.cpp
  src/lib/api/status.cpp
  src/lib/api/write_api.cpp
  src/lib/checks/check_archive.cpp
  src/lib/checks/check_data.cpp
  src/lib/checks/check_names.cpp
  src/lib/extract/entry_writer.cpp
  src/lib/extract/written_files.cpp
  src/lib/format/big_format.cpp
  src/lib/format/entry_records.cpp
  src/lib/format/header_check.cpp
  src/lib/format/index_window.cpp
  src/lib/load_order/load_order.cpp
  src/lib/patterns/listing_order.cpp
  src/lib/patterns/name_pattern.cpp
  src/lib/patterns/pattern_set.cpp
  src/lib/reader/archive_table.cpp
  src/lib/text/code_page.cpp
  src/lib/text/entry_name.cpp
  src/lib/text/paths.cpp
  src/lib/threads/work_pool.cpp
  src/lib/writer/archive_writer.cpp
  src/lib/writer/folder_walk.cpp
  src/lib/writer/index_writer.cpp
  src/lib/writer/name_beside.cpp
  src/lib/writer/write_archive.cpp
  src/lib/writer/write_calls.cpp
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
