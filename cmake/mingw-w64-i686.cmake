# Cross build for 32-bit Windows (x86) with Debian's mingw-w64: the x64
# toolchain with the i686 compilers.
set(KELVARIN_MINGW_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-x86_64.cmake)
