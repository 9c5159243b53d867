# Sanitizer builds of the whole POSIX tree, in build folders of their own (the
# linux-asan and linux-tsan presets): SANITIZERS lists what -fsanitize= gets,
# "address;undefined" or "thread". Every target of our own is instrumented,
# the platform layer and the programs the tests start included, and the first
# report of undefined behaviour stops the program, so that a test fails on it.
set(SANITIZERS "" CACHE STRING "Sanitizers for every target (POSIX): address;undefined, or thread")
if(SANITIZERS)
  if(WIN32)
    message(FATAL_ERROR "SANITIZERS applies to the POSIX build only")
  endif()
  if(WITH_FUZZERS)
    message(FATAL_ERROR "The fuzz build chooses its own sanitizers; configure SANITIZERS in another build folder")
  endif()
  list(JOIN SANITIZERS "," sanitize)
  set(SANITIZER_COMPILE_FLAGS -fsanitize=${sanitize} -fno-sanitize-recover=all -fno-omit-frame-pointer)
  set(SANITIZER_LINK_FLAGS -fsanitize=${sanitize})
  add_compile_options(${SANITIZER_COMPILE_FLAGS})
  add_link_options(${SANITIZER_LINK_FLAGS})

  # What every test runs with (tests/CMakeLists.txt gives it to each), and the
  # programs it starts inherit: leaks are reported at exit, undefined
  # behaviour with its stack, and tests/support/ubsan.supp excuses the one
  # dynamic type mismatch that COM's binary contract makes on purpose.
  # AddressSanitizer's, LeakSanitizer's and ThreadSanitizer's reports go to
  # files of one folder rather than to standard error, since a test does not
  # see the output of every program it causes to run: lodctr and unlodctr
  # started through WinExec, whose status nobody reads, or the sample host's,
  # which its test keeps in a file. The test run empties the folder first and
  # fails at its end when a report is there, printing each. gcc's UBSan
  # runtime is a library of its own beside ASan's, and next to it writes to
  # standard error whatever log_path says; its reports stop the program, and
  # SANITIZER_OUTPUT fails the test that shows one.
  set(SANITIZER_REPORTS_DIR ${CMAKE_BINARY_DIR}/sanitizer-reports)
  set(report_options "log_path=${SANITIZER_REPORTS_DIR}/report:log_exe_name=1")
  set(SANITIZER_ENVIRONMENT
    "ASAN_OPTIONS=${report_options}:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1"
    "UBSAN_OPTIONS=print_stacktrace=1:suppressions=${PROJECT_SOURCE_DIR}/tests/support/ubsan.supp"
    "TSAN_OPTIONS=${report_options}:second_deadlock_stack=1")
  set(SANITIZER_OUTPUT "runtime error: " "ERROR: [A-Za-z]+Sanitizer")
endif()
