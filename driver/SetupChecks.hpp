#pragma once

#include <string>

namespace fendrix {

class FdtdEngine;
class Geometry;
class RadiationSetup;

// Checks between parsing and stepping that catch a description which parses
// but cannot give sound results. Errors print their message and return a
// run_error status; warnings print and let the run go on. All on standard error.

// The results file can be created where the Sim line puts it: its folder exists
// and may be written, and the longest names the run will create there (the
// temporary results file and, with `views`, the views' folder and files) fit
// the file system. 0 or run_error::kResultsNotWritable.
int checkResultsPath(const std::string& fileName, bool views = false);

// Every numbered port spans at least one cell along its axis (an element with
// no length is left out of the grid). 0 or run_error::kPortWithoutLength.
int checkPortLengths(const FdtdEngine& engine, const Geometry& geometry);

// Warns, once per axis, when cells exceed a tenth of the wavelength at
// `topFrequency` in the densest dielectric that reaches across them.
void warnCoarseCells(const FdtdEngine& engine, const Geometry& geometry, double topFrequency);

// Warns for every shape face and element end that lies more than a quarter
// cell from the nearest mesh line, naming its description line.
void warnOffGrid(const FdtdEngine& engine, const Geometry& geometry);

// After the time step is known: it must be below the Nyquist interval of
// `topFrequency`. 0 or run_error::kTimeStepBeyondNyquist.
int checkTimeStep(double timeStep, double topFrequency);

// With a perfectly matched layer (engine.pmlCells > 0): a warning when no face
// is absorbing; every axis has room for its layers and a few cells between,
// no Electric line reaches into a layer, and the far-field box (`radiation`,
// may be null) and the nodes it reads lie inside the layers' inner edges. 0 or run_error::kPmlTooFewCells,
// kPmlElementInLayer, kPmlFarFieldInLayer.
int checkPmlPlacement(const FdtdEngine& engine, const Geometry& geometry, const RadiationSetup* radiation);

}  // namespace fendrix
