# Cross-building the Windows x64 plug-ins (.mexw64) with MinGW-w64 (Debian g++-mingw-w64-x86-64).
# The posix-thread compilers give the tests std::thread; the plug-ins link every runtime
# statically, so that they import nothing but libmx.dll, libmex.dll and Windows' own DLLs.
# Executables run under Wine when it is installed.
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
find_program(NURBS_WINE wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NURBS_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${NURBS_WINE})
endif()
