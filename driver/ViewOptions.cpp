// Command-line options of the field views:
//   --snapshot-every=N          E and H of the whole grid (or the snapshot planes) every N steps
//   --snapshot-plane=AXIS:COORD a plane normal to x, y or z at COORD metres (repeatable)
//   --map-plane=AXIS:COORD      a plane of frequency-domain maps (repeatable)
//   --map-freq=F[,F...]         frequencies of the maps in hertz (repeatable)
#include "driver/ViewOptions.hpp"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/Console.hpp"
#include "common/ErrorNumbers.hpp"

namespace fendrix {

namespace {

constexpr std::size_t kMaxPlanes = 32;
constexpr std::size_t kMaxFrequencies = 64;

// The text after `prefix` when `arg` starts with it, else null.
const char* valueOf(const char* arg, const char* prefix) {
    const std::size_t n = std::strlen(prefix);
    return std::strncmp(arg, prefix, n) == 0 ? arg + n : nullptr;
}

// A finite decimal number that fills the text up to `end` (a separator or NUL).
bool readNumber(const char* text, char separator, double& value, const char*& next) {
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text, &end);
    if (end == text || errno == ERANGE || !std::isfinite(value)) return false;
    if (*end != '\0' && *end != separator) return false;
    next = end;
    return true;
}

bool readPlane(const char* text, ViewPlane& plane) {
    const char axis = text[0];
    if (axis < 'x' || axis > 'z' || text[1] != ':') return false;
    plane.axis = axis - 'x';
    const char* next = nullptr;
    return readNumber(text + 2, '\0', plane.coordinate, next) && text[2] != ' ';
}

int fail(int status, const char* arg, const char* why) {
    console::error("View option '%s': %s\n", arg, why);
    return status;
}

}  // namespace

bool isViewOption(const char* arg) {
    return valueOf(arg, "--snapshot-") != nullptr || valueOf(arg, "--map-") != nullptr;
}

int readViewOptions(const std::vector<const char*>& arguments, ViewRequest& request) {
    const char* lastPlaneArg = nullptr;
    const char* lastFrequencyArg = nullptr;
    for (const char* arg : arguments) {
        if (const char* v = valueOf(arg, "--snapshot-every=")) {
            char* end = nullptr;
            errno = 0;
            const long long n = std::strtoll(v, &end, 10);
            if (end == v || *end != '\0' || errno == ERANGE || n < 1 || n > 2147483647)
                return fail(run_error::kViewInterval, arg,
                            "the snapshot interval must be a whole number of time steps from 1 to "
                            "2147483647.");
            request.snapshotEvery = static_cast<std::uint32_t>(n);
        } else if (valueOf(arg, "--snapshot-plane=") || valueOf(arg, "--map-plane=")) {
            const char* map = valueOf(arg, "--map-plane=");
            ViewPlane plane{};
            if (!readPlane(map ? map : valueOf(arg, "--snapshot-plane="), plane))
                return fail(run_error::kViewPlane, arg,
                            "a plane is an axis x, y or z, a colon and a coordinate in metres "
                            "(for example z:0.0015).");
            (map ? request.mapPlanes : request.snapshotPlanes).push_back(plane);
            if (map) lastPlaneArg = arg;
        } else if (const char* v = valueOf(arg, "--map-freq=")) {
            lastFrequencyArg = arg;
            for (const char* p = v;;) {
                double f = 0.0;
                const char* next = nullptr;
                if (!readNumber(p, ',', f, next) || !(f > 0.0) || *p == ' ')
                    return fail(run_error::kViewFrequency, arg,
                                "frequencies are positive numbers in hertz, separated by commas.");
                request.mapFrequencies.push_back(f);
                if (*next == '\0') break;
                p = next + 1;
            }
        } else {
            return fail(run_error::kViewCombination, arg,
                        "unknown view option (known: --snapshot-every=N, --snapshot-plane=AXIS:COORD, "
                        "--map-plane=AXIS:COORD, --map-freq=F[,F...]).");
        }
        if (request.snapshotPlanes.size() > kMaxPlanes || request.mapPlanes.size() > kMaxPlanes ||
            request.mapFrequencies.size() > kMaxFrequencies)
            return fail(run_error::kViewCombination, arg,
                        "at most 32 planes of each kind and 64 map frequencies.");
    }
    if (!request.snapshotPlanes.empty() && request.snapshotEvery == 0)
        return fail(run_error::kViewCombination, "--snapshot-plane",
                    "snapshot planes need --snapshot-every=N.");
    if (!request.mapPlanes.empty() && request.mapFrequencies.empty())
        return fail(run_error::kViewCombination, lastPlaneArg, "map planes need --map-freq=F.");
    if (request.mapPlanes.empty() && !request.mapFrequencies.empty())
        return fail(run_error::kViewCombination, lastFrequencyArg, "map frequencies need --map-plane=AXIS:COORD.");
    return 0;
}

}  // namespace fendrix
