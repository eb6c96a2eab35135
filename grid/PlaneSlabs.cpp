#include "grid/PlaneSlabs.hpp"

#include <pthread.h>

#include <algorithm>

namespace {

struct Slab {
    void (*work)(void*, std::uint32_t, std::uint32_t);
    void* context;
    std::uint32_t begin, end;
    pthread_t handle;
    bool started;
};

void* slabEntry(void* record) {
    const Slab& slab = *static_cast<Slab*>(record);
    slab.work(slab.context, slab.begin, slab.end);
    return nullptr;
}

}  // namespace

void runOnPlaneSlabs(int threads, std::uint32_t planes,
                     void (*work)(void* context, std::uint32_t kBegin, std::uint32_t kEnd),
                     void* context) {
    constexpr int kMaxThreads = 16;
    const std::uint32_t count = static_cast<std::uint32_t>(std::clamp(threads, 1, kMaxThreads));
    const std::uint32_t slabs = std::max(1u, std::min(count, planes));
    Slab table[kMaxThreads];
    for (std::uint32_t t = 0; t < slabs; ++t) {
        const std::uint32_t base = planes / slabs, extra = planes % slabs;
        const std::uint32_t begin = t * base + std::min(t, extra);
        table[t] = {work, context, begin, begin + base + (t < extra ? 1 : 0), {}, false};
        if (t > 0) table[t].started = pthread_create(&table[t].handle, nullptr, slabEntry, &table[t]) == 0;
    }
    work(context, table[0].begin, table[0].end);
    for (std::uint32_t t = 1; t < slabs; ++t) {
        if (table[t].started)
            pthread_join(table[t].handle, nullptr);
        else
            work(context, table[t].begin, table[t].end);
    }
}
