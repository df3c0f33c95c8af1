# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (package g++-mingw-w64-x86-64):
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
#   cmake --build build-windows -j2
#
# The programs are linked statically (no DLLs to carry along); the "-posix" compilers are the
# ones whose C++ library has std::thread. When wine is installed, CTest runs the test programs
# under it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(mingw_prefix x86_64-w64-mingw32)
find_program(mingw_cxx NAMES ${mingw_prefix}-g++-posix ${mingw_prefix}-g++ REQUIRED)
find_program(mingw_cc NAMES ${mingw_prefix}-gcc-posix ${mingw_prefix}-gcc REQUIRED)
set(CMAKE_CXX_COMPILER ${mingw_cxx})
set(CMAKE_C_COMPILER ${mingw_cc})
find_program(mingw_rc NAMES ${mingw_prefix}-windres)
if(mingw_rc)
  set(CMAKE_RC_COMPILER ${mingw_rc})
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${mingw_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# The test programs run under wine (wine64 for 64-bit programs where Debian splits the two).
find_program(wine_program NAMES wine64 wine)
if(wine_program)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${wine_program})
endif()
