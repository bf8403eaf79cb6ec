# Cross build for 64-bit Windows with Debian's MinGW-w64 (posix threads) and the Qt 5.15 SDK
# built for it: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#                     -DCMAKE_PREFIX_PATH=/opt/orvik-qt5-mingw
# The suites run under Wine (scripts/wine-run.sh).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ORVIK_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ORVIK_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORVIK_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${ORVIK_MINGW}-windres)
foreach(tool AR RANLIB STRIP OBJDUMP)
    string(TOLOWER ${tool} program)
    set(CMAKE_${tool} ${ORVIK_MINGW}-${program} CACHE FILEPATH "")
endforeach()

set(CMAKE_FIND_ROOT_PATH /usr/${ORVIK_MINGW} ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
