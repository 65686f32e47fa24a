# Cross-build for the device's ABI: 32-bit ARM, Cortex-A9 with NEON, hard
# float. Libraries and headers come from an armhf tree (scripts/setup-armhf.sh
# extracts Debian's armhf packages into one); programs and tests run under
# qemu-arm with that tree as the root of their loader and libraries.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)

set(LYRANE_ARMHF_SYSROOT "$ENV{LYRANE_ARMHF_SYSROOT}" CACHE PATH "Root of the armhf library tree")
if(NOT LYRANE_ARMHF_SYSROOT)
  message(FATAL_ERROR "LYRANE_ARMHF_SYSROOT names no armhf tree (scripts/setup-armhf.sh makes one)")
endif()
set(CMAKE_SYSROOT "${LYRANE_ARMHF_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH "${LYRANE_ARMHF_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(device_flags "-mcpu=cortex-a9 -mfpu=neon -mfloat-abi=hard")
set(CMAKE_C_FLAGS_INIT "${device_flags}")
set(CMAKE_CXX_FLAGS_INIT "${device_flags}")

# pkg-config must see the tree's .pc files only, with their paths moved into it.
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${LYRANE_ARMHF_SYSROOT}")
set(ENV{PKG_CONFIG_LIBDIR}
  "${LYRANE_ARMHF_SYSROOT}/usr/lib/arm-linux-gnueabihf/pkgconfig:${LYRANE_ARMHF_SYSROOT}/usr/share/pkgconfig")

find_program(LYRANE_QEMU_ARM qemu-arm REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR "${LYRANE_QEMU_ARM};-L;${LYRANE_ARMHF_SYSROOT}")
