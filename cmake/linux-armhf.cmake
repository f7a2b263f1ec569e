# Cross build for 32-bit ARM Linux, ARMv7 with hard-float VFP (Debian's armhf,
# what Raspberry Pi OS 32-bit runs on a Pi 2 and later).
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(KELVARIN_TRIPLET arm-linux-gnueabihf)
set(KELVARIN_QEMU arm)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE armhf)
set(CMAKE_CXX_FLAGS_INIT "-march=armv7-a -mfpu=vfpv3-d16 -mfloat-abi=hard")
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
