# Cross build for 32-bit Windows with Debian's mingw-w64 (POSIX thread model, for std::thread).
# Used by the win32 preset; the tests run under Wine (cmake/WindowsCross.cmake).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CT_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

# Floats in SSE registers, not the x87 stack, which would turn a signalling NaN that a job sends
# into a quiet one. Every processor that runs Windows 8 or later has SSE2.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
