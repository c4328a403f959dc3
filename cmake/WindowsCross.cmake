# The Windows build made on Debian with mingw-w64 (cmake/mingw-w64-*.cmake, presets win64 and
# win32). Debian has Windows builds of zlib only: no Qt, libpng, libjpeg, OpenSSL, SQLite or
# libsodium. So this build makes the cluster library (Drovik.dll), the contract, the picture
# decoder without PNG and JPEG, the request layer and their tests, which run under Wine; the
# server, the front-end, the benchmarks and the fuzz targets are left out.
set(CT_WINDOWS_CROSS ON)
set(CT_BUILD_GUI OFF CACHE BOOL "Build the Qt front-end" FORCE)
set(CT_BUILD_BENCH OFF CACHE BOOL "Build the benchmarks" FORCE)
set(CT_BUILD_SERVER OFF CACHE BOOL "Build the community server" FORCE)

# zlib linked in, as the compiler's runtime is (cmake/mingw-w64-*.cmake).
set(ZLIB_USE_STATIC_LIBS ON)

# Asio is header-only: Debian's libasio-dev, seen without the rest of /usr/include, whose C
# library headers are Linux's.
if(NOT EXISTS /usr/include/asio.hpp)
  message(FATAL_ERROR "Asio not found: scripts/setup.sh installs libasio-dev")
endif()
set(_ct_cross_include ${CMAKE_BINARY_DIR}/cross-include)
file(MAKE_DIRECTORY ${_ct_cross_include})
file(CREATE_LINK /usr/include/asio ${_ct_cross_include}/asio SYMBOLIC)
file(CREATE_LINK /usr/include/asio.hpp ${_ct_cross_include}/asio.hpp SYMBOLIC)
include_directories(SYSTEM ${_ct_cross_include})

# GoogleTest from the sources that Debian's libgtest-dev ships, compiled by the cross compiler.
if(NOT EXISTS /usr/src/googletest/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found: scripts/setup.sh installs libgtest-dev")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
# Its CMake project defines the GTest:: targets that find_package(GTest) would.
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

# Every program of this build runs under Wine, through a script that keeps Wine's prefix in the
# build folder and lets programs linked to Drovik.dll find it in bin/Include/Windows.
# A 64-bit build runs under Wine's 64-bit loader itself: Debian's `wine` starts the 32-bit one,
# which hands 64-bit programs on to it, and which a kernel built without 32-bit support (that of
# some virtual machines) cannot start at all. Programs the loader starts get the same one.
set(CT_WINE_LOADER "")
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  find_program(CT_WINE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
  if(CT_WINE)
    set(CT_WINE_LOADER "export WINELOADER=\"${CT_WINE}\"")
  endif()
endif()
find_program(CT_WINE wine)
if(NOT CT_WINE)
  message(FATAL_ERROR "Wine not found: scripts/setup.sh windows installs it")
endif()
string(REPLACE "/" "\\" CT_LIBRARY_DIR_WINDOWS "Z:${CT_LIBRARY_DIR}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh @ONLY
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
  WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)

# Under Wine every process start costs a second or more, the first one in a new prefix much more:
# each test executable is one ctest test, all its cases in one process, instead of a discovery run
# at build time and then one process per case. Its cases' time-outs add up to the executable's.
function(gtest_discover_tests target)
  cmake_parse_arguments(ARG "" "WORKING_DIRECTORY" "PROPERTIES;EXTRA_ARGS" ${ARGN})
  add_test(NAME ${target} COMMAND ${target} ${ARG_EXTRA_ARGS})
  if(ARG_WORKING_DIRECTORY)
    set_tests_properties(${target} PROPERTIES WORKING_DIRECTORY ${ARG_WORKING_DIRECTORY})
  endif()
  if(ARG_PROPERTIES)
    set_tests_properties(${target} PROPERTIES ${ARG_PROPERTIES})
  endif()
  set_tests_properties(${target} PROPERTIES TIMEOUT 900)
endfunction()
