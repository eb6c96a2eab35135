#include "probes/PortCapture.hpp"

#include <algorithm>

#include "grid/FdtdEngine.hpp"
#include "probes/Probe.hpp"

namespace fendrix {

bool PortCapture::prepare(const FdtdEngine& engine) {
    ports.clear();
    portStart.assign(1, 0);
    termCount = 0;
    std::vector<FieldTerm> terms;
    std::vector<std::pair<std::uint32_t, Entry>> byPlane;  // plane, entry
    for (const auto& probe : engine.probes) {
        auto* port = dynamic_cast<VoltageProbe*>(probe.get());
        if (port == nullptr) return false;
        ports.push_back(port);
        port->listTerms(terms);
        for (const FieldTerm& t : terms)
            byPlane.push_back({t.z, {t.magnetic ? engine.hField : engine.eField,
                                     engine.fieldIndex(t.x, t.y, t.z, t.c), termCount++}});
        portStart.push_back(termCount);
    }
    std::stable_sort(byPlane.begin(), byPlane.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    planeStart.assign(engine.Nz() + 1, 0);
    entries.clear();
    for (const auto& [plane, entry] : byPlane) {
        ++planeStart[plane + 1];
        entries.push_back(entry);
    }
    for (std::size_t k = 1; k < planeStart.size(); ++k) planeStart[k] += planeStart[k - 1];
    return true;
}

void PortCapture::accumulate(std::uint32_t due) const {
    std::vector<float> mine;
    const float* all = values.data() + std::size_t(due) * termCount;
    for (std::size_t p = 0; p < ports.size(); ++p) {
        mine.assign(all + portStart[p], all + portStart[p + 1]);
        ports[p]->accumulate(static_cast<float>(ports[p]->combine(mine)));
    }
}

}  // namespace fendrix
