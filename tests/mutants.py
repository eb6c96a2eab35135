#!/usr/bin/env python3
"""Mutation score of the C++ release suite: plants each small fault below, one
at a time, into a scratch copy of the working tree, rebuilds, runs the suite and
counts the faults it catches (a failing or hanging test).
Usage: python3 tests/mutants.py [N ...]   (those mutants only; about 20 s each)"""
import os, shutil, subprocess, sys

# (file, text that occurs exactly once, faulty text)
MUTANTS = [
    ("input/HeaderParser.cpp", "if (samples == 0)", "if (samples == 1)"),
    ("input/HeaderParser.cpp", "frequency > frequencies.back()", "frequency >= frequencies.back()"),
    ("input/HeaderParser.cpp", "if (azimuths < 2 ||", "if (azimuths < 1 ||"),
    ("input/MeshParser.cpp", "if (*p == ',') ++count;", "if (*p == ' ') ++count;"),
    ("input/ElectricLineParser.cpp", "axis > 2 ? resistance", "axis >= 2 ? resistance"),
    ("input/ElectricLineParser.cpp", "if (a == 0 || a == 2) p[1]", "if (a == 0) p[1]"),
    ("geometry/GeoCube.cpp", "point[axis] > upper[axis]", "point[axis] >= upper[axis]"),
    ("geometry/GeoPolygon.cpp", "(bv < pv && pv < av))) return true;", "(bv < pv && pv < av))) return false;"),
    ("geometry/MatMetal.cpp", "if (thickness > skinDepth)", "if (thickness < skinDepth)"),
    ("grid/EngineLookups.cpp", "* 0.5 >= coordinate) return i;", "* 0.5 > coordinate) return i;"),
    ("grid/Rasterizer.cpp", "sums.mu = (length + lengthBack) * kMu0 / M;", "sums.mu = length * kMu0 / M;"),
    ("grid/Rasterizer.cpp", "W += w;", "W += 1;"),
    ("grid/Rasterizer.cpp", "K += 1 / G;", "K += G;"),
    ("grid/Rasterizer.cpp", "if (ia < hi[a]) caTable", "if (ia <= hi[a]) caTable"),
    ("grid/Rasterizer.cpp", "a == flatAxis ? b : a;", "a == flatAxis ? a : b;"),
    ("grid/Coefficients.cpp", "dt * 0.5f;", "dt * 1.0f;"),
    ("grid/Coefficients.cpp", "node[d] = lineCount[d] - 2;", "node[d] = lineCount[d] - 1;"),
    ("grid/TimeStep.cpp", "w4 - 2 * lowest;", "w4 - lowest;"),
    ("grid/Compression.cpp", "index[b] = index[b - 1];", "index[b] = 3 * (sets - 1);"),
    ("engine/FieldKernels.cpp", "(hx - Vec4::load(hBackZ + 0))", "(hx - Vec4::load(hBackZ + 4))"),
    ("engine/FieldKernels.cpp", "Vec4 hyBackX = shiftUpLane(Vec4::load(last + 4));",
     "Vec4 hyBackX = Vec4::load(last + 4);"),
    ("engine/FieldKernels.cpp", "for (std::size_t j = 0; j + 1 < ny; ++j) {",
     "for (std::size_t j = 0; j + 2 < ny; ++j) {"),
    ("engine/FieldKernels.cpp", "- Vec4::load(db + 8) * curlZ", "+ Vec4::load(db + 8) * curlZ"),
    ("engine/MurBoundary.cpp", "(v - d) / (v + d)", "(d - v) / (v + d)"),
    ("engine/MurBoundary.cpp", "(high ? -d / 2 : d / 2)", "(high ? d / 2 : d / 2)"),
    ("engine/MurBoundary.cpp", "bOuter[e] += (leave[r] & 1) != 0 ? 0.0f : accOuter;", "bOuter[e] += accOuter;"),
    ("engine/MurBoundary.cpp", "savedInner[s] += coefficients[s] * eInner[e];",
     "savedInner[s] += coefficients[s] * eOuter[e];"),
    ("engine/ParallelStepping.cpp", "(!x || sourceIn(0))", "(!x)"),
    ("engine/Excitation.cpp", "hi[axis] -= 1;", "hi[axis] -= 0;"),
    ("engine/Excitation.cpp", "* std::cos(w * u)", "* std::sin(w * u)"),
    ("engine/Excitation.cpp", "e[edgeOffsets[i]] += edgeWeights[i] * s;\n    }", "e[edgeOffsets[i]] += s;\n    }"),
    ("engine/FieldEnergy.cpp", "sumH * kMu0 + sumE * kEpsilon0", "sumH * kEpsilon0 + sumE * kMu0"),
    ("probes/VoltageProbe.cpp", "fieldTime(isCurrent != 0)", "fieldTime(false)"),
    ("probes/VoltageProbe.cpp", "j < highIndex[1]; ++j)", "j <= highIndex[1]; ++j)"),
    ("probes/CurrentProbe.cpp", "pair({i, y2, z2, 0, true}, {i, y1, z1, 0, true});",
     "pair({i, y1, z1, 0, true}, {i, y2, z2, 0, true});"),
    ("probes/CurrentProbe.cpp", "&& highIndex[a] < last) ++highIndex[a];\n        }\n        if",
     "&& highIndex[a] <= last) ++highIndex[a];\n        }\n        if"),
    ("results/FieldProbe.cpp", "e[a] = low * t.after[r] / t.span[r] + high * t.before[r]",
     "e[a] = low * t.before[r] / t.span[r] + high * t.after[r]"),
    ("results/FieldProbe.cpp", "face % 2 == 0 ? -1 : +1", "face % 2 == 0 ? +1 : -1"),
    ("results/FieldProbe.cpp", "tH = static_cast<float>(engine->fieldTime(true))",
     "tH = static_cast<float>(engine->fieldTime(false))"),
    ("results/RadiationSetup.cpp", "fx[l] = -sph;", "fx[l] = sph;"),
    ("results/RadiationSetup.cpp", "weight[t][0] = std::fabs(p[1] - p[0]) * 0.5f;",
     "weight[t][0] = std::fabs(p[1] - p[0]) * 1.0f;"),
    ("results/PortParameters.cpp", "const Complex d = v1 - ri;", "const Complex d = v1 + ri;"),
    ("results/PortParameters.cpp", "* 2.0 * z1 / factor[k]", "* 1.0 * z1 / factor[k]"),
    ("results/PortParameters.cpp", "v = (1.0 - t) * voltage[above] + t * voltage[above - 1];",
     "v = t * voltage[above] + (1.0 - t) * voltage[above - 1];"),
    ("common/NewFile.cpp", "    unlink(temporary.c_str());\n    return false;", "    return false;"),
    ("driver/RunLoop.cpp", "if (s >= maxTimesteps)", "if (s > maxTimesteps)"),
    # Later code: wide kernels, several steps per sweep, guard rails.
    ("engine/FieldKernelsWide.cpp", "_mm256_sub_ps(near, in) :", "_mm256_sub_ps(in, near) :"),
    ("engine/FieldKernelsWide.cpp", "_mm512_sub_ps(near, in) :", "_mm512_sub_ps(in, near) :"),
    ("engine/ParallelStepping.cpp", "const std::size_t k = b + p - 2 * std::size_t(s);",
     "const std::size_t k = b + p - std::size_t(s);"),
    ("driver/SetupChecks.cpp", "if (element->port < 1 || d < 0", "if (element->port < 2 || d < 0"),
    ("driver/RunLoop.cpp", "(report || reproducibleEnd)", "(report)"),
    # Runs over several processes.
    ("engine/PlaneExchange.cpp", "out + 8 * b, plane + 12 * b, 8 * sizeof(float)",
     "out + 8 * b, plane + 12 * b, 4 * sizeof(float)"),
    ("probes/SharedSampling.cpp", "    processSlab.exchange->shareForSampling();", "    // processSlab.exchange->shareForSampling();"),
    ("engine/FieldEnergy.cpp", "Vec4 accE = Vec4::load(lanes),", "Vec4 accE = Vec4::zero(),"),
    ("common/ParallelRanges.cpp", "item < wide ? item / (base + 1)", "item < wide ? item / base"),
    ("engine/Excitation.cpp", "(first + edgeOffsets[i] / planeFloats, planes - 1);\n        edgesByPlane",
     "(edgeOffsets[i] / planeFloats, planes - 1);\n        edgesByPlane"),
    ("engine/MurBoundary.cpp", "std::size_t(first) * grid.Ny()};", "0};"),
    ("grid/TimeStep.cpp", "std::sqrt(processes::largest(sMax))", "std::sqrt(sMax)"),
    ("driver/RunLoop.cpp", "processes::broadcast(&decision, sizeof decision);", ""),
    # x faces: rows with edges left to other faces.
    ("engine/MurBoundary.cpp", "pass.rows(rows.begin, rows.begin + 1, leave);",
     "pass.rows(rows.begin, rows.begin + 1, nullptr);"),
    ("engine/MurBoundary.cpp", "if (iq != 0 && iq + 1 != innerCount) mixedPlanes[io] = 1;", ""),
    # Windows whose steps are split among threads.
    ("engine/ParallelStepping.cpp", "            if (self.stage > 0)\n", "            if (self.stage > 1)\n"),
    ("engine/ParallelStepping.cpp", "else if (self.stages > 1 && first > 0)", "else if (self.stages > 1 && first > 99)"),
    # The energy: taken by the sweep, tiny squares left out of large sums.
    ("engine/ParallelStepping.cpp", "(n + 1) % self.sampleEvery != 0) return;", "n % self.sampleEvery != 0) return;"),
    ("engine/FieldEnergy.cpp", "(bits & 0x7fffffff) >= (64 << 23)", "(bits & 0x7fffffff) >= (67 << 23)"),
    ("engine/FieldEnergy.cpp", "constexpr float kLargeSum = 0x1p-101f;", "constexpr float kLargeSum = 0x1p-110f;"),
    ("engine/FieldEnergy.cpp", "for (int l = 0; l < 8; ++l) large", "for (int l = 0; l < 3; ++l) large"),
    # Map values, border planes, port loops, the one-process gather, limits and reports.
    ("results/NodeFields.cpp", "                           h[base + b1 + c1];", "                           h[base + b0 + c0];"),
    ("results/NodeFields.cpp", "engine.hField[base + after[across][node[across]]]",
     "engine.hField[base + before[across][node[across]]]"),
    ("results/FieldViews.cpp", "                re[k] += e[k] * cH;", "                re[k] += e[k] * cE;"),
    ("engine/PlaneExchange.cpp", "plane + 12 * b, in + 8 * b, 8 * sizeof(float)", "plane + 12 * b, in + 8 * b, 4 * sizeof(float)"),
    ("probes/CurrentProbe.cpp", "if (a != direction && p1[a] == p2[a])", "if (p1[a] == p2[a])"),
    ("common/ProcessGroup.cpp", "        all.assign(first, first + bytes);\n        sizes.push_back(bytes);\n",
     "        all.assign(first, first + bytes);\n"),
    ("driver/ViewOptions.cpp", "constexpr std::size_t kMaxPlanes = 32;", "constexpr std::size_t kMaxPlanes = 33;"),
    ("driver/ViewOptions.cpp", "request.mapFrequencies.size() > kMaxFrequencies", "request.mapFrequencies.size() >= kMaxFrequencies"),
    ("grid/EngineLookups.cpp", "checkedStorageBytes(storedBlocks, 192) == 0", "checkedStorageBytes(storedBlocks, 96) == 0"),
    ("grid/EngineLookups.cpp", "(18u * allBlocks) >> 16", "(18u * allBlocks) >> 18"),
    ("grid/GridBuild.cpp", "static_cast<int>((192u * B) >> 20)", "static_cast<int>((96u * B) >> 20)"),
    ("driver/ProgressRate.hpp", "        lastStep = step;\n", ""),
    # The files of a run: links, failed writes, earlier views, long names, bands.
    ("common/NewFile.cpp", "if (!S_ISLNK(info.st_mode) && !ours) {", "if (!ours) {"),
    ("results/FieldViews.cpp", "    if (!failed) ++snapshotCount;", "    ++snapshotCount;"),
    ("results/ViewFiles.cpp", "        if (!fs::is_regular_file(status) && !fs::is_symlink(status)) continue;\n", ""),
    ("driver/SetupChecks.cpp", "if (name.size() > longestName)", "if (name.size() > longestName + 1)"),
    ("results/FieldViews.cpp", "if (f < low || f > high) {", "if (f < low) {"),
    # The far field at more frequencies: each frequency's own phase, its own
    # spectra, the table's realized gain.
    ("results/FieldProbe.cpp", "const float aH = angularSteps[f] * tH;", "const float aH = angularSteps[0] * tH;"),
    ("results/FieldProbe.cpp", "e[3 * s + c] = eSpectrum[(s * count + f) * 3 + c];",
     "e[3 * s + c] = eSpectrum[(s * count) * 3 + c];"),
    ("results/FarFieldTable.cpp", "f.gainDbi + toDb(1.0 - reflected);", "f.gainDbi + toDb(1.0 - std::sqrt(reflected));"),
    ("results/RoundedSinCos.cpp", "constexpr int shift = kMidpointMarginBits + 1;", "constexpr int shift = 1;"),
    ("results/RoundedSinCos.cpp", "^ ((quadrant & 2) << 62);", "^ ((quadrant & 1) << 62);"),
    ("results/RadiationSetup.cpp", "for (std::uint32_t l = 0; l < used; ++l) {", "for (std::uint32_t l = 1; l < used; ++l) {"),
    ("results/FieldProbe.cpp", "if (a == 0) offset = 12 * (p % nv) + p / nv;", "if (a == 0) offset = 12 * (p / nv) + p % nv;"),
]


def run(cmd, timeout=None):
    try:
        return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=timeout)
    except subprocess.TimeoutExpired:
        return None


def main():
    repo = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    scratch = os.environ.get("MUTANT_DIR", "/tmp/fendrix-mutants")
    src, build, jobs = os.path.join(scratch, "src"), os.path.join(scratch, "build"), str(os.cpu_count() or 2)
    shutil.rmtree(src, ignore_errors=True)
    shutil.copytree(repo, src, ignore=shutil.ignore_patterns(".git", "build*", "__pycache__"), copy_function=shutil.copy)
    run(["cmake", "-S", src, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release", "-DFENDRIX_BENCH=OFF"])
    build_ok = lambda: run(["cmake", "--build", build, "-j", jobs]).returncode == 0
    test = lambda: run(["ctest", "--test-dir", build, "-j", jobs, "--timeout", "300", "--stop-on-failure"], 1800)
    baseline = build_ok() and test()
    if not baseline or baseline.returncode:
        sys.exit("the unmutated suite must build and pass first\n" + (baseline.stdout[-3000:] if baseline else ""))
    chosen = [int(a) for a in sys.argv[1:]] or range(1, len(MUTANTS) + 1)
    survivors = []
    for n in chosen:
        path, before, after = MUTANTS[n - 1]
        full = os.path.join(src, path)
        original = open(full).read()
        if original.count(before) != 1:
            sys.exit(f"mutant {n}: text not found exactly once in {path}")
        open(full, "w").write(original.replace(before, after))
        if not build_ok():
            sys.exit(f"mutant {n} does not compile")
        result = test()
        open(full, "w").write(original)
        failed = [l.split()[3] for l in (result.stdout if result else "").splitlines() if "***" in l]
        if result and result.returncode == 0:
            survivors.append(n)
        print(f"{n:2d} {'SURVIVED' if n in survivors else 'caught  '} {path}: {after.strip()[:60]}  "
              + " ".join(failed[:3]), flush=True)
    build_ok()
    print(f"{len(chosen) - len(survivors)} caught, {len(survivors)} survived of {len(chosen)} mutants"
          + (f"; survivors: {' '.join(map(str, survivors))}" if survivors else ""))


if __name__ == "__main__":
    main()
