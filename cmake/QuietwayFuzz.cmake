# QUIETWAY_FUZZ builds the fuzz targets in fuzz/ with clang. The code under test is built
# with coverage and the sanitizers too, since code without them shows libFuzzer no edges and
# hides memory errors from ASan.
option(QUIETWAY_FUZZ "Build the libFuzzer targets (clang only)" OFF)

if(QUIETWAY_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang" OR WIN32)
    message(FATAL_ERROR "QUIETWAY_FUZZ needs clang on Linux (CXX=clang++)")
  endif()
  set(fuzz_flags -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                 -fno-omit-frame-pointer)
  add_compile_options(${fuzz_flags})
  add_link_options(-fsanitize=address,undefined)
endif()
