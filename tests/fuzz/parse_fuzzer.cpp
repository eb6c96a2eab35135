// libFuzzer target over the whole description parser, and over the grid build
// for descriptions small enough to build quickly.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/Console.hpp"
#include "driver/Simulation.hpp"

using namespace fendrix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    console::setVerbosity(-1);
    char* text = static_cast<char*>(std::malloc(size + 1));
    std::memcpy(text, data, size);
    text[size] = '\0';

    Simulation simulation(2);
    const int status = simulation.parse(text);
    std::free(text);
    // The build allocates in proportion to the grid; keep each input cheap.
    if (status == 0 && simulation.engine->cellCount() <= 4096) simulation.setup();
    return 0;
}
