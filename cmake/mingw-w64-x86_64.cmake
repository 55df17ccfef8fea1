# Cross-compiling for Windows x64 with Debian's mingw-w64 toolchain
# (g++-mingw-w64-x86-64-posix, or the plain g++-mingw-w64-x86-64).
#
#   cmake -S . -B build-windows -G Ninja \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#     -DMSFS_PANEL_TESTS=OFF -Dhidapi_DIR=<hidapi prefix>/lib/cmake/hidapi
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_TRIPLE x86_64-w64-mingw32)
# The posix thread model has std::thread and std::mutex in GCC 12; prefer it.
find_program(CMAKE_C_COMPILER NAMES ${MINGW_TRIPLE}-gcc-posix ${MINGW_TRIPLE}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${MINGW_TRIPLE}-g++-posix ${MINGW_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Packages may also come from a prefix built for this target (hidapi).
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# One self-contained .exe: libgcc, libstdc++ and winpthread linked in, so
# that it runs on Windows (and under Wine) without the toolchain's DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
