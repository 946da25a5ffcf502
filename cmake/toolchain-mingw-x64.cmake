# MinGW-w64 (posix threads) cross toolchain for 64-bit Windows.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(HV_MINGW_PREFIX x86_64-w64-mingw32)
set(HV_ARCH x64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
