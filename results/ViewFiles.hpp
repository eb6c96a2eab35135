#pragma once

#include <cstdint>
#include <string>

namespace fendrix {

// The files of the field views on disk: their folder and names, the leftovers
// of an earlier run, and the space they will take.

// Beside the results file, named after it: out/patch.dat -> out/patch_views.
std::string viewFolder(const std::string& resultsFile);

// The longest name a view file can have inside the folder (plane and step
// numbers of ten digits, with the temporary suffix), for the checks of names
// before the run.
inline constexpr const char* kLongestViewFile = "snapshot_x4294967295_4294967295.vtr.partial";

// True for the names the views write: snapshot_grid_STEP.vtr,
// snapshot_z12_STEP.vtr, map_z12_I.vtr, snapshot_grid.pvd, map_z12.pvd, ...,
// each also with ".partial" (a write that was cut off).
bool isViewFileName(const std::string& name);

// Removes the files of an earlier run from `folder`: only names of the views'
// own pattern, only plain files and links (a link is removed, never
// followed), never anything in a subfolder. The number removed.
unsigned removeEarlierViews(const std::string& folder);

// Bytes of one rectilinear-grid file of `count` nodes per axis with
// `components` floats per node in all.
std::uint64_t viewFileBytes(const std::uint32_t count[3], std::uint32_t components);

// Bytes free to an unprivileged writer in `folder`; false when unknown.
bool freeBytes(const std::string& folder, std::uint64_t& bytes);

// Space check before the run. `fewest`: bytes the views write before the run
// can end at all (the snapshots while the pulse lasts, and the maps); `most`:
// bytes up to the step limit (or `fewest` when the run has none); `free`:
// bytes free in the views' folder. 0 when it fits, 1 after a warning (more
// than half of the free space), or the run_error number after an error.
int checkViewSpace(std::uint64_t fewest, std::uint64_t most, std::uint64_t free, const std::string& folder);

}  // namespace fendrix
