# Cross build for IBM Z Linux: big-endian, so the tests run here catch a
# firmware reader that assumes the host's byte order. Not released.
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(KELVARIN_TRIPLET s390x-linux-gnu)
set(KELVARIN_QEMU s390x)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
