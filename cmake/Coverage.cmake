# Line and branch coverage of the POSIX build (the linux-coverage preset):
# every target of our own is built with gcov's instrumentation, without
# optimisation, and scripts/coverage reports it once the suite has run.
option(COVERAGE "Build the POSIX suite with coverage instrumentation (gcov)" OFF)
if(COVERAGE)
  if(WIN32 OR SANITIZERS OR WITH_FUZZERS)
    message(FATAL_ERROR "COVERAGE applies to the plain POSIX build only")
  endif()
  # Counts are updated atomically: the exporter and the thread tests count
  # from several threads at once, and torn counts read as negative.
  add_compile_options(--coverage -fprofile-update=atomic -O0)
  add_link_options(--coverage)
endif()
