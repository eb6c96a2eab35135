#include "common/Console.hpp"

#include <cstdarg>
#include <cstdio>

namespace fendrix {

namespace console {

namespace {
int level = -1;
}  // namespace

void setVerbosity(int newLevel) { level = newLevel; }
int verbosity() { return level; }

void say(const char* format, ...) {
    if (level < 0) return;
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
}

void echo(const char* format, ...) {
    if (level <= 0) return;
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
}

void print(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
}

void hostCodes(const char* format, ...) {
    if (level >= 0) return;
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}

void warning(const char* format, ...) {
    std::fputs("WARNING: ", stderr);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}

void error(const char* format, ...) {
    std::fputs("ERROR: ", stderr);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}

void detail(const char* format, ...) {
    std::fputs("  ", stderr);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}

void errorText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}

void flush() {
    std::fflush(stdout);
    std::fflush(stderr);
}

}  // namespace console

}  // namespace fendrix
