// What a careless or hostile environment does to the files of a run: links
// planted under the names it writes, a file-size limit or a full disk, names
// too long for the file system, views left by an earlier run, map
// frequencies where the pulse has no energy. Nothing may be overwritten
// through a link, nothing lost without a message naming the file, and the
// results are written whenever they can be.
#include "tests/TestSupport.hpp"

#include <unistd.h>

#include "common/ErrorNumbers.hpp"
#include "results/ViewFiles.hpp"

using namespace fendrix;

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

// 6 x 6 x 6 lines 1 mm apart, a port along x; the step limit ends it after
// 1488 steps (a fraction of a second). `points` analysis frequencies.
std::string tinyBox(const std::string& name = "out.dat", int points = 5) {
    std::string mesh;
    for (char axis : {'x', 'y', 'z'}) mesh += std::string(1, axis) + "Mesh 0,0.001,0.002,0.003,0.004,0.005\n";
    return "Sim 2 1e-30 4 " + name + "\nFreq 2 1e9 5e9 " + std::to_string(points) +
           "\nBoundary 2 2 2 2 2 2\n" + mesh + "Electric 1 0 50 x 0.002,0.002,0.002 0.003,0.002,0.002\n";
}

bool validResults(const fs::path& file) { return parseDataset(readFile(file)).valid; }

// Temporary files left in `dir` or below it.
int partialFiles(const fs::path& dir) {
    int n = 0;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        if (entry.path().extension() == ".partial") ++n;
    return n;
}

}  // namespace

// A link at a name the run writes is replaced, never written through: the
// file it points to keeps its content. A stale temporary of our own goes too.
TEST(Hardening, OutputNamesThatAreLinksAreNeverFollowed) {
    const struct {
        const char* planted;
        const char* args;
        bool link;
    } cases[] = {
        {"out.dat.partial", "", true},
        {"out.dat", "", true},
        {"out.dat.partial", "", false},
        {"out_views/snapshot_grid_000000003.vtr.partial", "--snapshot-every=3", true},
        {"out_views/snapshot_grid.pvd.partial", "--snapshot-every=3", true},
        {"out_views/map_z2_0.vtr.partial", "--map-plane=z:0.002 --map-freq=3e9", true},
        {"out_views/map_z2.pvd", "--map-plane=z:0.002 --map-freq=3e9", true},
    };
    for (const auto& c : cases) {
        const fs::path dir = scratchDir("links");
        writeFile(dir / "d.txt", tinyBox());
        writeFile(dir / "target.txt", "precious");
        fs::create_directories(dir / "out_views");
        if (c.link)
            fs::create_symlink(dir / "target.txt", dir / c.planted);
        else
            writeFile(dir / c.planted, "left by a killed run");
        const Output r = runFendrix(std::string("d.txt ") + c.args, dir);
        EXPECT_EQ(r.status, 0) << c.planted << r.err;
        EXPECT_EQ(readFile(dir / "target.txt"), "precious") << c.planted;
        EXPECT_FALSE(fs::is_symlink(dir / c.planted)) << c.planted;
        EXPECT_TRUE(validResults(dir / "out.dat")) << c.planted;
        EXPECT_EQ(partialFiles(dir), 0) << c.planted;
    }
}

// Past a file-size limit (the same EFBIG as a full disk) the failed file is
// named with its cause and removed; failed views stop the views, not the run;
// failed results leave the earlier results in place.
TEST(Hardening, WriteFailuresNameTheFileAndLoseNothingElse) {
    const struct {
        const char* what;
        int points;
        const char* args;
        int status;
        const char* message;
    } cases[] = {
        {"snapshots", 5, "-v0 --snapshot-every=3", run_error::kViewsLost,
         "ERROR: Can't write field view into 'out_views/snapshot_grid_000000003.vtr': file too large for the "
         "file-size limit (ulimit -f)"},
        {"maps", 5, "-v0 --map-plane=z:0.002 --map-freq=2e9,3e9", run_error::kViewsLost,
         "ERROR: Can't write field view into 'out_views/map_z2_0.vtr': file too large"},
        {"results", 3000, "-v0", run_error::kResultsLost,
         "ERROR: Can't save results into file.\n  Results file 'out.dat': writing 'out.dat.partial' failed: "
         "file too large for the file-size limit (ulimit -f)"},
    };
    for (const auto& c : cases) {
        const fs::path dir = scratchDir("file_size");
        writeFile(dir / "d.txt", tinyBox("out.dat", c.points));
        writeFile(dir / "out.dat", "earlier results");
        const Output r = runFendrix(std::string("d.txt ") + c.args, dir, "ulimit -f 8");
        EXPECT_EQ(r.status, c.status & 0xFF) << c.what << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.what << "\n" << r.err;
        EXPECT_EQ(partialFiles(dir), 0) << c.what;
        if (c.status == run_error::kViewsLost) {  // results written, and only whole views counted
            EXPECT_TRUE(validResults(dir / "out.dat")) << c.what;
            EXPECT_NE(r.out.find("Field views: 0 snapshots"), std::string::npos) << r.out;
            EXPECT_EQ(r.err.find("ERROR: ", r.err.find("ERROR: ") + 1), std::string::npos) << r.err;  // once
        } else {
            EXPECT_EQ(readFile(dir / "out.dat"), "earlier results");
        }
    }
}

// The space the views need against the free space of their folder.
TEST(Hardening, ViewsThatCannotFitAreRefusedBeforeTheRun) {
    const struct {
        std::uint64_t fewest, most, free;
        int result;
    } cases[] = {
        {100, 100, 1000, 0},   {100, 500, 1000, 0},    {100, 501, 1000, 1},
        {1000, 1000, 1000, 1}, {1001, 1001, 1000, run_error::kViewsExceedDisk},
    };
    for (const auto& c : cases) {
        const Output r = captured(0, [&] { return checkViewSpace(c.fewest, c.most, c.free, "out_views"); });
        EXPECT_EQ(r.status, c.result) << c.fewest << " " << c.most << " " << c.free;
        EXPECT_EQ(r.err.empty(), c.result == 0) << r.err;
        if (c.result < 0) {
            EXPECT_NE(r.err.find("free in 'out_views'"), std::string::npos) << r.err;
        }
    }
    // Whole-grid snapshots of every step, with a step limit of a million
    // pulses: far beyond any disk, though the pulse's own fit.
    const fs::path dir = scratchDir("disk_space");
    std::string text = tinyBox();
    writeFile(dir / "d.txt", "Sim 1000000" + text.substr(5));
    const Output r = runFendrix("d.txt --snapshot-every=1 -v0", dir, "touch ABORT");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("WARNING: The field views may write up to"), std::string::npos) << r.err;
}

// The temporary results name is the longest the run creates beside the
// results file: too long for the file system, the run stops before it steps.
TEST(Hardening, ResultsNamesTooLongForTheFileSystemStopTheRunFirst) {
    const struct {
        std::size_t stem;
        const char* views;
        int status;
    } cases[] = {
        {243, "", 0},  // out.dat.partial: 255 characters
        {244, "", run_error::kResultsNotWritable},
        {243, "--snapshot-every=500", 0},
        {250, "--snapshot-every=500", run_error::kResultsNotWritable},
    };
    for (const auto& c : cases) {
        const fs::path dir = scratchDir("long_name");
        const std::string name = std::string(c.stem, 'r') + ".dat";
        writeFile(dir / "d.txt", tinyBox(name));
        const Output r = runFendrix(std::string("d.txt -v0 ") + c.views, dir);
        EXPECT_EQ(r.status, c.status & 0xFF) << c.stem << r.err;
        if (c.status != 0) {
            EXPECT_NE(r.err.find("ERROR: Cannot write the results file '" + name + "': the run creates '"),
                      std::string::npos) << r.err;
            EXPECT_EQ(r.out.find("Running FDTD"), std::string::npos);
        } else {
            EXPECT_TRUE(validResults(dir / name));
        }
    }
}

// An earlier run's views are removed before this run writes its own; nothing
// outside the views' own names, no subfolder and no link target is touched.
TEST(Hardening, EarlierViewsAreRemovedAndNothingElse) {
    const fs::path dir = scratchDir("leftovers");
    writeFile(dir / "d.txt", tinyBox());
    writeFile(dir / "target.txt", "precious");
    const fs::path views = dir / "out_views";
    fs::create_directories(views / "map_z1.pvd");
    const char* ours[] = {"snapshot_grid_000000099.vtr", "snapshot_y4_4000000000.vtr", "snapshot_y4.pvd",
                          "map_z9.pvd", "map_z9_3.vtr.partial", "snapshot_grid.pvd"};
    const char* theirs[] = {"notes.txt", "snapshot_grid_12.vtr", "map_z2_0.vtr.bak", "map_w2_0.vtr",
                            "Snapshot_grid.pvd", "map_z9.pvd.old"};
    for (const char* name : ours) writeFile(views / name, "old");
    fs::create_symlink(dir / "target.txt", views / "map_x3.pvd");
    for (const char* name : theirs) writeFile(views / name, "theirs");
    const Output r = runFendrix("d.txt -v0 --map-plane=z:0.002 --map-freq=3e9", dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Field views: removed 7 files of an earlier run from out_views\n"), std::string::npos)
        << r.out;
    for (const char* name : ours) EXPECT_FALSE(fs::exists(views / name)) << name;
    EXPECT_FALSE(fs::is_symlink(views / "map_x3.pvd"));
    for (const char* name : theirs) EXPECT_EQ(readFile(views / name), "theirs") << name;
    EXPECT_TRUE(fs::is_directory(views / "map_z1.pvd"));
    EXPECT_EQ(readFile(dir / "target.txt"), "precious");
    EXPECT_TRUE(fs::exists(views / "map_z2_0.vtr"));
}

// Map frequencies: within the band of the Freq line (1 to 5 GHz) widened by
// a tenth of its top on either side; aliased ones keep their own number.
TEST(Hardening, MapFrequenciesOutsideTheBandAreRefused) {
    const struct {
        const char* frequency;
        int status;
        const char* printed;
    } cases[] = {
        {"1", run_error::kViewFrequencyOutsideBand, "1 Hz"},
        {"4.99e8", run_error::kViewFrequencyOutsideBand, "4.99e+08 Hz"},
        {"5e8", 0, ""},
        {"5.5e9", 0, ""},
        {"5.51e9", run_error::kViewFrequencyOutsideBand, "5.51e+09 Hz"},
        {"3e12", run_error::kViewFrequencyAliased, ""},
    };
    const fs::path dir = scratchDir("map_band");
    writeFile(dir / "d.txt", tinyBox());
    for (const auto& c : cases) {
        const Output r = runFendrix(std::string("d.txt --map-plane=z:0.002 --map-freq=3e9,") + c.frequency, dir);
        EXPECT_EQ(r.status, c.status & 0xFF) << c.frequency << r.err;
        if (c.status == run_error::kViewFrequencyOutsideBand) {
            EXPECT_NE(r.err.find(std::string("ERROR: Map frequency ") + c.printed), std::string::npos) << r.err;
            EXPECT_NE(r.err.find("outside the band of the Freq line, 1e+09 to 5e+09 Hz"), std::string::npos);
        }
    }
}
