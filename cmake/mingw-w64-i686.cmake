# Cross build for i686 Windows with clang and lld against MinGW-w64.
set(QUORVEL_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
