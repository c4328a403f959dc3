# Cross build for 64-bit Windows with Debian's mingw-w64 (POSIX thread model, for std::thread).
# Used by the win64 preset; the tests run under Wine (cmake/WindowsCross.cmake).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CT_MINGW_TRIPLE x86_64-w64-mingw32)

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
