// Views whose file shrinks under them. On Windows a section cannot shrink
// while a view of it exists; here a section is a file, which anyone who may
// write it can cut short, and a touch past a file's end would end the
// process with SIGBUS. While a view is guarded, such a touch finds a page of
// zeros in place of the bytes that are gone (writes to it go nowhere), so
// that a reader sees a section full of nothing, which it can refuse, and
// goes on.
#pragma once

#include <cstddef>

namespace platform::kernel {

// Guards the view at `base`, `length` bytes that map with `protection`
// (PROT_*). False when the process guards as many views as it can already:
// the view works, unguarded.
bool guardView(void *base, size_t length, int protection);

// Stops guarding the view at `base`, before it is unmapped.
void unguardView(void *base);

}  // namespace platform::kernel
