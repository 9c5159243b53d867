// How the project's programs end: an exit code that also tells whether
// standard output could be written.
#pragma once

namespace commandline {

// `code`, once standard output is flushed; when it could not be written (a
// full disk, a pipe nobody reads) 1 instead, after saying so on standard
// error as "<program>: cannot write to standard output: <reason>", so that
// no output is lost without a word.
int finishOutput(const char *program, int code);

}  // namespace commandline
