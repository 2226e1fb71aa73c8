# CMake tool chain for the 32-bit Windows build (QOR3.DLL, the tools and the test exe) with
# MinGW-w64.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QOR3_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
