# The Wine harness of the win32 build; included by Tests.cmake when WIN32, after
# the unit tests have been added.
#
# Every unit test runs through tests/wine-run.sh (the CMAKE_CROSSCOMPILING_EMULATOR
# of cmake/mingw32.cmake) in the Wine prefix below. A CTest fixture makes the
# prefix, starts a persistent wineserver (a Wine run then takes tens of
# milliseconds instead of about a second) and warms it up, and stops the server
# after the last test; every unit and end-to-end test requires it.
set(KELPO32_WINE_RUNNER ${CMAKE_SOURCE_DIR}/tests/wine-run.sh)
set(KELPO32_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH
    "Wine prefix of the Windows tests (made on the first test run)")
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(KELPO32_WINEARCH win64)
else()
  set(KELPO32_WINEARCH win32)
endif()

# The default MinGW-w64 g++ (thread model win32, GCC 12) has no std::mutex,
# which GoogleTest needs for one class only: tests/wine/gtest_notification.h
# supplies that class to GoogleTest and to every test built with it.
if(KELPO32_GTEST_FROM_SOURCE)
  target_compile_definitions(gtest PUBLIC GTEST_HAS_NOTIFICATION_=1)
  target_compile_options(gtest PUBLIC
    "SHELL:-include ${CMAKE_SOURCE_DIR}/tests/wine/gtest_notification.h")
  # GCC 12 at -O3 (the Release build of this preset) warns falsely about
  # std::string concatenation (-Wrestrict, GCC bug 105329), in test code only.
  target_compile_options(gtest PUBLIC -Wno-restrict)
endif()

# Unit tests of the Win32 back ends themselves.
kelpo32_unit_test(win32_platform_test crt32_pipe
  runtime/dirsearch_win32_test.cpp
  runtime/remove_win32_test.cpp
  runtime/curdir_win32_test.cpp
  runtime/sysio_win32_test.cpp
  CmdLin/cmdsource_win32_test.cpp
  crt32_pipe/crt32_pipe_win32_test.cpp)
target_link_libraries(win32_platform_test PRIVATE CmdLin)

add_test(NAME wine_setup COMMAND ${KELPO32_WINE_RUNNER} --setup)
add_test(NAME wine_cleanup COMMAND ${KELPO32_WINE_RUNNER} --cleanup)
set_tests_properties(wine_setup PROPERTIES FIXTURES_SETUP wine TIMEOUT 600)
set_tests_properties(wine_cleanup PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 60)
set_property(TEST wine_setup wine_cleanup PROPERTY LABELS wine)
set(KELPO32_WINE_ENV
  "KELPO32_WINEPREFIX=${KELPO32_WINEPREFIX}"
  "KELPO32_WINEARCH=${KELPO32_WINEARCH}"
  "WINEPREFIX=${KELPO32_WINEPREFIX}")
set_property(TEST wine_setup wine_cleanup PROPERTY ENVIRONMENT ${KELPO32_WINE_ENV})

get_property(kelpo32_all_tests DIRECTORY PROPERTY TESTS)
foreach(test ${kelpo32_all_tests})
  get_test_property(${test} LABELS labels)
  if("unit" IN_LIST labels)
    set_property(TEST ${test} APPEND PROPERTY FIXTURES_REQUIRED wine)
    set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT ${KELPO32_WINE_ENV})
  endif()
endforeach()

# kelpo32.exe listing every directory by searching its path, for the tests
# that compare that way with the listing through a handle.
add_executable(kelpo32_search kelpo32/app/main.cpp tests/wine/search_only.cpp)
target_link_libraries(kelpo32_search PRIVATE kelpo32_app)
target_link_options(kelpo32_search PRIVATE -static -static-libgcc -static-libstdc++)

# End-to-end tests: each script runs kelpo32.exe through the runner.
set(KELPO32_E2E_ENV
  "KELPO32_EXE=$<TARGET_FILE:kelpo32>"
  "KELPO32_SEARCH_EXE=$<TARGET_FILE:kelpo32_search>"
  "KELPO32_SCREEN_PROBE=$<TARGET_FILE:screen_probe>"
  "KELPO32_PLATFORM=win32"
  "KELPO32_RUNNER=${KELPO32_WINE_RUNNER}"
  ${KELPO32_WINE_ENV})
file(GLOB e2e_scripts CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/test_*.py)
foreach(script ${e2e_scripts})
  get_filename_component(stem ${script} NAME_WE)
  add_test(NAME e2e_${stem} COMMAND ${Python3_EXECUTABLE} ${script})
  # Every Wine program start is a series of round trips to the one
  # wineserver, which a busy machine slows far more than the program: a
  # script of many short runs took over 120 s once while the other core built.
  set_tests_properties(e2e_${stem} PROPERTIES LABELS e2e TIMEOUT 300 FIXTURES_REQUIRED wine
                       ENVIRONMENT "${KELPO32_E2E_ENV}")
endforeach()
