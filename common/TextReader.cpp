#include "common/TextReader.hpp"

#include <cstdlib>

namespace fendrix {

namespace text {

bool readReal(char*& pos, double& value) {
    char* end = nullptr;
    double v = std::strtod(pos, &end);
    if (end == pos) return false;
    value = v;
    pos = end;
    return true;
}

bool readUnsigned(char*& pos, std::uint32_t& value) {
    char* end = nullptr;
    unsigned long v = std::strtoul(pos, &end, 10);
    if (end == pos) return false;
    value = static_cast<std::uint32_t>(v);
    pos = end;
    return true;
}

bool readSigned(char*& pos, std::int32_t& value) {
    char* end = nullptr;
    long v = std::strtol(pos, &end, 10);
    if (end == pos) return false;
    value = static_cast<std::int32_t>(v);
    pos = end;
    return true;
}

bool readRealThen(char*& pos, double& value, char separator) {
    char* p = pos;
    if (!readReal(p, value) || *p != separator) return false;
    pos = p + 1;
    return true;
}

bool readUnsignedThen(char*& pos, std::uint32_t& value, char separator) {
    char* p = pos;
    if (!readUnsigned(p, value) || *p != separator) return false;
    pos = p + 1;
    return true;
}

bool readSignedThen(char*& pos, std::int32_t& value, char separator) {
    char* p = pos;
    if (!readSigned(p, value) || *p != separator) return false;
    pos = p + 1;
    return true;
}

}  // namespace text

}  // namespace fendrix
