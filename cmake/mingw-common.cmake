# Shared part of the MinGW toolchain files. HV_MINGW_PREFIX and HV_ARCH are set by the caller.
set(CMAKE_C_COMPILER ${HV_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${HV_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${HV_MINGW_PREFIX}-windres)
# The message compiler of MinGW's binutils: the Event Log's message table.
set(HV_WINDMC ${HV_MINGW_PREFIX}-windmc)
set(CMAKE_FIND_ROOT_PATH /usr/${HV_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(HV_MINGW_SYSROOT /usr/${HV_MINGW_PREFIX})

# DWARF 4: Wine's debug-help library reads it (not version 5, the compiler's default), so crash
# logs name functions and source lines also under Wine.
set(CMAKE_C_FLAGS_INIT "-gdwarf-4")
set(CMAKE_CXX_FLAGS_INIT "-gdwarf-4")

# Wine has no MinGW runtime DLLs: every executable is linked fully static.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests built for Windows run under Wine through a wrapper that selects the prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
