# Cross build for 64-bit Windows with Debian's mingw-w64 (POSIX thread model, for std::thread).
# Used by the win64 preset; the tests run under Wine (cmake/WindowsCross.cmake).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CT_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
