// "Electric" lines: a lumped resistor and/or capacitor between two corners,
// and for a port number of 1 or more a port with its probes.
#include <cstdio>
#include <memory>

#include "common/Console.hpp"
#include "common/TextReader.hpp"
#include "engine/Excitation.hpp"
#include "geometry/LumpedElement.hpp"
#include "grid/FdtdEngine.hpp"
#include "input/ParseLocation.hpp"
#include "probes/Probe.hpp"
#include "results/Results.hpp"

namespace fendrix {

namespace {

// A real, or the single character 'x' for "none" (the value is then left as
// it is); either must be followed by one blank.
bool readValueOrNone(char*& pos, double& value) {
    if (*pos == 'x') {
        if (pos[1] != ' ') return false;
        pos += 2;
        return true;
    }
    return text::readRealThen(pos, value, ' ');
}

// Notes what the field should have been, for the readable error hint.
char* failWith(const char* hint) {
    parseLocation.hint(hint);
    return nullptr;
}

}  // namespace

char* LumpedElement::parse(char* text, FdtdEngine& engine, Results& results, Excitation& excitation) {
    char* pos = text;
    std::uint32_t code = 0;
    if (!text::readSignedThen(pos, port, ' '))
        return failWith("The port number (1, 2, ... for a port, 0 for a plain element) comes first, "
                        "followed by one blank.");
    // The low two bits give the axis; 3 names none.
    if (!text::readUnsignedThen(pos, code, ' ') || (code & 3u) == 3u)
        return failWith("The direction code must be 0, 1 or 2 for an element along x, y or z (4, 5 or 6: "
                        "the same axes with the port's orientation reversed), followed by one blank.");
    axis = static_cast<std::int32_t>(code);
    if (!readValueOrNone(pos, resistance))
        return failWith("The resistance is a number in ohms, or x for none, followed by one blank.");
    if (!readValueOrNone(pos, capacitance))
        return failWith("The capacitance is a number in farads, or x for none, followed by one blank.");

    double corners[6];
    for (double& value : corners) {
        if (!text::readReal(pos, value))
            return failWith("Two corners follow, X1,Y1,Z1 X2,Y2,Z2: six numbers in metres.");
        text::skipOne(pos);  // separator unchecked; never past the end of the text
    }
    for (int a = 0; a < 3; ++a) {
        corner1[a] = corners[a];
        corner2[a] = corners[3 + a];
        if (corner1[a] > corner2[a]) {
            corner1[a] = corners[3 + a];
            corner2[a] = corners[a];
        }
    }

    console::echo("Electric %d %d %g %g # %g,%g,%g %g,%g,%g\n", port, axis, resistance, capacitance,
                    corner1[0], corner1[1], corner1[2], corner2[0], corner2[1], corner2[2]);

    const int a = axis & 3;
    if (port > 0) {
        // Codes above 2 flip the port's orientation, carried by the impedance sign.
        const double impedance = axis > 2 ? resistance : -resistance;
        double centre[3];
        for (int i = 0; i < 3; ++i) centre[i] = 0.5 * (corner1[i] + corner2[i]);

        // The voltage is summed along the element's axis through the middle of
        // the box across it.
        double p[3] = {corner1[0], corner1[1], corner1[2]};
        double q[3] = {corner2[0], corner2[1], corner2[2]};
        if (a != 0) p[0] = q[0] = centre[0];
        if (a == 0 || a == 2) p[1] = q[1] = centre[1];
        auto voltage = std::make_unique<VoltageProbe>(&engine, &results.frequencies);
        voltage->portNumber = port;
        voltage->referenceImpedance = impedance;
        voltage->direction = -1;
        voltage->place(p, q);
        results.ports.push_back(voltage.get());
        engine.probes.push_back(std::move(voltage));

        if (port == 1) {
            excitation.excitedAxis = a;
            for (int i = 0; i < 3; ++i) {
                excitation.portBox[i] = corner1[i];
                excitation.portBox[3 + i] = corner2[i];
            }
            // The current loop lies in the middle plane across the element's axis.
            double pc[3] = {corner1[0], corner1[1], corner1[2]};
            double qc[3] = {corner2[0], corner2[1], corner2[2]};
            pc[a] = qc[a] = centre[a];
            auto current = std::make_unique<CurrentProbe>(&engine, &results.frequencies);
            results.sourceCurrent = current.get();
            current->portNumber = 1;
            current->referenceImpedance = impedance;
            current->direction = a;
            current->place(pc, qc);
            engine.probes.push_back(std::move(current));
        }
    }
    axis = a;
    return pos;
}

}  // namespace fendrix
