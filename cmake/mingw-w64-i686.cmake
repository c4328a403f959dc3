# Cross build for 32-bit Windows with Debian's mingw-w64 (POSIX thread model, for std::thread).
# Used by the win32 preset; the tests run under Wine (cmake/WindowsCross.cmake).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CT_MINGW_TRIPLE i686-w64-mingw32)

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

# Floats in SSE registers, not the x87 stack, which would turn a signalling NaN that a job sends
# into a quiet one. Every processor that runs Windows 8 or later has SSE2.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
