# Cross build for Windows with clang 16 and lld 16 (Debian packages clang-16,
# lld-16, llvm-16) against Debian's MinGW-w64 headers and C runtime (package
# mingw-w64), for the processor that the including toolchain file sets in
# QUORVEL_MINGW_ARCH. lld writes the PDB files Windows debuggers read and
# marks x64 binaries CET-compatible, which GNU ld cannot.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${QUORVEL_MINGW_ARCH})
set(QUORVEL_MINGW_TRIPLE ${QUORVEL_MINGW_ARCH}-w64-mingw32)

set(CMAKE_C_COMPILER clang-16)
set(CMAKE_CXX_COMPILER clang++-16)
set(CMAKE_C_COMPILER_TARGET ${QUORVEL_MINGW_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${QUORVEL_MINGW_TRIPLE})
set(CMAKE_RC_COMPILER ${QUORVEL_MINGW_TRIPLE}-windres)
set(CMAKE_AR llvm-ar-16)
set(CMAKE_RANLIB llvm-ranlib-16)
# llvm-objcopy strips a binary and keeps its PE time stamp; GNU objcopy
# writes the current time. The checks read the tables with GNU objdump.
set(CMAKE_OBJCOPY llvm-objcopy-16)
set(CMAKE_OBJDUMP ${QUORVEL_MINGW_TRIPLE}-objdump)

# GCC's win32 thread model keeps libwinpthread-1.dll out of the imports: its
# libstdc++ headers, and its libgcc, libstdc++ and libssp archives, linked
# statically. Plain lld is lld 14, which writes no usable PDB for MinGW.
set(QUORVEL_MINGW_GCC_DIR /usr/lib/gcc/${QUORVEL_MINGW_TRIPLE}/12-win32)
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES ${QUORVEL_MINGW_GCC_DIR}/include/c++
    ${QUORVEL_MINGW_GCC_DIR}/include/c++/${QUORVEL_MINGW_TRIPLE})
foreach(kind IN ITEMS EXE SHARED MODULE)
    set(CMAKE_${kind}_LINKER_FLAGS_INIT "-fuse-ld=lld-16 -L${QUORVEL_MINGW_GCC_DIR}")
endforeach()

set(CMAKE_FIND_ROOT_PATH /usr/${QUORVEL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
