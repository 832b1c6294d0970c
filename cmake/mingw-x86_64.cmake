# Cross-compiling the 64-bit build that runs under Wine. It keeps the
# toolchain's subsystem version: no 64-bit Windows is older than 5.2.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(MINGW_PREFIX x86_64-w64-mingw32)
set(OSTRAVEL_SUBSYSTEM_VERSION "")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
