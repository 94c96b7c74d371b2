# Cross-compiles the 32-bit Windows test suites with MinGW-w64's posix thread
# model, which GoogleTest and the tests' own threads need. The tests call
# functions newer than Windows XP and run only under Wine, so this tree has
# none of the XP settings of cmake/mingw-w64-i686.cmake; its winpthreads makes
# its programs Vista-and-later anyway. The end-to-end tests start the program
# of the XP tree instead (FERNQUILL_SPOOLER_UNDER_TEST). CTest runs the tests
# under Wine.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-i686.cmake)

set(CMAKE_C_COMPILER ${MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_PREFIX}-g++-posix)
set(CMAKE_C_FLAGS_INIT "")
set(CMAKE_CXX_FLAGS_INIT "")
set(CMAKE_RC_FLAGS_INIT "")
set(CMAKE_EXE_LINKER_FLAGS_INIT "")
set(FERNQUILL_XP_PROGRAM OFF)
