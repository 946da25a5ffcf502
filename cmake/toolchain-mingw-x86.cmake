# MinGW-w64 (posix threads) cross toolchain for 32-bit Windows.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(HV_MINGW_PREFIX i686-w64-mingw32)
set(HV_ARCH x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# The crash reporter walks 32-bit stacks along the chain of saved frame pointers.
string(APPEND CMAKE_C_FLAGS_INIT " -fno-omit-frame-pointer")
string(APPEND CMAKE_CXX_FLAGS_INIT " -fno-omit-frame-pointer")
