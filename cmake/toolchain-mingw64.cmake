# 64-bit Windows build: everything, tests run under Wine.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(GLIMKEEP_TRIPLE x86_64-w64-mingw32)
set(GLIMKEEP_WINE /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
