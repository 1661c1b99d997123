# Read by cpack for a cross build's .deb. Its Depends is read off the binary by
# dpkg-shlibdeps, which needs the target's C library with its control files: installed
# (libc6:arm64), unpacked in the build folder (the README's Packages), or named with
# -D CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS=<dir>. Without any, cpack stops with
# one line that says what to do: a .deb is never made without Depends.
if(CPACK_GENERATOR STREQUAL "DEB" AND NOT CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS)
  set(mdmio_libc_dir "${CPACK_MDMIO_TARGET_LIBC}/lib/${CPACK_MDMIO_TARGET_TRIPLET}")
  if(EXISTS "${mdmio_libc_dir}/libc.so.6")
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${mdmio_libc_dir}")
  elseif(NOT EXISTS "/lib/${CPACK_MDMIO_TARGET_TRIPLET}/libc.so.6")
    message(NOTICE "cpack: ${CPACK_MDMIO_TARGET_PACKAGE} is needed to read the package's Depends: (cd ${CPACK_MDMIO_BUILD_DIR} && apt-get download ${CPACK_MDMIO_TARGET_PACKAGE} && dpkg-deb -R libc6_*_${CPACK_DEBIAN_PACKAGE_ARCHITECTURE}.deb ${CPACK_MDMIO_TARGET_LIBC}), then cpack again")
    message(FATAL_ERROR "no ${CPACK_DEBIAN_PACKAGE_ARCHITECTURE} .deb without its Depends")
  endif()
endif()
