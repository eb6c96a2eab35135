#pragma once

#include <cstddef>
#include <vector>

namespace fendrix {

// The processes of one run. A run started by an MPI launcher (mpirun, mpiexec)
// has one process per rank, each stepping its own share of the grid; a run
// started directly, or a build without MPI, is a group of one, and then every
// function here returns at once without communicating.
//
// Every collective below must be called by all processes in the same order.
namespace processes {

// Joins the launcher's group when there is one. 0, or a run_error status after
// its message (a launcher without MPI support in this build).
int start(int* argc, char*** argv);
// Leaves the group; every process calls it once before it exits.
void finish();

int rank();   // 0 .. count() - 1; 0 prints, writes and decides
int count();
inline bool many() { return count() > 1; }

// Copies `bytes` bytes from process 0 to all others.
void broadcast(void* data, std::size_t bytes);
// The largest value over all processes (exact: no rounding).
double largest(double value);
// The most negative status over all processes (0 when every one is 0).
int worstStatus(int status);
// Each flag set where it is set on any process.
void combineFlags(std::vector<unsigned char>& flags);
// Every process's bytes, process after process, on process 0 (empty elsewhere).
void gatherBytes(const void* data, std::size_t bytes, std::vector<unsigned char>& all,
                 std::vector<std::size_t>& sizes);
// Every process was started with the same arguments as process 0 (a launch
// with ':' sections, or one process given other options, would part their
// ways and leave them waiting for each other forever). 0, or
// run_error::kProcessArguments on every process after process 0's message.
int checkSameArguments(int argc, char** argv);
// Point to point, blocking; `tag` keeps apart the kinds of message.
void sendTo(int process, const void* data, std::size_t bytes, int tag);
void receiveFrom(int process, void* data, std::size_t bytes, int tag);

}  // namespace processes

}  // namespace fendrix
