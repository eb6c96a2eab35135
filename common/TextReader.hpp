#pragma once

#include <cstdint>

namespace fendrix {

// Number reading shared by every line parser of the description. Each reader
// skips leading white space (the C library conversions do), reads one number at
// `pos`, and on success moves `pos` to the character that ended the number.
// They return false when no character was consumed; `pos` is then unchanged.
// The text is always NUL-terminated, so no reader can run past its end.
namespace text {

bool readReal(char*& pos, double& value);
bool readUnsigned(char*& pos, std::uint32_t& value);  // sign accepted, wraps like strtoul
bool readSigned(char*& pos, std::int32_t& value);

// Reads a number and checks that the character ending it is `separator`;
// on success `pos` moves past that separator.
bool readRealThen(char*& pos, double& value, char separator);
bool readUnsignedThen(char*& pos, std::uint32_t& value, char separator);
bool readSignedThen(char*& pos, std::int32_t& value, char separator);

// Moves past one character whatever it is, but never past the terminating NUL.
inline void skipOne(char*& pos) {
    if (*pos != '\0') ++pos;
}

}  // namespace text

}  // namespace fendrix
