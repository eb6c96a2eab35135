#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <complex>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <utility>

#include "common/AlignedMemory.hpp"
#include "common/Console.hpp"
#include "driver/Simulation.hpp"
#include "grid/FdtdEngine.hpp"

namespace fendrix {

// What the tests share: files and scratch folders, the real binary as a
// process, captured output, descriptions built in memory, the dataset reader
// and hand-built grids.
namespace testing_support {

inline std::filesystem::path scratchDir(const std::string& name) {
    auto dir = std::filesystem::temp_directory_path() / ("fendrix_test_" + name + "_" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

inline void writeFile(const std::filesystem::path& path, const std::string& content) { std::ofstream(path) << content; }

inline std::string readFile(const std::filesystem::path& path) {
    std::ostringstream content;
    content << std::ifstream(path, std::ios::binary).rdbuf();
    return content.str();
}

struct Output { int status = 0; std::string out, err; };  // status as the shell sees it (0..255)

// Runs `fendrix ARGS` in `dir`; `limits` is shell text run first (a ulimit),
// `launcher` a command that starts the binary (mpiexec).
inline Output runFendrix(const std::string& args, const std::filesystem::path& dir, const std::string& limits = "",
                         const std::string& launcher = "") {
    const std::string command = "cd '" + dir.string() + "' && " + limits + (limits.empty() ? "" : " && ") +
                                launcher + " " FENDRIX_BINARY " " + args + " >stdout.txt 2>stderr.txt </dev/null";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw), readFile(dir / "stdout.txt"),
            readFile(dir / "stderr.txt")};
}

// Runs `work` at verbosity `level`, capturing both output streams.
template <typename Work>
Output captured(int level, Work work) {
    const int saved = console::verbosity();
    console::setVerbosity(level);
    testing::internal::CaptureStdout(), testing::internal::CaptureStderr();
    Output result;
    result.status = work();
    result.out = testing::internal::GetCapturedStdout();
    result.err = testing::internal::GetCapturedStderr();
    console::setVerbosity(saved);
    return result;
}

// One mesh line of `lines` coordinates `cell` apart from `start`.
inline std::string meshLine(char axis, int lines, double cell, double start = 0.0) {
    std::string text = std::string(1, axis) + "Mesh ";
    char value[32];
    for (int i = 0; i < lines; ++i) {
        std::snprintf(value, sizeof value, "%s%.9g", i ? "," : "", start + i * cell);
        text += value;
    }
    return text + "\n";
}

// The header of an open box of 1 mm cells, then `elements`.
inline std::string boxDescription(int nx, int ny, int nz, const std::string& elements,
                                  const std::string& sim = "Sim 0 1e-3 4 out.dat",
                                  const std::string& boundary = "2 2 2 2 2 2") {
    return sim + "\nFreq 2 1e9 5e9 5\nBoundary " + boundary + "\n" + meshLine('x', nx, 1e-3) +
           meshLine('y', ny, 1e-3) + meshLine('z', nz, 1e-3) + elements;
}

// A board in a box of absorbing faces with a far-field request: a 2 mm
// substrate (4.4, tan d 0.02) over the whole floor of an nx x ny x nz-line
// 1 mm mesh, a copper `strip` polygon on it, and the Electric line `port`.
// The step limit (two pulse lengths) ends its runs.
inline std::string boardDescription(int nx, int ny, int nz, const std::string& strip, const std::string& port) {
    char cube[64];
    std::snprintf(cube, sizeof cube, "Cube 0,0,0 %g,%g,0.002\n", (nx - 1) * 1e-3, (ny - 1) * 1e-3);
    return "Sim 2 0 4 out.dat\nFreq 2 1e9 5e9 5\nRadiation 3e9 12 7 2\nBoundary 2 2 2 2 2 2\n" +
           meshLine('x', nx, 1e-3) + meshLine('y', ny, 1e-3) + meshLine('z', nz, 1e-3) + "Dielectric 4.4 0.02\n" +
           cube + "/\nMetal 1.7e-8 35e-6 0\nPolygon 0.002 2 " + strip + "\n/\n" + port;
}

// A closed 20 x 10 x 15 mm cavity filled with a lossy medium (tan d 0.02),
// probed by a short port along y; `points` frequencies from 10 to 15 GHz.
inline std::string cavityDescription(int points) {
    return "Sim 0 1e-3 4 out.dat\nFreq 2 10e9 15e9 " + std::to_string(points) + "\nBoundary 0 0 0 0 0 0\n" +
           meshLine('x', 21, 1e-3) + meshLine('y', 11, 1e-3) + meshLine('z', 16, 1e-3) +
           "Dielectric 1 0.02\nCube 0,0,0 0.02,0.01,0.015\n/\nElectric 1 1 50 x 0.005,0.004,0.005 0.005,0.006,0.005\n";
}

// Parses (and with `build` sets up) a description quietly; null on failure.
// Every thread may work, even on few cells and processors.
inline std::unique_ptr<Simulation> simulationOf(std::string text, int threads = 1, bool build = true) {
    auto sim = std::make_unique<Simulation>(threads);
    sim->engine->processorCount = threads, sim->engine->minCellsPerThread = 0;
    const Output r = captured(0, [&] {
        const int parsed = sim->parse(text.data());
        return parsed == 0 && build ? sim->setup() : parsed;
    });
    EXPECT_EQ(r.status, 0) << r.err;
    return r.status == 0 ? std::move(sim) : nullptr;
}

struct Dataset {
    bool valid = false;
    std::map<std::string, std::vector<double>> reals;
    std::map<std::string, std::vector<std::complex<double>>> complexes;
};

// Splits a results file into its named records (magic, version and sizes checked).
inline Dataset parseDataset(const std::string& bytes) {
    Dataset data;
    auto u32 = [&](std::size_t at) {
        std::uint32_t v = 0;
        std::memcpy(&v, bytes.data() + at, 4);
        return v;
    };
    if (bytes.size() < 16 || bytes.compare(0, 8, "ZeltData") != 0 || u32(8) != 0x03020000u) return data;
    const std::size_t headerEnd = 16 + u32(12);
    std::vector<std::pair<std::string, std::uint32_t>> records;  // name, record start
    std::size_t at = 16;
    while (at < headerEnd && headerEnd <= bytes.size()) {
        records.emplace_back(bytes.c_str() + at + 8, at);
        at += 8 + records.back().first.size() + 1;
        if (u32(records.back().second) & 2) at += std::strlen(bytes.c_str() + at) + 1;
    }
    if (at != headerEnd) return data;
    for (const auto& [name, start] : records) {
        const std::size_t size = (u32(start) & 4) ? 8 : 16, count = u32(start + 4);
        if (at + count * size > bytes.size()) return data;
        for (std::uint32_t i = 0; i < count; ++i, at += size) {
            double v[2];
            std::memcpy(v, bytes.data() + at, size);
            if (size == 8) data.reals[name].push_back(v[0]);
            else data.complexes[name].emplace_back(v[0], v[1]);
        }
    }
    data.valid = at == bytes.size();
    return data;
}

// An engine without a description: mesh lines `spacing` apart, zeroed fields
// (H behind E, as the build leaves them), every thread allowed to step and, on
// request, a compressed table of `keepSets` and `curlSets` zero sets with every
// set index 0. The engine releases everything itself.
struct HandGrid {
    Geometry geometry;
    FdtdEngine engine;

    HandGrid(std::uint32_t nx, std::uint32_t ny, std::uint32_t nz, double spacing = 1e-3, int threads = 1)
        : engine(geometry, threads) {
        engine.processorCount = threads, engine.minCellsPerThread = 0;
        const std::uint32_t n[3] = {nx, ny, nz};
        for (int a = 0; a < 3; ++a) {
            engine.lineCount[a] = n[a];
            for (std::uint32_t i = 0; i < n[a]; ++i) engine.meshLines[a].push_back(i * spacing);
        }
        engine.Nv = (nx + 3) / 4;
        const std::size_t blocks = engine.blockCount();
        engine.eField = static_cast<float*>(alignedAllocateZeroed(96 * blocks));
        engine.hField = engine.eField + 12 * blocks;
    }
    void allocateSets(std::uint32_t keepSets, std::uint32_t curlSets) {
        float* start = static_cast<float*>(alignedAllocateZeroed(96 * (std::size_t(keepSets) + curlSets)));
        engine.caTable = start;
        engine.daTable = start + 12 * keepSets;
        engine.cbTable = start + 24 * keepSets;
        engine.dbTable = start + 24 * keepSets + 12 * curlSets;
        engine.keepIndex = static_cast<std::uint32_t*>(alignedAllocateZeroed(4 * engine.blockCount()));
        engine.curlIndex = static_cast<std::uint32_t*>(alignedAllocateZeroed(4 * engine.blockCount()));
    }
    float& e(std::uint32_t x, std::uint32_t y, std::uint32_t z, int c) { return engine.eField[engine.fieldIndex(x, y, z, c)]; }
    float& h(std::uint32_t x, std::uint32_t y, std::uint32_t z, int c) { return engine.hField[engine.fieldIndex(x, y, z, c)]; }
};

}  // namespace testing_support

}  // namespace fendrix
