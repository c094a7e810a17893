# Builds programs the Microsoft way on Linux: clang-cl and lld-link for the
# processor in QUORVEL_CONSUMER_PROCESSOR (x86_64 or i686). No Windows SDK
# and no C runtime: the programs reach kernel32 through MinGW-w64's import
# library, and CMake's test program is a static library, which needs neither.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER clang-cl-14)
set(CMAKE_C_COMPILER_TARGET ${QUORVEL_CONSUMER_PROCESSOR}-pc-windows-msvc)
# lld-14 installs the linker as lld-link-14 (lld-link only with the lld package).
find_program(CMAKE_LINKER NAMES lld-link lld-link-14 REQUIRED)
set(CMAKE_MT llvm-mt-14)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUORVEL_CONSUMER_PROCESSOR)
set(CMAKE_C_STANDARD_LIBRARIES "" CACHE STRING "" FORCE)
set(QUORVEL_KERNEL32 /usr/${QUORVEL_CONSUMER_PROCESSOR}-w64-mingw32/lib/libkernel32.a)
if(QUORVEL_CONSUMER_PROCESSOR STREQUAL "i686")
    # Without a C runtime there is no table of safe exception handlers.
    set(CMAKE_EXE_LINKER_FLAGS_INIT "/machine:x86 /safeseh:no")
endif()
