# Cross-building the Qt-free core, ternctl.exe and the Windows tests on
# Debian with mingw-w64 (package g++-mingw-w64-x86-64-posix: the posix
# thread model, which std::thread needs). GoogleTest is built from Debian's
# googletest source package.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(TERN_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's sources, built with the project")
# The programs run on a PC without the cross compiler's DLLs: the C++
# runtime, libgcc and winpthread go into each executable.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
