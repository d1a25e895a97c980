# The 32-bit Windows program: what is shipped.
set(KELPO32_MINGW_CPU i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
