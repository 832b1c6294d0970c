# Cross-compiling the release build: 32-bit Windows, GUI subsystem 4.0.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(MINGW_PREFIX i686-w64-mingw32)
set(OSTRAVEL_SUBSYSTEM_VERSION 4.0)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
