// Placeholder until this file is written.
#include "driver/Simulation.hpp"
int Simulation::run() { return 0; }
