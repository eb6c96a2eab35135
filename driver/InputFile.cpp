#include "driver/InputFile.hpp"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>

#include "common/Console.hpp"
#include "common/ErrorNumbers.hpp"
#include "input/ParseLocation.hpp"

namespace fendrix {

char* loadInputFile(const char* path) {
    struct stat info;
    if (stat(path, &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return nullptr;
    std::size_t size = static_cast<std::size_t>(info.st_size);
    char* buffer = static_cast<char*>(std::malloc(size + 1));
    if (buffer == nullptr) {
        std::fclose(file);
        return nullptr;
    }
    if (std::fread(buffer, 1, size, file) != size) {
        std::free(buffer);
        std::fclose(file);
        return nullptr;
    }
    buffer[size] = '\0';
    std::fclose(file);
    return buffer;
}

void describeParseError(int error) {
    const char* what = parseErrorMeaning(error);
    if (parseLocation.line > 0)
        console::detail("in line %u of the description: %s\n", parseLocation.line, what);
    else
        console::detail("%s\n", what);
    for (const std::string& hint : parseErrorHints(error)) console::detail("Hint: %s\n", hint.c_str());
}

}  // namespace fendrix
