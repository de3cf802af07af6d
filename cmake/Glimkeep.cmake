# Build settings shared by every Glimkeep target.

# Warnings are errors in every preset and in CI; GLIMKEEP_WERROR=OFF lets a user's
# newer compiler build even when it brings a warning of its own.
option(GLIMKEEP_WERROR "Treat compiler warnings as errors" ON)
set(GLIMKEEP_WARNINGS -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Wcast-align -Wpointer-arith)
if(GLIMKEEP_WERROR)
  list(APPEND GLIMKEEP_WARNINGS -Werror)
endif()

if(WIN32)
  # Vista is the oldest system the program runs on; wide-character Win32 everywhere.
  add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                          _WIN32_WINNT=0x0600 WINVER=0x0600 _WIN32_IE=0x0600)
  # No DLL beyond the system's: the C++ runtime is linked in.
  add_link_options(-static -static-libgcc -static-libstdc++)
  # The 32-bit programs may use the addresses above 2 GB that 64-bit Windows gives
  # them: a load holds several copies of a large vault at once.
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    add_link_options(-Wl,--large-address-aware)
  endif()
endif()

if(GLIMKEEP_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(GLIMKEEP_FUZZ)
  # Everything is instrumented for coverage; only the fuzz targets link the fuzzer's main.
  add_compile_options(-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# Applies the project's warning flags (errors on) to a target of ours.
function(glimkeep_warnings target)
  target_compile_options(${target} PRIVATE ${GLIMKEEP_WARNINGS})
endfunction()

# GoogleTest: the installed one natively, built from Debian's sources in the cross builds.
macro(glimkeep_find_gtest)
  if(CMAKE_CROSSCOMPILING)
    set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  else()
    find_package(GTest REQUIRED)
  endif()
  include(GoogleTest)
endmacro()

# glimkeep_add_test(<name> SOURCES <files...> [LIBS <targets...>] [GUI] [NO_MAIN])
# One test executable, linked with the library the suites share (tests/support); its
# cases are discovered when ctest runs (under Wine in the Windows build). A GUI test
# is a window test of the Windows build: it links the window library and the
# resource object (dialog templates, pictures, icon). A GUI test needs a display,
# its focus and its clipboard to itself: it takes one slot of the resource
# "displays", of which the build lists two (CMakeLists.txt); scripts/test gives each
# a display with a Wine prefix of its own (see scripts/wine-test); run by hand, GUI
# tests take turns on the one display they inherit.
function(glimkeep_add_test name)
  cmake_parse_arguments(ARG "GUI;NO_MAIN" "" "SOURCES;LIBS" ${ARGN})
  set(sources ${ARG_SOURCES})
  set(libs ${ARG_LIBS} glimkeep_test_support)
  if(ARG_GUI)
    list(APPEND sources $<TARGET_OBJECTS:glimkeep_res>)
    list(APPEND libs glimkeep_ui)
  endif()
  add_executable(${name} ${sources})
  glimkeep_warnings(${name})
  if(ARG_NO_MAIN)
    target_link_libraries(${name} PRIVATE ${libs} GTest::gtest)
  else()
    target_link_libraries(${name} PRIVATE ${libs} GTest::gtest_main)
  endif()
  target_compile_definitions(${name} PRIVATE GLIMKEEP_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  set(props TIMEOUT 300)
  if(ARG_GUI)
    list(APPEND props RESOURCE_GROUPS displays:1 ENVIRONMENT GLIMKEEP_WINDOW_TEST=1)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    PROPERTIES ${props})
endfunction()

# glimkeep_library(<name> SOURCES <files...> [WIN32_SOURCES <files...>]
#                  [POSIX_SOURCES <files...>] [LIBS <targets...>])
# A static library of ours: its portable sources, the half for the platform it is
# built for, the source root as its include path, its libraries and the warnings.
function(glimkeep_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;WIN32_SOURCES;POSIX_SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  if(WIN32)
    target_sources(${name} PRIVATE ${ARG_WIN32_SOURCES})
  else()
    target_sources(${name} PRIVATE ${ARG_POSIX_SOURCES})
  endif()
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  if(ARG_LIBS)
    target_link_libraries(${name} PUBLIC ${ARG_LIBS})
  endif()
  glimkeep_warnings(${name})
endfunction()
