#include "driver/SetupChecks.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "common/Console.hpp"
#include "common/ErrorNumbers.hpp"
#include "common/PhysicalConstants.hpp"
#include "geometry/Geometry.hpp"
#include "grid/BoundaryKind.hpp"
#include "grid/FdtdEngine.hpp"
#include "results/RadiationSetup.hpp"
#include "results/ViewFiles.hpp"

namespace fendrix {

namespace {

const char kAxisName[3] = {'x', 'y', 'z'};
const char* const kFaceName[6] = {"x low", "x high", "y low", "y high", "z low", "z high"};

int resultsPathError(const std::string& fileName, const std::string& why) {
    console::error(
                 "Cannot write the results file '%s': %s. Create the folder, or change the "
                 "results file name at the end of the Sim line.\n",
                 fileName.c_str(), why.c_str());
    return run_error::kResultsNotWritable;
}

// Distance of `value` from the nearest line of `axis` and the size of the cell
// it lies in. False when the value lies outside the mesh: there the domain cuts
// the shape off, and where it ends does not matter.
bool offsetFromLines(const FdtdEngine& engine, int axis, double value, double& offset, double& line,
                     double& cell) {
    const std::vector<double>& x = engine.meshLines[axis];
    if (x.size() < 2 || value < x.front() || value > x.back()) return false;
    // The cell [x[i], x[i + 1]] that holds the value; the last one for the last line.
    const auto above = std::upper_bound(x.begin(), x.end() - 1, value);
    const std::size_t i = static_cast<std::size_t>(above - x.begin()) - 1;
    cell = x[i + 1] - x[i];
    const bool lower = value - x[i] <= x[i + 1] - value;
    line = lower ? x[i] : x[i + 1];
    offset = std::fabs(value - line);
    return true;
}

// The first of `count` coordinates (pairs of axis and value) that lies more than
// a quarter cell from its nearest line: one warning for the line it came from.
// Metal edges may lie a third of a cell from a line: the one-third rule puts
// them there on purpose, which models the current crowding at a strip's edge.
void warnFirstOffGrid(const FdtdEngine& engine, std::uint32_t line, const char* what, const int* axes,
                      const double* values, int count, bool metal = false) {
    const double limit = metal ? 0.34 : 0.25;
    for (int i = 0; i < count; ++i) {
        double offset = 0, nearest = 0, cell = 0;
        if (!offsetFromLines(engine, axes[i], values[i], offset, nearest, cell)) continue;
        if (!(offset > limit * cell)) continue;
        console::warning(
                     "Line %u: %s at %c = %g m is %g m from the nearest mesh line (%g m), more than "
                     "a %s of its %g m cell. Add a mesh line there or move it onto one.\n",
                     line, what, kAxisName[axes[i]], values[i], offset, nearest, metal ? "third" : "quarter", cell);
        return;
    }
}

}  // namespace

int checkResultsPath(const std::string& fileName, bool views) {
    if (fileName.empty()) return resultsPathError(fileName, "the Sim line names no file");
    const std::size_t slash = fileName.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : fileName.substr(0, slash);
    struct stat info;
    if (stat(folder.c_str(), &info) != 0)
        return resultsPathError(fileName, "the folder '" + folder + "' does not exist");
    if (!S_ISDIR(info.st_mode)) return resultsPathError(fileName, "'" + folder + "' is not a folder");
    // The dataset is written beside its final name and renamed: the folder
    // itself must take a new file.
    if (access(folder.c_str(), W_OK | X_OK) != 0)
        return resultsPathError(fileName, "no permission to create files in the folder '" + folder + "'");
    if (stat(fileName.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
        return resultsPathError(fileName, "it is a folder");
    // The longest names the run creates, found too long only when the results
    // are saved after the whole run unless tested here.
    const long nameMax = pathconf(folder.c_str(), _PC_NAME_MAX);
    const std::size_t longestName = nameMax > 0 ? static_cast<std::size_t>(nameMax) : NAME_MAX;
    std::vector<std::pair<std::string, std::string>> names = {
        {fileName.substr(slash == std::string::npos ? 0 : slash + 1) + ".partial", fileName + ".partial"}};
    if (views) {
        const std::string viewPath = viewFolder(fileName);
        const std::size_t cut = viewPath.find_last_of('/');
        names.push_back({viewPath.substr(cut == std::string::npos ? 0 : cut + 1), viewPath});
        names.push_back({kLongestViewFile, viewPath + "/" + kLongestViewFile});
    }
    for (const auto& [name, path] : names) {
        if (name.size() > longestName)
            return resultsPathError(fileName, "the run creates '" + name.substr(0, 40) + "...', a name of " +
                                                  std::to_string(name.size()) + " characters, where the file system "
                                                  "allows " + std::to_string(longestName) + "; shorten the name");
        if (path.size() >= PATH_MAX)
            return resultsPathError(fileName, "the run creates a path of " + std::to_string(path.size()) +
                                                  " characters there, where at most " + std::to_string(PATH_MAX - 1) +
                                                  " are allowed; shorten the path");
    }
    return 0;
}

int checkPortLengths(const FdtdEngine& engine, const Geometry& geometry) {
    for (const auto& element : geometry.lumpedElements) {
        const int d = element->axis;
        if (element->port < 1 || d < 0 || d > 2) continue;
        const std::uint32_t lo = engine.lineIndex(d, element->corner1[d], false);
        const std::uint32_t hi = engine.lineIndex(d, element->corner2[d], false);
        if (lo != hi) continue;
        console::error(
                     "Port %d (Electric line %u) has no length along its axis %c: both ends, %g and "
                     "%g m, are nearest to the mesh line at %g m, so the port would be left out and its "
                     "S-parameters could only be wrong. Check the direction code, or give the corners along "
                     "%c at least one cell apart.\n",
                     element->port, element->line, kAxisName[d], element->corner1[d], element->corner2[d],
                     engine.meshLines[d][lo], kAxisName[d]);
        return run_error::kPortWithoutLength;
    }
    return 0;
}

void warnCoarseCells(const FdtdEngine& engine, const Geometry& geometry, double topFrequency) {
    if (!(topFrequency > 0.0)) return;
    const double background = engine.backgroundEpsR * engine.backgroundMuR;
    for (int axis = 0; axis < 3; ++axis) {
        const std::vector<double>& x = engine.meshLines[axis];
        std::uint32_t worst = 0, coarse = 0;
        double worstRatio = 0.0, worstMaterial = background;
        for (std::uint32_t i = 0; i + 1 < x.size(); ++i) {
            // The densest dielectric whose shapes reach into the slab of this
            // cell: a safe side for a warning, exact for layered structures.
            double material = background;
            for (const auto& m : geometry.materials) {
                if (m->kind != MatMaterial::kDielectric) continue;
                const auto& dielectric = static_cast<const MatDielectric&>(*m);
                for (const auto& shape : m->shapes) {
                    if (shape->box[2 * axis] < x[i + 1] && shape->box[2 * axis + 1] > x[i])
                        material = std::max(material, dielectric.epsR * dielectric.muR);
                }
            }
            // Cell length in wavelengths of the material.
            const double ratio = (x[i + 1] - x[i]) * std::sqrt(material) * topFrequency / kSpeedOfLight;
            if (!(ratio > 0.1)) continue;
            ++coarse;
            if (ratio > worstRatio) {
                worstRatio = ratio;
                worst = i;
                worstMaterial = material;
            }
        }
        if (coarse == 0) continue;
        const double wavelength = kSpeedOfLight / (topFrequency * std::sqrt(worstMaterial));
        console::warning(
                     "%u cells along %c exceed a tenth of the wavelength at %g Hz; the largest, cell "
                     "%u from %g to %g m, is %g m where a tenth of the wavelength is %g m (eps_r mu_r %g). "
                     "Refine the mesh there; coordinates are in metres.\n",
                     coarse, kAxisName[axis], topFrequency, worst, x[worst], x[worst + 1],
                     x[worst + 1] - x[worst], 0.1 * wavelength, worstMaterial);
    }
}

void warnOffGrid(const FdtdEngine& engine, const Geometry& geometry) {
    for (const auto& material : geometry.materials) {
        for (const auto& shape : material->shapes) {
            int axes[6];
            double values[6];
            int count = 0;
            for (int axis = 0; axis < 3; ++axis) {
                if ((shape->faceAxes() & (1 << axis)) == 0) continue;
                for (int side = 0; side < 2; ++side) {
                    axes[count] = axis;
                    values[count++] = shape->box[2 * axis + side];
                }
            }
            warnFirstOffGrid(engine, shape->line, "shape face", axes, values, count,
                             material->kind == MatMaterial::kMetal);
        }
    }
    for (const auto& element : geometry.lumpedElements) {
        const int axes[6] = {0, 1, 2, 0, 1, 2};
        const double values[6] = {element->corner1[0], element->corner1[1], element->corner1[2],
                                  element->corner2[0], element->corner2[1], element->corner2[2]};
        warnFirstOffGrid(engine, element->line, element->port > 0 ? "port end" : "element end", axes, values,
                         6);
    }
}

int checkTimeStep(double timeStep, double topFrequency) {
    // Fewer than one step per half period samples nothing of the band.
    const double nyquist = 0.5 / topFrequency;
    if (!(topFrequency > 0.0) || timeStep < nyquist) return 0;
    console::error(
                 "The time step, %g s, is not below the Nyquist interval %g s of the highest frequency "
                 "%g Hz: the cells are far larger than a wavelength. Coordinates are in metres and "
                 "frequencies in hertz (1 mm is 0.001, 1 GHz is 1e9).\n",
                 timeStep, nyquist, topFrequency);
    return run_error::kTimeStepBeyondNyquist;
}

int checkPmlPlacement(const FdtdEngine& engine, const Geometry& geometry, const RadiationSetup* radiation) {
    const std::uint32_t n = engine.pmlCells;
    if (n == 0) return 0;
    const auto& kinds = engine.boundaryKind;
    if (std::find(kinds.begin(), kinds.end(), boundary_kind::kAbsorbing) == kinds.end())
        console::warning(
                     "--pml: the Boundary line has no absorbing face (code 2), so there is no layer; "
                     "give the open faces code 2.\n");
    // Fewest cells between the layers of an axis: room for a structure.
    constexpr std::uint32_t kInnerCells = 4;
    for (int axis = 0; axis < 3; ++axis) {
        const std::uint32_t layers = (engine.boundaryKind[2 * axis] == boundary_kind::kAbsorbing) +
                                       (engine.boundaryKind[2 * axis + 1] == boundary_kind::kAbsorbing);
        const std::uint32_t cells = engine.lineCount[axis] - 1;
        if (layers == 0 || cells >= layers * n + kInnerCells) continue;
        console::error(
                     "--pml=%u needs at least %u cells along %c (%u for each of its %u absorbing faces "
                     "and %u between), where the mesh has %u. Add air cells along %c, give a thinner layer "
                     "with --pml=N, or make a face a wall on the Boundary line.\n",
                     n, layers * n + kInnerCells, kAxisName[axis], n, layers, kInnerCells, cells,
                     kAxisName[axis]);
        return run_error::kPmlTooFewCells;
    }
    for (int face = 0; face < 6; ++face) {
        if (engine.boundaryKind[face] != boundary_kind::kAbsorbing) continue;
        const int axis = face / 2;
        const bool high = face % 2 == 1;
        const std::uint32_t last = engine.lineCount[axis] - 1;
        const std::uint32_t inner = high ? last - n : n;  // the layer's inner edge line
        const double edge = engine.meshLines[axis][inner];
        for (const auto& element : geometry.lumpedElements) {
            if (element->axis < 0 || element->axis > 2) continue;
            // The lines the element's ends snap to.
            const std::uint32_t lo = engine.lineIndex(axis, element->corner1[axis], false);
            const std::uint32_t hi = engine.lineIndex(axis, element->corner2[axis], false);
            if (high ? hi <= inner : lo >= inner) continue;
            const std::string what =
                element->port > 0 ? "port " + std::to_string(element->port) : std::string("a plain element");
            console::error(
                         "Electric line %u (%s) reaches into the %u-cell perfectly matched layer of "
                         "face %s, which begins at %c = %g m. Move it away from that face, add air cells "
                         "on that side, or give a thinner layer with --pml=N.\n",
                         element->line, what.c_str(), n, kFaceName[face], kAxisName[axis], edge);
            return run_error::kPmlElementInLayer;
        }
        if (radiation == nullptr) continue;
        // The box lies on line margin - 1 from each border and interpolates
        // from the nodes one line to either side of it.
        const std::uint32_t margin = std::max(radiation->boxMargin, 2u);
        if (margin >= n + 2) continue;
        console::error(
                     "The far-field box of the Radiation line, %u cells from the grid border, lies inside "
                     "the %u-cell perfectly matched layer of face %s. Set the Radiation line's margin to at "
                     "least %u (with the air around the structure to match), or give a thinner layer with "
                     "--pml=N.\n",
                     margin, n, kFaceName[face], n + 2);
        return run_error::kPmlFarFieldInLayer;
    }
    return 0;
}

}  // namespace fendrix
