#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace fendrix {

class FdtdEngine;

// The border planes of one process in a run over several, traded with the
// processes that step the planes below and above, once per time step:
//   - E of the first owned plane needs H of the plane below from the previous
//     step, which the process below updates last in its sweep;
//   - H of the last owned plane needs E of the plane above from this step,
//     which the process above updates first.
// Only the tangential components (x and y) cross: the curls along z read
// nothing else. Sends are non-blocking, from buffers of their own, so a
// process goes on with its slab while its border planes travel; it waits only
// where it reads a neighbour's plane. The same dependencies as between two
// stepping threads, so every cell sees the fields of one process.
class PlaneExchange {
public:
    explicit PlaneExchange(FdtdEngine& engine);
    ~PlaneExchange();
    PlaneExchange(const PlaneExchange&) = delete;
    PlaneExchange& operator=(const PlaneExchange&) = delete;

    bool hasBelow() const { return below >= 0; }
    bool hasAbove() const { return above >= 0; }
    // Before E of the first owned plane at time step `step`: H of the plane
    // below after step - 1 (none before the first step).
    void receiveBelow(std::uint32_t step);
    // After E of the first owned plane at `step` is final: it goes down.
    void sendFirstPlane();
    // Before H of the last owned plane at `step`: E of the plane above.
    void receiveAbove();
    // After H of the last owned plane: it goes up.
    void sendLastPlane();
    // At the end of a chunk, before probes sample: the whole of E and H of the
    // last owned plane goes up, so that values at the nodes of the first owned
    // plane (which read the plane below) can be formed here.
    void shareForSampling();
    // Takes the H plane the process below sent after the last step, which no
    // step reads, and completes every send: once, when the stepping has ended.
    void finish();
    // Seconds the stepping spent trading border planes (packing, sending and
    // waiting for a neighbour's plane), for the report at high verbosity.
    double seconds() const { return belowSeconds + aboveSeconds; }

private:
    struct Sends;  // the library's request handles
    FdtdEngine& engine;
    int below = -1, above = -1;  // neighbour processes, -1 where none
    std::size_t planeBlocks = 0;
    // Two send buffers per direction: a neighbour has always taken the plane
    // of the step before last when the next one goes out.
    std::vector<float> downBuffers[2], upBuffers[2], fromBelow, fromAbove;
    unsigned downNext = 0, upNext = 0;
    std::unique_ptr<Sends> sends;
    bool finished = false;
    double belowSeconds = 0.0, aboveSeconds = 0.0;  // each written by one stepping thread
};

}  // namespace fendrix
