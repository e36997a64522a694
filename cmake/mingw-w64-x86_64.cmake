# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64-posix):
#   cmake -S . -B build-mingw -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The programs link their runtime statically, so Wine (or a bare Windows) needs no extra DLLs;
# when Wine is installed, CTest runs them through it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QTR290_MINGW_TRIPLET x86_64-w64-mingw32)
# The posix thread model: GoogleTest needs std::mutex, which the win32 model of GCC 12 lacks.
# The program itself starts no thread; -static links winpthread in, no DLL to ship.
set(CMAKE_C_COMPILER ${QTR290_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QTR290_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QTR290_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QTR290_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# -O2 for Release too: at -O3 this GCC warns falsely (-Warray-bounds) about vector inserts.
set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "Flags for Release builds")
set(CMAKE_C_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "Flags for Release builds")

find_program(QTR290_WINE NAMES wine wine64)
if(QTR290_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QTR290_WINE})
endif()
