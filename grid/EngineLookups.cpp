#include <algorithm>
#include <cstdio>

#include "common/AlignedMemory.hpp"
#include "common/Console.hpp"
#include "common/ErrorNumbers.hpp"
#include "common/ParallelRanges.hpp"
#include "common/ProcessGroup.hpp"
#include "grid/FdtdEngine.hpp"

namespace fendrix {

int FdtdEngine::allocateCoefficients() {
    static const char kAxisName[3] = {'x', 'y', 'z'};
    // The time step needs an interior node on every axis, and cell sizes, the
    // averaging and the line lookups all assume ascending lines.
    for (int axis = 0; axis < 3; ++axis) {
        const std::vector<double>& lines = meshLines[axis];
        bool valid = lineCount[axis] >= 3 && lines.size() >= lineCount[axis];
        for (std::uint32_t i = 1; valid && i < lineCount[axis]; ++i) {
            if (!(lines[i] > lines[i - 1])) valid = false;  // also rejects NaN
        }
        if (!valid) {
            console::error(
                         "Mesh lines of the %c axis must be strictly ascending and at least 3.\n",
                         kAxisName[axis]);
            return parse_error::kMesh;
        }
    }

    // Every process of the run stores and builds its own planes only.
    if (!splitPlanes(processes::count(), processes::rank())) return parse_error::kTooManyProcesses;

    const std::uint64_t columns = (static_cast<std::uint64_t>(lineCount[0]) + 3) / 4;
    const std::uint64_t rows = static_cast<std::uint64_t>(lineCount[1]) * lineCount[2];
    const std::uint64_t blocks = columns * rows;  // below 2^62: no 64-bit overflow
    const std::uint64_t storedBlocks = columns * lineCount[1] * (storedPlanes().end - processSlab.storedBegin);
    // Every later allocation (fields 96 * B, the compressed sets at most 192 * B)
    // is no larger than the coefficients; only message figures may wrap. The
    // limit holds for each process's share.
    if (storedBlocks == 0 || storedBlocks > 0xFFFFFFFFull || checkedStorageBytes(storedBlocks, 192) == 0) {
        if (processes::many())
            console::error(
                         "Grid of %u x %u x %u mesh lines is too large for %d processes; run it on more.\n",
                         lineCount[0], lineCount[1], lineCount[2], processes::count());
        else
            console::error("Grid of %u x %u x %u mesh lines is too large for this simulator.\n",
                         lineCount[0], lineCount[1], lineCount[2]);
        return parse_error::kGridTooLarge;
    }

    // A second call (a second mesh) replaces the earlier storage.
    alignedRelease(caTable);
    caTable = daTable = cbTable = dbTable = nullptr;

    Nv = static_cast<std::uint32_t>(columns);
    const std::uint32_t B = blockCount();
    float* storage = static_cast<float*>(alignedAllocateZeroed(192u * B));
    {
        // The whole grid's figure, however many processes share it.
        const std::uint32_t allBlocks = static_cast<std::uint32_t>(blocks);
        console::say("Domain size: %d x %d x %d cells, %d MBytes\n", static_cast<int>(Nx()),
                    static_cast<int>(Ny()), static_cast<int>(Nz()), static_cast<int>((18u * allBlocks) >> 16));
    }
    if (storage == nullptr) {
        console::error("Not enough memory available.\n");
        return parse_error::kMesh;
    }
    caTable = storage;
    daTable = storage + 12u * B;
    cbTable = storage + 24u * B;
    dbTable = storage + 36u * B;
    return 0;
}

std::uint32_t FdtdEngine::lineIndex(int axis, double coordinate, bool cellMode) const {
    const double* x = meshLines[axis].data();
    const std::uint32_t count = lineCount[axis];
    if (count <= 1) return 0;
    if (cellMode) {
        // The cell whose upper line is the first at or beyond the coordinate.
        for (std::uint32_t i = 1; i < count; ++i) {
            if (x[i] >= coordinate) return i - 1;
        }
        return count - 1;
    }
    // Nearest line: ties on a midpoint go to the lower line.
    for (std::uint32_t i = 0; i + 1 < count; ++i) {
        if ((x[i] + x[i + 1]) * 0.5 >= coordinate) return i;
    }
    return count - 1;
}

// Equal shares of the z-planes in process order (every plane costs the same:
// one row of Nx * Ny cells), the first `extra` processes one plane more. At
// least two planes each, so that a z face's boundary and neighbour plane are
// stepped by one process, as by one thread.
bool FdtdEngine::splitPlanes(int processes, int process) {
    const std::uint32_t nz = Nz(), count = static_cast<std::uint32_t>(processes);
    if (count > nz / 2) {
        console::error(
                     "%u processes need at least %u z mesh lines (two planes each); the mesh "
                     "has %u.\n",
                     count, 2 * count, nz);
        return false;
    }
    const ItemRange share = shareOf(nz, count, static_cast<std::uint32_t>(process));
    processSlab.ownedBegin = share.begin;
    processSlab.ownedEnd = share.end;
    processSlab.storedBegin = processSlab.ownedBegin > 0 ? processSlab.ownedBegin - 1 : 0;
    processSlab.storedEnd = std::min(processSlab.ownedEnd + 1, nz);
    return true;
}

}  // namespace fendrix
