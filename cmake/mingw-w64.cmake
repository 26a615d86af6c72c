# Cross build for 64-bit Windows with mingw-w64 (Debian: g++-mingw-w64-x86-64-posix).
#   cmake -S . -B build/windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
# The posix thread model gives std::thread and friends; the runtime is linked statically so the
# executables run on Windows and under Wine without any DLLs beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(RUVALDA_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${RUVALDA_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${RUVALDA_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${RUVALDA_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${RUVALDA_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
