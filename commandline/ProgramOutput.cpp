#include "ProgramOutput.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace commandline {

int finishOutput(const char *program, int code) {
  errno = 0;
  if (fflush(stdout) == 0 && !ferror(stdout)) return code;
  const int error = errno;
  fprintf(stderr, "%s: cannot write to standard output: %s\n", program,
          error != 0 ? strerror(error) : "the stream failed");
  return code == 0 ? 1 : code;
}

}  // namespace commandline
