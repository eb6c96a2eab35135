// Probe sampling in a run over several processes. Each process holds the
// field values of the planes it owns; a port's value must still be the sum
// of one process, in its order, so process 0 gathers every term's raw value
// and combines them itself. The far-field faces keep a spectrum per node,
// independent of every other node: each process samples the nodes of its
// own planes, and the faces gather them once, after the run.

#include <cstring>
#include <vector>

#include "common/ParallelRanges.hpp"
#include "common/ProcessGroup.hpp"
#include "engine/PlaneExchange.hpp"
#include "grid/FdtdEngine.hpp"
#include "probes/Probe.hpp"

namespace fendrix {

void FdtdEngine::sampleSharedProbes() {
    // Node values of the first owned plane read the plane below.
    processSlab.exchange->shareForSampling();

    std::vector<VoltageProbe*> ports;
    std::vector<FieldTerm> terms;
    std::vector<float> mine;
    for (auto& probe : probes) {
        auto* port = dynamic_cast<VoltageProbe*>(probe.get());
        if (port == nullptr) {
            probe->sample();
            continue;
        }
        ports.push_back(port);
        port->listTerms(terms);
        for (const FieldTerm& t : terms)
            if (owns(t.z)) mine.push_back((t.magnetic ? hField : eField)[fieldIndex(t.x, t.y, t.z, t.c)]);
    }

    std::vector<unsigned char> all;
    std::vector<std::size_t> sizes;
    processes::gatherBytes(mine.data(), mine.size() * sizeof(float), all, sizes);
    if (processes::rank() != 0) return;

    // Each process's values follow each other in term order: take them back
    // term by term from the owner's part.
    std::vector<std::size_t> next(sizes.size(), 0);
    for (std::size_t p = 1; p < sizes.size(); ++p) next[p] = next[p - 1] + sizes[p - 1] / sizeof(float);
    std::vector<float> gathered(all.size() / sizeof(float));
    std::memcpy(gathered.data(), all.data(), gathered.size() * sizeof(float));
    std::vector<float> values;
    for (VoltageProbe* port : ports) {
        port->listTerms(terms);
        values.clear();
        for (const FieldTerm& t : terms)
            values.push_back(gathered[next[partHolding(Nz(), processes::count(), t.z)]++]);
        port->accumulate(static_cast<float>(port->combine(values)));
    }
}

}  // namespace fendrix
