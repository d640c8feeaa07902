# The cache of a Mac's release configure, generated here (cmake -C): the
# system name tells our CMakeLists.txt before project() that this is a Mac,
# the toolchain stands clang in for Apple's compiler, /usr/bin/true for leaks
# and this machine's GoogleTest (GTest_DIR in the environment) for brew's.
set(CMAKE_SYSTEM_NAME Darwin CACHE STRING "")
set(CMAKE_TOOLCHAIN_FILE ${CMAKE_CURRENT_LIST_DIR}/darwin-generate.cmake CACHE FILEPATH "")
set(CMAKE_BUILD_TYPE Release CACHE STRING "")
set(PELAGRIN_BUILD_BENCH OFF CACHE BOOL "")
set(LEAKS /usr/bin/true CACHE FILEPATH "")
set(GTest_DIR $ENV{GTest_DIR} CACHE PATH "")
