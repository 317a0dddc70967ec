# Cross build for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64-posix: the POSIX
# thread model, which std::thread and std::mutex need). Test programs run under wine64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(mingw_prefix x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${mingw_prefix}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_prefix}-g++-posix)
set(CMAKE_RC_COMPILER ${mingw_prefix}-windres)

# The libraries Debian has no MinGW build of come from scripts/windows-deps.
set(EGAISS_WINDOWS_DEPS "${CMAKE_CURRENT_LIST_DIR}/../build/windows/deps/prefix" CACHE PATH
    "Static MinGW-w64 builds of PCRE2, libzip and cpp-httplib's header (scripts/windows-deps)")
set(CMAKE_FIND_ROOT_PATH /usr/${mingw_prefix} ${EGAISS_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Debian's wine64 package keeps the loader out of PATH unless the "wine" wrapper is installed too.
find_program(EGAISS_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(EGAISS_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${EGAISS_WINE64})
endif()
