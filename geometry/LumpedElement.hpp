#pragma once

#include <cstdint>

namespace fendrix {

class FdtdEngine;
class Results;
class Excitation;

// A lumped resistor and/or capacitor between two corners, from an "Electric"
// line; a port number of 1 or more also makes it a port with probes.
struct LumpedElement {
    std::int32_t axis = -1;       // after parsing: 0, 1 or 2
    double resistance = -1.0;     // ohms; negative: no resistor
    double capacitance = -1.0;    // farads; negative: no capacitor
    double corner1[3] = {0, 0, 0};  // smaller coordinate of each axis
    double corner2[3] = {0, 0, 0};  // larger coordinate of each axis
    std::int32_t port = 0;        // port number; 0 or less: a plain element
    std::uint32_t line = 0;       // line of the description, for messages; 0 unknown

    // Reads the line after "Electric" and its blank; creates the port probes
    // and sets the excited port for port 1. Returns the position after the
    // line, or null on failure (nothing is registered then).
    char* parse(char* text, FdtdEngine& engine, Results& results, Excitation& excitation);
};

}  // namespace fendrix
