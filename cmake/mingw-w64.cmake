# Cross-compiling for 64-bit Windows with Debian's MinGW-w64, the POSIX-threads flavour (its
# libstdc++ has std::thread and the rest the engine uses). Programs run here under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUENLO_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUENLO_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUENLO_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${QUENLO_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUENLO_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Self-contained programs: no libstdc++, libgcc or winpthread DLLs to find at run time.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# ctest and test discovery start the test programs through Wine.
find_program(QUENLO_WINE NAMES wine64 wine)
if(QUENLO_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${QUENLO_WINE})
endif()
