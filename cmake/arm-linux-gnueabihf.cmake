# Cross build of the router side for its 32-bit ARM processor (armhf: ARMv7, hard float), run under
# qemu-user. The libraries it links come from the armhf root laid out by scripts/arm-sysroot.sh; the C
# library and libstdc++ are the cross compiler's own.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)

get_filename_component(rt_source_dir ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
set(RT_ARM_SYSROOT ${rt_source_dir}/build/arm-sysroot CACHE PATH "armhf root (scripts/arm-sysroot.sh)")
if(NOT EXISTS ${RT_ARM_SYSROOT}/.stamp)
  message(FATAL_ERROR "No armhf root at ${RT_ARM_SYSROOT}: run scripts/install-deps.sh")
endif()

set(CMAKE_FIND_ROOT_PATH ${RT_ARM_SYSROOT} /usr/arm-linux-gnueabihf)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Headers that differ per architecture (OpenSSL's configuration among them) live in the root's
# multiarch folder, which the cross compiler does not search by itself.
set(CMAKE_C_FLAGS_INIT "-isystem ${RT_ARM_SYSROOT}/usr/include/arm-linux-gnueabihf")
set(CMAKE_CXX_FLAGS_INIT "-isystem ${RT_ARM_SYSROOT}/usr/include/arm-linux-gnueabihf")

# pkg-config answers for the armhf root, not for the host.
set(ENV{PKG_CONFIG_DIR} "")
set(ENV{PKG_CONFIG_LIBDIR}
    "${RT_ARM_SYSROOT}/usr/lib/arm-linux-gnueabihf/pkgconfig:${RT_ARM_SYSROOT}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} ${RT_ARM_SYSROOT})

# Shared libraries the linked ones need in turn (libgd's image formats) are looked up in the root.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,-rpath-link,${RT_ARM_SYSROOT}/usr/lib/arm-linux-gnueabihf")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-Wl,-rpath-link,${RT_ARM_SYSROOT}/usr/lib/arm-linux-gnueabihf")

# Programs run in the armhf root: its loader, C library and the libraries above.
set(RT_EMULATOR qemu-arm -L ${RT_ARM_SYSROOT})
set(CMAKE_CROSSCOMPILING_EMULATOR ${RT_EMULATOR})
