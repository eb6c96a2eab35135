#include "engine/PlaneExchange.hpp"

#include <chrono>
#include <cstring>

#include "common/ProcessGroup.hpp"
#include "grid/FdtdEngine.hpp"

#ifdef FENDRIX_MPI
#define OMPI_SKIP_MPICXX 1
#include <mpi.h>
#endif

namespace fendrix {

namespace {

// Message kinds between neighbours; MPI keeps the order of the messages of
// one kind between two processes, so no step numbers are needed.
constexpr int kTagEDown = 1, kTagHUp = 2, kTagSampleE = 4, kTagSampleH = 5;

// x and y of every block of a plane (8 of its 12 floats) into `out`, and back.
void packTangential(const float* plane, std::size_t blocks, float* out) {
    for (std::size_t b = 0; b < blocks; ++b) std::memcpy(out + 8 * b, plane + 12 * b, 8 * sizeof(float));
}

void unpackTangential(const float* in, std::size_t blocks, float* plane) {
    for (std::size_t b = 0; b < blocks; ++b) std::memcpy(plane + 12 * b, in + 8 * b, 8 * sizeof(float));
}

// Adds the lifetime of the object to a counter of seconds.
struct Stopwatch {
    double& total;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    ~Stopwatch() { total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); }
};

}  // namespace

#ifdef FENDRIX_MPI

struct PlaneExchange::Sends {
    MPI_Request down[2] = {MPI_REQUEST_NULL, MPI_REQUEST_NULL};
    MPI_Request up[2] = {MPI_REQUEST_NULL, MPI_REQUEST_NULL};
};

namespace {

void receive(int from, float* data, std::size_t floats, int tag) {
    MPI_Recv(data, static_cast<int>(floats), MPI_FLOAT, from, tag, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
}

// Sends `floats` of `buffer` without waiting, once the send that last used
// the buffer has completed.
void sendFrom(std::vector<float>& buffer, MPI_Request& request, int to, int tag) {
    MPI_Wait(&request, MPI_STATUS_IGNORE);
    MPI_Isend(buffer.data(), static_cast<int>(buffer.size()), MPI_FLOAT, to, tag, MPI_COMM_WORLD,
              &request);
}

void complete(MPI_Request* requests, int count) { MPI_Waitall(count, requests, MPI_STATUSES_IGNORE); }

}  // namespace

#else  // without MPI there is never a neighbour: nothing below is reached

struct PlaneExchange::Sends {
    int down[2] = {0, 0}, up[2] = {0, 0};
};

namespace {
void receive(int, float*, std::size_t, int) {}
void sendFrom(std::vector<float>&, int&, int, int) {}
void complete(int*, int) {}
}  // namespace

#endif

PlaneExchange::PlaneExchange(FdtdEngine& engine)
    : engine(engine), sends(std::make_unique<Sends>()) {
    const int process = processes::rank();
    if (process > 0) below = process - 1;
    if (process + 1 < processes::count()) above = process + 1;
    planeBlocks = std::size_t(engine.Nv) * engine.Ny();
    for (int i = 0; i < 2; ++i) {
        if (hasBelow()) downBuffers[i].resize(8 * planeBlocks);
        if (hasAbove()) upBuffers[i].resize(8 * planeBlocks);
    }
    if (hasBelow()) fromBelow.resize(8 * planeBlocks);
    if (hasAbove()) fromAbove.resize(8 * planeBlocks);
}

PlaneExchange::~PlaneExchange() { finish(); }

void PlaneExchange::receiveBelow(std::uint32_t step) {
    if (step == 0) return;  // H before the first step is zero everywhere
    Stopwatch watch{belowSeconds};
    receive(below, fromBelow.data(), fromBelow.size(), kTagHUp);
    unpackTangential(fromBelow.data(), planeBlocks,
                     engine.hField + 12 * engine.planeBlock(engine.processSlab.ownedBegin - 1));
}

void PlaneExchange::sendFirstPlane() {
    Stopwatch watch{belowSeconds};
    std::vector<float>& buffer = downBuffers[downNext];
    packTangential(engine.eField + 12 * engine.planeBlock(engine.processSlab.ownedBegin), planeBlocks,
                   buffer.data());
    sendFrom(buffer, sends->down[downNext], below, kTagEDown);
    downNext ^= 1;
}

void PlaneExchange::receiveAbove() {
    Stopwatch watch{aboveSeconds};
    receive(above, fromAbove.data(), fromAbove.size(), kTagEDown);
    unpackTangential(fromAbove.data(), planeBlocks,
                     engine.eField + 12 * engine.planeBlock(engine.ownedPlanes().end));
}

void PlaneExchange::sendLastPlane() {
    Stopwatch watch{aboveSeconds};
    std::vector<float>& buffer = upBuffers[upNext];
    packTangential(engine.hField + 12 * engine.planeBlock(engine.ownedPlanes().end - 1), planeBlocks,
                   buffer.data());
    sendFrom(buffer, sends->up[upNext], above, kTagHUp);
    upNext ^= 1;
}

void PlaneExchange::shareForSampling() {
#ifdef FENDRIX_MPI
    const int floats = static_cast<int>(12 * planeBlocks);
    MPI_Request out[2] = {MPI_REQUEST_NULL, MPI_REQUEST_NULL};
    if (hasAbove()) {
        const std::size_t last = 12 * engine.planeBlock(engine.ownedPlanes().end - 1);
        MPI_Isend(engine.eField + last, floats, MPI_FLOAT, above, kTagSampleE, MPI_COMM_WORLD, &out[0]);
        MPI_Isend(engine.hField + last, floats, MPI_FLOAT, above, kTagSampleH, MPI_COMM_WORLD, &out[1]);
    }
    if (hasBelow()) {
        const std::size_t halo = 12 * engine.planeBlock(engine.processSlab.ownedBegin - 1);
        receive(below, engine.eField + halo, 12 * planeBlocks, kTagSampleE);
        receive(below, engine.hField + halo, 12 * planeBlocks, kTagSampleH);
    }
    complete(out, 2);
#endif
}

void PlaneExchange::finish() {
    if (finished) return;
    finished = true;
    if (hasBelow() && engine.stepCount > 0) receive(below, fromBelow.data(), fromBelow.size(), kTagHUp);
    complete(sends->down, 2);
    complete(sends->up, 2);
}

}  // namespace fendrix
