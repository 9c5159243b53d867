// A program's arguments as the project's programs read them.
#pragma once

#include <string>
#include <vector>

namespace commandline {

// The arguments after the program's name, as UTF-8: on Windows from the
// command line itself, since the narrow argv is in the ANSI code page; on
// POSIX argv as it is.
std::vector<std::string> commandArguments(int argc, char **argv);

}  // namespace commandline
