# Unit tests (GoogleTest, one executable per module, beside their code) and the
# end-to-end tests in tests/ that run the built program.
#
# GoogleTest comes from the toolchain's package (Debian's libgtest-dev natively).
# No package exists for the MinGW-w64 cross toolchain, so there it is built
# from the sources that Debian's googletest package installs.
find_package(GTest)
if(GTest_FOUND)
  set(KELPO32_GTEST_FROM_SOURCE OFF)
else()
  set(KELPO32_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH
      "GoogleTest sources, built when the toolchain has no GoogleTest package")
  if(NOT EXISTS ${KELPO32_GTEST_SOURCE_DIR}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest not found: install libgtest-dev (native) or googletest "
                        "(sources), or set KELPO32_GTEST_SOURCE_DIR")
  endif()
  set(KELPO32_GTEST_FROM_SOURCE ON)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(${KELPO32_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # The sources name their targets GTest::gtest and GTest::gtest_main too.
endif()

# The system interpreter: the tests use its python3-pyte package.
if(EXISTS /usr/bin/python3)
  set(Python3_EXECUTABLE /usr/bin/python3)
endif()
find_package(Python3 REQUIRED COMPONENTS Interpreter)

# A unit test of the layer `library`: its sources, linked with that layer
# (and the layers below it) alone.
function(kelpo32_unit_test name library)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE ${library} GTest::gtest GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS unit TIMEOUT 60)
endfunction()

kelpo32_unit_test(runtime_test kelpo32_runtime runtime/rtl_test.cpp runtime/textout_test.cpp
  runtime/dirsearch_test.cpp runtime/textsafe_test.cpp runtime/outfile_test.cpp)
if(NOT WIN32)
  # Checked against the C library's own widths, which only the POSIX build uses.
  target_sources(runtime_test PRIVATE runtime/textwidth_posix_test.cpp
    runtime/shellpattern_test.cpp runtime/remove_test.cpp runtime/dirsearch_posix_test.cpp)
endif()
kelpo32_unit_test(hexs_test hexs hexs/hexs_test.cpp)
kelpo32_unit_test(CmdLin_test CmdLin CmdLin/cmdsplit_test.cpp CmdLin/CmdLin_test.cpp)
kelpo32_unit_test(crt32_pipe_test crt32_pipe crt32_pipe/crt32_pipe_test.cpp crt32_pipe/screen_row_test.cpp)

# A small program of the full screen for the end-to-end tests of the terminal
# and the console (tests/test_screen.py).
add_executable(screen_probe tests/screen_probe.cpp tests/probe_resize_${PLATFORM}.cpp)
target_link_libraries(screen_probe PRIVATE crt32_pipe)
if(WIN32)
  target_link_options(screen_probe PRIVATE -static -static-libgcc -static-libstdc++)
endif()
kelpo32_unit_test(kelpo32_test kelpo32_app
  kelpo32/app/body_test.cpp kelpo32/report/report_test.cpp kelpo32/app/scan_test.cpp kelpo32/report/paging_test.cpp
  kelpo32/output/jsontext_test.cpp kelpo32/report/progress_test.cpp kelpo32/output/html/html_export_test.cpp kelpo32/output/exports_test.cpp
  kelpo32/output/sizes_test.cpp kelpo32/output/metrics/prometheus_test.cpp kelpo32/saved/saved_scan_test.cpp kelpo32/app/long_options_test.cpp
  kelpo32/testing/test_support.cpp kelpo32/testing/test_alloc.cpp)
target_link_libraries(kelpo32_test PRIVATE kelpo32_testing)
if(NOT WIN32)
  # A real listing made to fail midway, through the POSIX directory search.
  target_sources(kelpo32_test PRIVATE kelpo32/app/scan_posix_test.cpp)
endif()
# The walk over a tree in memory, on one and many threads, into the
# consumers that ask most of it (the tree's builder, the largest files).
kelpo32_unit_test(walk_test kelpo32_report kelpo32/walk/walk_test.cpp kelpo32/walk/pace_test.cpp
  kelpo32/testing/memory_source.cpp kelpo32/testing/test_alloc.cpp)
target_link_libraries(walk_test PRIVATE kelpo32_testing)
# The tree of directories, and the layout of totals in every form over random
# trees in memory, against a model.
kelpo32_unit_test(totals_test kelpo32_app kelpo32/tree/totals_test.cpp kelpo32/tree/dir_tree_test.cpp
  kelpo32/testing/memory_source.cpp
  kelpo32/testing/test_alloc.cpp kelpo32/testing/test_support.cpp)
target_link_libraries(totals_test PRIVATE kelpo32_testing)

# The history: its names, rotation and the growth against a model.
kelpo32_unit_test(history_test kelpo32_history kelpo32/history/history_test.cpp)

# The browser's view through a screen in memory: journeys of keys, and its
# corrections of the totals over random trees.
kelpo32_unit_test(browse_test kelpo32_browse kelpo32/browse/view_test.cpp)
target_link_libraries(browse_test PRIVATE kelpo32_testing)
if(NOT WIN32)
  # The file system on disk while the tree changes under it.
  target_sources(browse_test PRIVATE kelpo32/browse/disk_file_system_test.cpp)
endif()

# End-to-end tests: each script runs the built program in temporary trees.
if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/WineTests.cmake)
else()
  set(KELPO32_E2E_ENV "KELPO32_EXE=$<TARGET_FILE:kelpo32>" "KELPO32_PLATFORM=posix"
    "KELPO32_SCREEN_PROBE=$<TARGET_FILE:screen_probe>")
  file(GLOB e2e_scripts CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/test_*.py)
  foreach(script ${e2e_scripts})
    get_filename_component(stem ${script} NAME_WE)
    add_test(NAME e2e_${stem} COMMAND ${Python3_EXECUTABLE} ${script})
    set_tests_properties(e2e_${stem} PROPERTIES LABELS e2e TIMEOUT 120
                         ENVIRONMENT "${KELPO32_E2E_ENV}")
  endforeach()
endif()

# The check of the layers' includes that tools/lint.sh runs, on planted trees.
add_test(NAME check_layers
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/tools/test_check_layers.py)
set_tests_properties(check_layers PROPERTIES LABELS tools TIMEOUT 60)

# Installation, manual page and release packages (.deb natively, .zip for Windows).
add_test(NAME packaging
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/packaging/test_packaging.py
                 --build-dir ${CMAKE_BINARY_DIR} --source-dir ${CMAKE_SOURCE_DIR}
                 --cmake ${CMAKE_COMMAND} --cpack ${CMAKE_CPACK_COMMAND})
set_tests_properties(packaging PROPERTIES LABELS packaging RUN_SERIAL TRUE TIMEOUT 900
                     ENVIRONMENT "${KELPO32_E2E_ENV}")
if(WIN32)
  set_property(TEST packaging APPEND PROPERTY FIXTURES_REQUIRED wine)
endif()
