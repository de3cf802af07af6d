# What both Windows builds share; the two toolchain files set the processor and the
# compilers' triple, and the Wine that runs the tests, then include this one.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER   ${GLIMKEEP_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${GLIMKEEP_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${GLIMKEEP_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${GLIMKEEP_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Under Wine, through scripts/wine-test: a window test gets a display of its own.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-test ${GLIMKEEP_WINE})
