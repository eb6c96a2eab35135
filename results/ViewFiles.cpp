#include "results/ViewFiles.hpp"

#include <sys/statvfs.h>

#include <cstdio>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "common/Console.hpp"
#include "common/ErrorNumbers.hpp"

namespace fendrix {

std::string viewFolder(const std::string& resultsFile) {
    std::filesystem::path path(resultsFile);
    return (path.parent_path() / (path.stem().string() + "_views")).string();
}

namespace {

// Only the digits 0-9, from `fewest` to `most` of them.
bool digits(std::string_view text, std::size_t fewest, std::size_t most) {
    if (text.size() < fewest || text.size() > most) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

// A plane's name: the axis letter and the line index, "z12".
bool planeName(std::string_view text) {
    return !text.empty() && text[0] >= 'x' && text[0] <= 'z' && digits(text.substr(1), 1, 10);
}

// `text` begins with `prefix`; `rest` is what follows it.
bool cut(std::string_view text, std::string_view prefix, std::string_view& rest) {
    if (text.substr(0, prefix.size()) != prefix) return false;
    rest = text.substr(prefix.size());
    return true;
}

}  // namespace

bool isViewFileName(const std::string& name) {
    std::string_view text = name;
    if (text.size() > 8 && text.substr(text.size() - 8) == ".partial") text.remove_suffix(8);
    if (text.size() < 4) return false;
    const std::string_view type = text.substr(text.size() - 4);
    text.remove_suffix(4);
    std::string_view rest;
    if (type == ".pvd")
        return (cut(text, "snapshot_", rest) && (rest == "grid" || planeName(rest))) ||
               (cut(text, "map_", rest) && planeName(rest));
    if (type != ".vtr") return false;
    const std::size_t last = text.rfind('_');
    if (last == std::string_view::npos) return false;
    const std::string_view number = text.substr(last + 1);
    text = text.substr(0, last);
    if (cut(text, "snapshot_", rest)) return (rest == "grid" || planeName(rest)) && digits(number, 9, 10);
    return cut(text, "map_", rest) && planeName(rest) && digits(number, 1, 10);
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
        console::error(
                     "The field views need at least %.1f MiB (the snapshots while the pulse lasts, and "
                     "the maps), but only %.1f MiB are free in '%s'. Take fewer snapshots (a larger "
                     "--snapshot-every, or --snapshot-plane instead of the whole grid), or free space there.\n",
                     fewest * mib, free * mib, folder.c_str());
        return run_error::kViewsExceedDisk;
    }
    if (most > free / 2) {
        console::warning(
                     "The field views may write up to %.1f MiB, more than half of the %.1f MiB free "
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

}  // namespace fendrix
