#include "common/ProcessGroup.hpp"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#ifndef FENDRIX_MPI
#include <chrono>
#include <thread>
#endif

#include "common/Console.hpp"
#include "common/ErrorNumbers.hpp"

#ifdef FENDRIX_MPI
#define OMPI_SKIP_MPICXX 1
#include <mpi.h>
#endif

namespace fendrix {

namespace {

int groupRank = 0;
int groupCount = 1;

// Processes that an MPI launcher started, as its environment says (Open MPI,
// then the PMI names other launchers and batch systems use); 0 when none did.
int launchedProcesses() {
    for (const char* name : {"OMPI_COMM_WORLD_SIZE", "PMI_SIZE", "PMIX_SIZE"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && std::atoi(value) > 0) return std::atoi(value);
    }
    return 0;
}

}  // namespace

namespace processes {

int rank() { return groupRank; }
int count() { return groupCount; }

#ifdef FENDRIX_MPI

namespace {

bool joined = false;

// Only process 0 speaks: the others send what they print to nowhere, so that
// progress, warnings and errors appear once.
void silence() {
    if (std::freopen("/dev/null", "w", stdout) == nullptr) return;
    if (std::freopen("/dev/null", "w", stderr) == nullptr) return;
}

}  // namespace

int start(int* argc, char*** argv) {
    if (launchedProcesses() == 0) return 0;
    // The stepping threads at the two borders of a process's planes trade them
    // with the neighbours at the same time.
    int provided = 0;
    if (MPI_Init_thread(argc, argv, MPI_THREAD_MULTIPLE, &provided) != MPI_SUCCESS) {
        console::error("Cannot join the processes of the launcher (MPI).\n");
        return run_error::kProcessGroup;
    }
    joined = true;
    MPI_Comm_rank(MPI_COMM_WORLD, &groupRank);
    MPI_Comm_size(MPI_COMM_WORLD, &groupCount);
    if (provided < MPI_THREAD_MULTIPLE && groupCount > 1) {
        if (groupRank == 0)
            console::error("The MPI library cannot serve several threads per process.\n");
        return run_error::kProcessGroup;
    }
    if (groupRank != 0) silence();
    return 0;
}

void finish() {
    if (!joined) return;
    joined = false;
    MPI_Finalize();
}

void broadcast(void* data, std::size_t bytes) {
    if (groupCount > 1) MPI_Bcast(data, static_cast<int>(bytes), MPI_BYTE, 0, MPI_COMM_WORLD);
}

double largest(double value) {
    double result = value;
    if (groupCount > 1) MPI_Allreduce(&value, &result, 1, MPI_DOUBLE, MPI_MAX, MPI_COMM_WORLD);
    return result;
}

int worstStatus(int status) {
    int result = status;
    if (groupCount > 1) MPI_Allreduce(&status, &result, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
    return result;
}

void combineFlags(std::vector<unsigned char>& flags) {
    if (groupCount > 1 && !flags.empty())
        MPI_Allreduce(MPI_IN_PLACE, flags.data(), static_cast<int>(flags.size()), MPI_UNSIGNED_CHAR, MPI_MAX,
                      MPI_COMM_WORLD);
}

void gatherBytes(const void* data, std::size_t bytes, std::vector<unsigned char>& all,
                 std::vector<std::size_t>& sizes) {
    all.clear();
    sizes.clear();
    if (groupCount == 1) {
        const auto* first = static_cast<const unsigned char*>(data);
        all.assign(first, first + bytes);
        sizes.push_back(bytes);
        return;
    }
    int mine = static_cast<int>(bytes);
    std::vector<int> counts(groupRank == 0 ? groupCount : 0), offsets(counts.size());
    MPI_Gather(&mine, 1, MPI_INT, counts.data(), 1, MPI_INT, 0, MPI_COMM_WORLD);
    int total = 0;
    for (std::size_t p = 0; p < counts.size(); ++p) {
        offsets[p] = total;
        total += counts[p];
        sizes.push_back(static_cast<std::size_t>(counts[p]));
    }
    all.resize(static_cast<std::size_t>(total));
    MPI_Gatherv(data, mine, MPI_BYTE, all.data(), counts.data(), offsets.data(), MPI_BYTE, 0,
                MPI_COMM_WORLD);
}

void sendTo(int process, const void* data, std::size_t bytes, int tag) {
    MPI_Send(data, static_cast<int>(bytes), MPI_BYTE, process, tag, MPI_COMM_WORLD);
}

void receiveFrom(int process, void* data, std::size_t bytes, int tag) {
    MPI_Recv(data, static_cast<int>(bytes), MPI_BYTE, process, tag, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
}

#else  // a build without MPI: always a group of one

int start(int*, char***) {
    if (launchedProcesses() <= 1) return 0;
    // Every process ends; the one the launcher numbers 0 says why.
    const char* rank = std::getenv("OMPI_COMM_WORLD_RANK");
    if (rank == nullptr) rank = std::getenv("PMI_RANK");
    if (rank != nullptr && std::atoi(rank) != 0) {
        // The launcher ends the job at the first failing exit: let process 0 speak first.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        return run_error::kProcessGroup;
    }
    console::error(
                 "This fendrix was built without MPI and cannot share a run between %d "
                 "processes; start it without mpirun, or rebuild it where MPI is installed.\n",
                 launchedProcesses());
    return run_error::kProcessGroup;
}

void finish() {}
void broadcast(void*, std::size_t) {}
double largest(double value) { return value; }
int worstStatus(int status) { return status; }
void combineFlags(std::vector<unsigned char>&) {}

void gatherBytes(const void* data, std::size_t bytes, std::vector<unsigned char>& all,
                 std::vector<std::size_t>& sizes) {
    const auto* first = static_cast<const unsigned char*>(data);
    all.assign(first, first + bytes);
    sizes.assign(1, bytes);
}

void sendTo(int, const void*, std::size_t, int) {}
void receiveFrom(int, void*, std::size_t, int) {}

#endif

int checkSameArguments(int argc, char** argv) {
    if (!many()) return 0;
    // FNV-1a over the arguments (each with its NUL) and their length: what
    // each process compares with process 0's, without sending the text.
    std::uint64_t mine[2] = {14695981039346656037ull, 0};
    for (int i = 1; i < argc; ++i)
        for (const char* c = argv[i];; ++c) {
            mine[0] = (mine[0] ^ static_cast<unsigned char>(*c)) * 1099511628211ull;
            ++mine[1];
            if (*c == '\0') break;
        }
    std::uint64_t first[2] = {mine[0], mine[1]};
    broadcast(first, sizeof first);
    const unsigned char differs = first[0] != mine[0] || first[1] != mine[1];
    std::vector<unsigned char> all;
    std::vector<std::size_t> sizes;
    gatherBytes(&differs, 1, all, sizes);
    const int status = worstStatus(differs ? run_error::kProcessArguments : 0);
    if (status == 0 || rank() != 0) return status;
    std::string which, line;
    int differing = 0;
    for (std::size_t p = 0; p < all.size(); ++p)
        if (all[p] != 0) {
            if (differing++ > 0) which += ", ";
            which += std::to_string(p);
        }
    for (int i = 1; i < argc; ++i) {
        if (i > 1) line += ' ';
        line += argv[i];
    }
    console::error(
                 "The processes of this run were started with different arguments: %s %s %s "
                 "from process 0's '%s'. Start every process with the same arguments (one program, no "
                 "':' sections in the launcher's command line).\n",
                 differing > 1 ? "processes" : "process", which.c_str(), differing > 1 ? "differ" : "differs",
                 line.c_str());
    return status;
}

}  // namespace processes

}  // namespace fendrix
