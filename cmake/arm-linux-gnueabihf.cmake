# Cross build for the target: 32-bit ARM (ARMv7-A, VFPv3-D16), hard-float
# GNU/Linux. By default Debian's cross compiler (g++-arm-linux-gnueabihf),
# whose defaults are exactly that CPU and float ABI. A board SDK is used
# instead by naming its compiler prefix and sysroot:
#   -DPTZ_CROSS_PREFIX=/opt/sdk/bin/arm-linux-gnueabihf- -DPTZ_SYSROOT=/opt/sdk/sysroot
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(PTZ_CROSS_PREFIX "arm-linux-gnueabihf-" CACHE STRING
    "Cross compiler prefix: gcc and g++ are PREFIXgcc and PREFIXg++ (a path may come first)")
set(PTZ_SYSROOT "" CACHE PATH
    "Board SDK sysroot; empty: Debian's cross compiler with its /usr/arm-linux-gnueabihf and armhf multiarch libraries")
# try_compile projects read this file again; hand them the same choice.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES PTZ_CROSS_PREFIX PTZ_SYSROOT)

set(CMAKE_C_COMPILER "${PTZ_CROSS_PREFIX}gcc")
set(CMAKE_CXX_COMPILER "${PTZ_CROSS_PREFIX}g++")

if(PTZ_SYSROOT)
  set(CMAKE_SYSROOT "${PTZ_SYSROOT}")
  set(CMAKE_FIND_ROOT_PATH "${PTZ_SYSROOT}")
  set(PTZ_EMULATOR_ROOT "${PTZ_SYSROOT}")
else()
  # Debian keeps the cross C library in /usr/arm-linux-gnueabihf and other
  # armhf libraries (multiarch, used by the stand-in host) under /usr.
  set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf /)
  set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
  set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/share/pkgconfig")
  set(PTZ_EMULATOR_ROOT /usr/arm-linux-gnueabihf)
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under user-mode emulation.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L "${PTZ_EMULATOR_ROOT}")
