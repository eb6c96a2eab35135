// Placeholder until this file is written.
#include "engine/Excitation.hpp"
bool Excitation::configure(char, double, double) { return false; }
void Excitation::prepare(double) {}
void Excitation::inject() {}
