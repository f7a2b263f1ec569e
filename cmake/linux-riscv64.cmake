# Cross build for 64-bit RISC-V Linux (Debian's riscv64) with Debian's cross compiler.
set(CMAKE_SYSTEM_PROCESSOR riscv64)
set(KELVARIN_TRIPLET riscv64-linux-gnu)
set(KELVARIN_QEMU riscv64)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE riscv64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
