# Cross-builds for 64-bit Windows with Debian's MinGW-w64 compilers (posix thread model, so that
# std::thread and std::mutex work). Libraries are looked up only in the MinGW sysroot and in the
# prefix that scripts/build-windows-deps.sh fills:
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DQUENDLE_WINDOWS_PREFIX=<prefix> ...
# (the prefix may also come from the environment variable of the same name).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUENDLE_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUENDLE_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUENDLE_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QUENDLE_MINGW_TRIPLET}-windres)

if(NOT QUENDLE_WINDOWS_PREFIX AND DEFINED ENV{QUENDLE_WINDOWS_PREFIX})
    set(QUENDLE_WINDOWS_PREFIX "$ENV{QUENDLE_WINDOWS_PREFIX}")
endif()
# try_compile() projects read this file again; hand the prefix on to them.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUENDLE_WINDOWS_PREFIX)

set(CMAKE_FIND_ROOT_PATH /usr/${QUENDLE_MINGW_TRIPLET})
if(QUENDLE_WINDOWS_PREFIX)
    list(APPEND CMAKE_FIND_ROOT_PATH "${QUENDLE_WINDOWS_PREFIX}")
    list(APPEND CMAKE_PREFIX_PATH "${QUENDLE_WINDOWS_PREFIX}")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained .exe: the C and C++ runtimes and winpthread go into it, not beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

find_program(QUENDLE_WINE NAMES wine64 wine)
if(QUENDLE_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${QUENDLE_WINE})
endif()
