# The same Windows source as a 64-bit program. It is not shipped: it carries the
# Windows tests on a machine whose kernel cannot run 32-bit programs, where the
# 32-bit Wine cannot start (run-tests.sh chooses).
set(KELPO32_MINGW_CPU x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
