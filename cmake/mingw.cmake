# Cross build of the Windows program with MinGW-w64 for the processor that
# KELPO32_MINGW_CPU names (i686 or x86_64); its tests run under Wine. Included
# by mingw32.cmake and mingw64.cmake.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${KELPO32_MINGW_CPU})
set(CMAKE_C_COMPILER ${KELPO32_MINGW_CPU}-w64-mingw32-gcc)
set(CMAKE_CXX_COMPILER ${KELPO32_MINGW_CPU}-w64-mingw32-g++)
set(CMAKE_RC_COMPILER ${KELPO32_MINGW_CPU}-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KELPO32_MINGW_CPU}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Packages too (GoogleTest): the build machine's own are for another target.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/wine-run.sh)
