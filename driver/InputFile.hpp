#pragma once

namespace fendrix {

// Reads the whole file into a new NUL-terminated buffer (release with free),
// or returns null when its size cannot be queried, it cannot be opened or read.
char* loadInputFile(const char* path);

// Readable-mode hint on stderr after a parse error: what the number means and,
// when the parser recorded it, which line of the description failed.
void describeParseError(int error);

}  // namespace fendrix
