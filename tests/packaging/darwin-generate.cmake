# Toolchain for generating, never building, the Mac build on Linux so that
# cmake/Apple.cmake runs here. There is no SDK or Apple linker, so the
# compiler checks are skipped and install_name_tool is any program at all.
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR arm64)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_OBJCXX_COMPILER clang++)
set(CMAKE_OSX_SYSROOT /)
set(CMAKE_C_COMPILER_WORKS TRUE)
set(CMAKE_CXX_COMPILER_WORKS TRUE)
set(CMAKE_OBJCXX_COMPILER_WORKS TRUE)
set(CMAKE_INSTALL_NAME_TOOL ${CMAKE_COMMAND})
# FindThreads would try to link a test program.
set(CMAKE_HAVE_LIBC_PTHREAD TRUE CACHE INTERNAL "")
