# 32-bit Windows build: the release program and every test, run under 32-bit Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(GLIMKEEP_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER   ${GLIMKEEP_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${GLIMKEEP_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${GLIMKEEP_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${GLIMKEEP_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Under Wine, through scripts/wine-test: a window test gets a display of its own.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-test /usr/lib/wine/wine)
