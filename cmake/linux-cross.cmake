# What every Linux cross build shares; the per-target files set the GNU
# triplet, the processor, qemu's name for it and Debian's architecture.
# Programs built here (the tests, and test discovery at build time) run
# under qemu-user, which finds the target's shared libraries under -L.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${KELVARIN_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${KELVARIN_TRIPLET}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${KELVARIN_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-${KELVARIN_QEMU}-static -L /usr/${KELVARIN_TRIPLET})
