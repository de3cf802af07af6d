# 32-bit Windows build: the release program and every test, run under 32-bit Wine.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(GLIMKEEP_TRIPLE i686-w64-mingw32)
set(GLIMKEEP_WINE /usr/lib/wine/wine)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
