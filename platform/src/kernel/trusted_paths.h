// Whether a file or folder may be trusted by this process: the platform's
// root, its registry store and the modules it loads come from where nobody
// but this user (or the system's administrator) can put or change them.
#pragma once

#include <sys/stat.h>

#include <string>

namespace platform::kernel {

// Why `posixPath` may not be trusted, naming what is wrong; empty when it may,
// or when it does not exist (opening it then fails on its own). It and every
// folder above it must belong to this user or to root, and nobody else may
// write to them: not other users, nor a group other than this user's own. A
// folder above it that others may write to is accepted only with its sticky
// bit, as /tmp has it, where nobody may rename or remove what is not theirs.
// A symbolic link is checked where it lies and where it leads.
std::string untrustedReason(const std::string &posixPath);

// Why one file or folder, as fstat or lstat saw it, may not be trusted; empty
// when it may. `name` names it in the reason.
std::string untrustedEntry(const std::string &name, const struct stat &status);

// Tells on stderr, once per process and text, that `what` was refused and why
// ("winplatform: refusing WHAT: WHY").
void reportRefusal(const std::string &what, const std::string &why);

}  // namespace platform::kernel
