# Builds the terminal fuzzer with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs it for a bounded time over a copy of
# the seed corpus. Prints FUZZ-SKIPPED when clang or its fuzzer runtime is
# missing, which the test reports as skipped.
#   -DSOURCE_DIR=<comm/terminal> -DWORK_DIR=<build folder> -DSECONDS=<n>
# The fuzzer brings its own (clang's) sanitizer runtime; a sanitized test
# run preloads gcc's, which must not reach it.
unset(ENV{LD_PRELOAD})
find_program(CLANGXX NAMES clang++ clang++-16 clang++-15 clang++-14)
if(NOT CLANGXX)
  message("FUZZ-SKIPPED: clang++ is not installed")
  return()
endif()
file(MAKE_DIRECTORY ${WORK_DIR})
set(sources screen.cpp utf8.cpp char_width.cpp colors.cpp parser.cpp state.cpp terminal.cpp capture_file.cpp color_filter.cpp keys.cpp fuzz/terminal_fuzz.cpp)
list(TRANSFORM sources PREPEND ${SOURCE_DIR}/)
execute_process(
  COMMAND ${CLANGXX} -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
          -I${SOURCE_DIR} ${sources} -o ${WORK_DIR}/terminal_fuzz
  RESULT_VARIABLE built OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT built EQUAL 0)
  if(err MATCHES "fuzzer|cannot find|unsupported")
    message("FUZZ-SKIPPED: clang's fuzzer runtime is not available:\n${err}")
    return()
  endif()
  message(FATAL_ERROR "the fuzzer does not build:\n${err}")
endif()
file(REMOVE_RECURSE ${WORK_DIR}/corpus)
file(COPY ${SOURCE_DIR}/fuzz/corpus DESTINATION ${WORK_DIR})
execute_process(
  COMMAND ${WORK_DIR}/terminal_fuzz -max_total_time=${SECONDS} -rss_limit_mb=1024 -max_len=4096
          -artifact_prefix=${WORK_DIR}/ ${WORK_DIR}/corpus
  RESULT_VARIABLE ran)
if(NOT ran EQUAL 0)
  message(FATAL_ERROR "the fuzzer found a fault (result ${ran}); see the artifact in ${WORK_DIR}")
endif()
