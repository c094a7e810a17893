# Cross build for x86_64 Windows with clang and lld against MinGW-w64.
set(QUORVEL_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
