# What both Windows cross builds share; the including toolchain file sets CMAKE_SYSTEM_PROCESSOR
# and CT_MINGW_TRIPLE first.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${CT_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CT_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${CT_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${CT_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C++ runtime, libgcc and winpthreads are linked in, so the programs and Drovik.dll need no
# DLL of the compiler beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
