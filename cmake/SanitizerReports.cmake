# cmake -DREPORTS=<folder> [-DCLEAR=ON] -P SanitizerReports.cmake
# With CLEAR, empties the folder that the programs of a test run write their
# sanitizer reports to. Otherwise prints every report left there (one file
# per process, named after the program and its process id) and fails when
# there is any.
if(CLEAR)
  file(REMOVE_RECURSE "${REPORTS}")
  file(MAKE_DIRECTORY "${REPORTS}")
  return()
endif()
file(GLOB reports "${REPORTS}/*")
foreach(report IN LISTS reports)
  file(READ "${report}" text)
  message("${report}:\n${text}")
endforeach()
list(LENGTH reports count)
if(count GREATER 0)
  message(FATAL_ERROR "${count} sanitizer report(s) in ${REPORTS}")
endif()
message("no sanitizer reports")
