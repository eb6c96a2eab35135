#include "results/ViewFiles.hpp"

#include <sys/statvfs.h>

#include <cstdio>
#include <filesystem>
#include <regex>
#include <system_error>

#include "common/ErrorNumbers.hpp"

std::string viewFolder(const std::string& resultsFile) {
    std::filesystem::path path(resultsFile);
    return (path.parent_path() / (path.stem().string() + "_views")).string();
}

bool isViewFileName(const std::string& name) {
    static const std::regex pattern(
        "(snapshot_(grid|[xyz][0-9]+)_[0-9]{9,10}\\.vtr|map_[xyz][0-9]+_[0-9]+\\.vtr|"
        "(snapshot_(grid|[xyz][0-9]+)|map_[xyz][0-9]+)\\.pvd)(\\.partial)?");
    return std::regex_match(name, pattern);
}

unsigned removeEarlierViews(const std::string& folder) {
    namespace fs = std::filesystem;
    std::error_code error;
    unsigned removed = 0;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const fs::file_status status = it->symlink_status(error);
        if (error) break;
        if (!fs::is_regular_file(status) && !fs::is_symlink(status)) continue;
        if (!isViewFileName(it->path().filename().string())) continue;
        std::error_code ignored;
        if (fs::remove(it->path(), ignored)) ++removed;
    }
    return removed;
}

std::uint64_t viewFileBytes(const std::uint32_t count[3], std::uint32_t components) {
    const std::uint64_t points = std::uint64_t{count[0]} * count[1] * count[2];
    // The XML head stays below 2 KiB; each array is its byte count and its floats.
    std::uint64_t bytes = 2048 + 4 * points * components + 8 * std::uint64_t{components};
    for (int a = 0; a < 3; ++a) bytes += 8 + 8 * std::uint64_t{count[a]};
    return bytes;
}

int checkViewSpace(std::uint64_t fewest, std::uint64_t most, std::uint64_t free, const std::string& folder) {
    const double mib = 1.0 / (1024.0 * 1024.0);
    if (fewest > free) {
        std::fprintf(stderr,
                     "ERROR: The field views need at least %.1f MiB (the snapshots while the pulse lasts, and "
                     "the maps), but only %.1f MiB are free in '%s'. Take fewer snapshots (a larger "
                     "--snapshot-every, or --snapshot-plane instead of the whole grid), or free space there.\n",
                     fewest * mib, free * mib, folder.c_str());
        return run_error::kViewsExceedDisk;
    }
    if (most > free / 2) {
        std::fprintf(stderr,
                     "WARNING: The field views may write up to %.1f MiB, more than half of the %.1f MiB free "
                     "in '%s'. If the disk fills, the views stop and the results are still written.\n",
                     most * mib, free * mib, folder.c_str());
        return 1;
    }
    return 0;
}

// Free bytes for an unprivileged writer in `folder`; false when unknown.
bool freeBytes(const std::string& folder, std::uint64_t& bytes) {
    struct statvfs info;
    if (statvfs(folder.c_str(), &info) != 0) return false;
    bytes = std::uint64_t{info.f_bavail} * info.f_frsize;
    return true;
}
