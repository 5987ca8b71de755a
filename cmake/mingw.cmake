# Cross-compiles the saver and its Windows test programs for 32-bit Windows, or, with
# QV_WIN_ARCH=x86_64 set before this file is read (the win64 preset), for 64-bit Windows.
# The -posix compilers: GoogleTest needs the posix thread model (std::mutex).
set(CMAKE_SYSTEM_NAME Windows)
if(NOT QV_WIN_ARCH)
  set(QV_WIN_ARCH i686)
endif()
set(CMAKE_SYSTEM_PROCESSOR ${QV_WIN_ARCH})
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QV_WIN_ARCH)

set(QV_TRIPLE ${QV_WIN_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER ${QV_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QV_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QV_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QV_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# ctest runs the test programs under Wine; a 64-bit program under the 64-bit loader
# itself, which also runs where the machine runs no 32-bit code at all.
if(QV_WIN_ARCH STREQUAL "x86_64")
  set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR wine)
endif()
