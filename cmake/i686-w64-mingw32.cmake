# CMake toolchain for the 32-bit Windows build (QOR3.DLL and the test exe) with MinGW-w64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(QOR3_MINGW_TRIPLE i686-w64-mingw32)
# The -posix compilers: the win32 thread model has no std::mutex, which GoogleTest needs.
set(CMAKE_C_COMPILER ${QOR3_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QOR3_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QOR3_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QOR3_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
