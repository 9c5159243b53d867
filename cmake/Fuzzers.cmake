# libFuzzer targets: POSIX only, with clang, in a build folder of their own:
#   CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DWITH_FUZZERS=ON
# Every target of that folder is built with coverage instrumentation and the
# address and undefined-behaviour sanitizers, so that the component's code and
# the platform layer under it are both watched; undefined behaviour stops the
# run like a crash.
option(WITH_FUZZERS "Build the libFuzzer targets (POSIX, clang)" OFF)
if(WITH_FUZZERS)
  if(WIN32 OR NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "WITH_FUZZERS needs clang on POSIX; configure a separate build folder with "
                        "CC=clang CXX=clang++")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=address,undefined)
endif()
