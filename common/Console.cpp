#include "common/Console.hpp"

#include <cstdarg>
#include <cstdio>

namespace fendrix {

namespace console {

namespace {

int level = -1;

// printf with an optional prefix: the shared body of the printing functions.
void printTo(std::FILE* out, const char* prefix, const char* format, std::va_list args) {
    if (prefix != nullptr) std::fputs(prefix, out);
    std::vfprintf(out, format, args);
}

}  // namespace

void setVerbosity(int newLevel) { level = newLevel; }
int verbosity() { return level; }

// Each function below takes its arguments and hands them to printTo; the
// verbosity test in front is what tells them apart.
#define FENDRIX_PRINT(out, prefix)            \
    do {                                      \
        std::va_list args;                    \
        va_start(args, format);               \
        printTo(out, prefix, format, args);   \
        va_end(args);                         \
    } while (false)

void say(const char* format, ...) {
    if (level >= 0) FENDRIX_PRINT(stdout, nullptr);
}

void echo(const char* format, ...) {
    if (level > 0) FENDRIX_PRINT(stdout, nullptr);
}

void print(const char* format, ...) { FENDRIX_PRINT(stdout, nullptr); }

void hostCodes(const char* format, ...) {
    if (level >= 0) return;
    FENDRIX_PRINT(stdout, nullptr);
    std::fflush(stdout);
}

void warning(const char* format, ...) { FENDRIX_PRINT(stderr, "WARNING: "); }
void error(const char* format, ...) { FENDRIX_PRINT(stderr, "ERROR: "); }
void detail(const char* format, ...) { FENDRIX_PRINT(stderr, "  "); }
void errorText(const char* format, ...) { FENDRIX_PRINT(stderr, nullptr); }

#undef FENDRIX_PRINT

void flush() {
    std::fflush(stdout);
    std::fflush(stderr);
}

}  // namespace console

}  // namespace fendrix
