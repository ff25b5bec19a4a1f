# What the two MinGW-w64 cross builds share; the toolchain files name the
# processor (MINGW_TRIPLET) and include this. The programs run under Wine.
set(CMAKE_SYSTEM_NAME Windows)

# The POSIX-thread variant, whose C++ library has std::mutex (GoogleTest
# needs it); linked statically, it adds no DLL.
set(CMAKE_C_COMPILER ${MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLET}-windres)
set(CMAKE_OBJDUMP ${MINGW_TRIPLET}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The Wine loader of the build's own bitness, called by its path: the
# /usr/bin/wine wrapper picks the 32-bit loader whenever it is installed, even
# on a kernel that cannot run it.
if(EXISTS ${MINGW_WINE_LOADER})
  set(CMAKE_CROSSCOMPILING_EMULATOR ${MINGW_WINE_LOADER})
endif()
