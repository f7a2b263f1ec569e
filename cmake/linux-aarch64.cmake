# Cross build for 64-bit ARM Linux (Debian's arm64) with Debian's cross compiler.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(KELVARIN_TRIPLET aarch64-linux-gnu)
set(KELVARIN_QEMU aarch64)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
