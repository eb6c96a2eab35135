// Placeholder until this file is written.
#include "driver/Simulation.hpp"
int Simulation::parse(char*) { return -2; }
