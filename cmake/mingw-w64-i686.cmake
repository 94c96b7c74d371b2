# Cross-compiles the 32-bit Windows program with MinGW-w64, for Windows XP SP3
# and later.
#
# - The win32 thread model: the posix one links winpthreads, which imports
#   GetTickCount64 (Vista and later), and the program has no threads of its
#   own. GoogleTest needs std::mutex, which this model lacks, so this tree
#   builds the program and checks what it imports; the 32-bit test suites are
#   built in a tree of their own with cmake/mingw-w64-i686-posix.cmake.
# - The Windows headers offer only what XP has (_WIN32_WINNT, WINVER 0x0501),
#   so a call to a newer function fails to compile.
# - The PE header asks for Windows 5.01 (XP): a higher subsystem version and
#   XP's loader refuses the program ("not a valid Win32 application").
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${MINGW_PREFIX}-gcc-win32)
set(CMAKE_CXX_COMPILER ${MINGW_PREFIX}-g++-win32)
set(CMAKE_RC_COMPILER ${MINGW_PREFIX}-windres)

set(xpDefinitions "-D_WIN32_WINNT=0x0501 -DWINVER=0x0501")
set(CMAKE_C_FLAGS_INIT "${xpDefinitions}")
set(CMAKE_CXX_FLAGS_INIT "${xpDefinitions}")
set(CMAKE_RC_FLAGS_INIT "${xpDefinitions}")
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-Wl,--major-subsystem-version,5,--minor-subsystem-version,1,--major-os-version,5,--minor-os-version,1")

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The program built here is the one that ships: tests/CMakeLists.txt checks
# its imports against what Windows XP exports.
set(FERNQUILL_XP_PROGRAM ON)

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
