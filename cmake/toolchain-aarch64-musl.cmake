# Fully static build for the device: one AArch64 binary that starts on every AArch64
# Linux, whatever its C library (glibc of any age, musl, or none at all). Debian's
# g++-aarch64-linux-gnu compiles against the headers of musl-dev:arm64 and links
# musl's libc.a with the compiler's own start and end files; neither glibc nor the C++
# library goes in (libstdc++'s headers are made for glibc). Only the tool is built:
# its tests need the C++ library, and run against this binary from the dynamic build.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
if(NOT CMAKE_CXX_COMPILER)
  set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
endif()

set(MDMIO_STATIC ON CACHE BOOL "Link the tool fully static and ship it as a tarball")

set(mdmio_musl_include /usr/include/aarch64-linux-musl)
set(mdmio_musl_lib /usr/lib/aarch64-linux-musl)

# The compiler's own files, wherever its version keeps them.
function(mdmio_compiler_file variable option)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} ${option}
    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
  if(failed OR NOT EXISTS "${path}")
    message(FATAL_ERROR "${CMAKE_CXX_COMPILER} ${option} gives no file: '${path}'")
  endif()
  set(${variable} "${path}" PARENT_SCOPE)
endfunction()
mdmio_compiler_file(mdmio_gcc_include -print-file-name=include)
mdmio_compiler_file(mdmio_crtbegin -print-file-name=crtbeginT.o)
mdmio_compiler_file(mdmio_crtend -print-file-name=crtend.o)
mdmio_compiler_file(mdmio_libgcc -print-libgcc-file-name)
foreach(file crt1.o crti.o crtn.o libc.a)
  if(NOT EXISTS ${mdmio_musl_lib}/${file})
    message(FATAL_ERROR "${mdmio_musl_lib}/${file} is missing: install musl-dev:arm64")
  endif()
endforeach()

# The device's binary is built for size, as router firmware is (its speed is the
# modem's), across all its sources at link time; the tool has no exceptions, so no
# unwind tables either.
set(CMAKE_BUILD_TYPE MinSizeRel CACHE STRING "Build type")
set(CMAKE_INTERPROCEDURAL_OPTIMIZATION ON CACHE BOOL "Optimise across sources at link time")

# Unused functions and data are dropped at link time: half the binary otherwise. No
# RELRO: nothing in a static musl binary makes it read-only after start-up, and its
# page-aligned end would pad the file by up to 64 KiB once the code passes 64 KiB.
set(CMAKE_CXX_FLAGS_INIT
  "-nostdinc -isystem ${mdmio_musl_include} -isystem ${mdmio_gcc_include} -fno-pie -ffunction-sections -fdata-sections -fno-asynchronous-unwind-tables -fno-unwind-tables")
set(CMAKE_CXX_LINK_EXECUTABLE
  "<CMAKE_CXX_COMPILER> <FLAGS> <CMAKE_CXX_LINK_FLAGS> <LINK_FLAGS> -static -no-pie -nostdlib -Wl,--gc-sections -Wl,-z,norelro ${mdmio_musl_lib}/crt1.o ${mdmio_musl_lib}/crti.o ${mdmio_crtbegin} <OBJECTS> -o <TARGET> <LINK_LIBRARIES> -Wl,--start-group ${mdmio_musl_lib}/libc.a ${mdmio_libgcc} -Wl,--end-group ${mdmio_crtend} ${mdmio_musl_lib}/crtn.o")
