#pragma once

namespace fendrix {

// Every error number and failing exit status of a run, in one place.
//
// Description errors: the driver prints "ERROR: Input file corrupt (%d).\n"
// with the number and exits with it.
namespace parse_error {

// Header lines.
inline constexpr int kCommentWithoutLineFeed = -1;
inline constexpr int kNoSimLine = -2;
inline constexpr int kSimRunLimit = -3;
inline constexpr int kSimThreshold = -4;
inline constexpr int kSimSamplesPerNyquist = -5;
inline constexpr int kSimFileName = -6;
inline constexpr int kNoFreqLine = -7;
inline constexpr int kFreqKindSeparator = -8;
inline constexpr int kFreqBand = -9;
inline constexpr int kFreqPointCount = -10;
inline constexpr int kFreqKind = -12;
inline constexpr int kNoBoundaryLine = -13;
inline constexpr int kBoundaryCodeSeparator = -14;
inline constexpr int kBoundaryLineEnd = -15;
inline constexpr int kRadiationFrequency = -16;
inline constexpr int kRadiationAzimuths = -17;
inline constexpr int kRadiationElevations = -18;
inline constexpr int kRadiationMargin = -19;
inline constexpr int kMesh = -20;               // malformed mesh line, < 3 lines, not ascending, no memory
// Checks this simulator adds to the header and mesh.
inline constexpr int kGridTooLarge = -21;       // storage sizes beyond unsigned 32-bit arithmetic
inline constexpr int kSamplesPerNyquistZero = -22;
inline constexpr int kRadiationAngleCount = -23;  // azimuths or elevations outside 2..kMaxAngleCount
inline constexpr int kRadiationFrequencyRange = -24;  // <= 0, above the last frequency, or no frequencies
inline constexpr int kFreqTooManyPoints = -25;  // more than kMaxFrequencyPoints
inline constexpr int kTooManyProcesses = -26;   // fewer than two z-planes for each process of the run

// Element sections.
inline constexpr int kNoKeywordBlank = -101;
inline constexpr int kUnknownKeyword = -102;
inline constexpr int kShapeList = -103;
inline constexpr int kMaterialLine = -104;
inline constexpr int kElectricLine = -105;
// Checks this simulator adds to the element sections.
inline constexpr int kPortNumbering = -106;     // ports not exactly 1..n, each once

}  // namespace parse_error

// Exit statuses of failures after parsing (not parse errors; no "Input file corrupt" line).
namespace run_error {
inline constexpr int kBadThreadCount = -30;     // "-t" outside 1..16
inline constexpr int kOutOfMemory = -31;        // an allocation of the grid build failed
inline constexpr int kUnstable = -32;           // the field energy became infinite or NaN
inline constexpr int kTimeStepBeyondNyquist = -33;  // cells far too large for the band (units?)
inline constexpr int kPortWithoutLength = -34;  // a numbered port spans no cell along its axis
inline constexpr int kResultsNotWritable = -35;  // the results file's folder is missing or closed
inline constexpr int kProcessGroup = -36;       // started by an MPI launcher this build cannot join
inline constexpr int kViewsOverProcesses = -37;  // field views asked of a run over several processes
inline constexpr int kProcessArguments = -38;   // the processes of one run were given different arguments
// Field views (command-line options; the grid checks run after the build, before stepping).
inline constexpr int kViewInterval = -40;       // --snapshot-every not a whole number 1..2^31-1
inline constexpr int kViewPlane = -41;          // a plane not AXIS:COORD
inline constexpr int kViewFrequency = -42;      // a map frequency not a positive number
inline constexpr int kViewCombination = -43;    // unknown view option, too many, or an incomplete set
inline constexpr int kViewPlaneOutside = -44;   // a plane coordinate outside the mesh
inline constexpr int kViewFrequencyAliased = -45;  // a map frequency above half the sampling rate
inline constexpr int kViewsExceedDisk = -46;    // the views would not fit in the free space of their folder
inline constexpr int kViewsLost = -47;          // a view could not be written: results written, views incomplete
inline constexpr int kViewFrequencyOutsideBand = -48;  // a map frequency well outside the Freq line's band
inline constexpr int kResultsLost = -49;        // the results file could not be written after the run (disk full, size limit)
// Perfectly matched layer (--pml; checked before the grid build).
inline constexpr int kPmlCells = -50;           // --pml=N with N not a whole number 4..32
inline constexpr int kPmlTooFewCells = -51;     // an axis too short for its layers and some cells between
inline constexpr int kPmlElementInLayer = -52;  // an Electric line (port or element) inside a layer
inline constexpr int kPmlFarFieldInLayer = -53;  // the Radiation line's Huygens box inside a layer
// Far field at more frequencies (--far-field-freq; checked before the run).
inline constexpr int kFarFieldFrequencyValue = -54;   // not a list of positive numbers in hertz
inline constexpr int kFarFieldFrequencyCount = -55;   // more than 64 frequencies
inline constexpr int kFarFieldFrequencyTwice = -56;   // a frequency listed twice (same single-precision value)
inline constexpr int kFarFieldWithoutRadiation = -57;  // the description has no Radiation line
inline constexpr int kFarFieldOutsideBand = -58;      // outside the Freq line's band
inline constexpr int kFarFieldAliased = -59;          // above half the rate at which the probes sample
}  // namespace run_error

}  // namespace fendrix
