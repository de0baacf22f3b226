# Cross-compiles the Windows program with clang for the MinGW-w64 target, against the headers and
# libraries of the installed MinGW-w64 GCC (posix thread model): a second compiler that catches
# what only one of them accepts.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${MINGW_PREFIX})
set(CMAKE_CXX_COMPILER_TARGET ${MINGW_PREFIX})
set(CMAKE_RC_COMPILER ${MINGW_PREFIX}-windres)

# clang does not look for the C++ library of a MinGW GCC by itself.
file(GLOB MINGW_GCC_DIRS /usr/lib/gcc/${MINGW_PREFIX}/*-posix)
list(GET MINGW_GCC_DIRS 0 MINGW_GCC_DIR)
set(CMAKE_CXX_FLAGS_INIT "-isystem ${MINGW_GCC_DIR}/include/c++ \
-isystem ${MINGW_GCC_DIR}/include/c++/${MINGW_PREFIX} -isystem ${MINGW_GCC_DIR}/include/c++/backward")
# -pthread puts the pthread library after the C++ and GCC libraries that need it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -pthread -fuse-ld=lld -L${MINGW_GCC_DIR}")

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
