# Part of the mingw-w64 toolchain (mingw-w64.cmake): the programs link with
# -static, so find_library takes static archives only.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
