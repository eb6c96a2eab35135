#include "common/ParallelRanges.hpp"

#include <pthread.h>

#include <algorithm>

#include "common/Limits.hpp"

namespace fendrix {

namespace {

struct Range {
    void (*work)(void*, std::uint32_t, std::uint32_t);
    void* context;
    std::uint32_t begin, end;
    pthread_t handle;
    bool started;
};

void* rangeEntry(void* record) {
    const Range& range = *static_cast<Range*>(record);
    range.work(range.context, range.begin, range.end);
    return nullptr;
}

}  // namespace

ItemRange shareOf(std::uint32_t count, std::uint32_t parts, std::uint32_t part) {
    const std::uint32_t base = count / parts, extra = count % parts;
    const std::uint32_t begin = part * base + std::min(part, extra);
    return {begin, begin + base + (part < extra ? 1 : 0)};
}

std::uint32_t partHolding(std::uint32_t count, std::uint32_t parts, std::uint32_t item) {
    const std::uint32_t base = count / parts, extra = count % parts;
    const std::uint32_t wide = extra * (base + 1);  // the longer ranges come first
    return item < wide ? item / (base + 1) : extra + (item - wide) / base;
}

void runOnRanges(int threads, std::uint32_t count,
                 void (*work)(void* context, std::uint32_t begin, std::uint32_t end), void* context) {
    const std::uint32_t threadCount = static_cast<std::uint32_t>(std::clamp(threads, 1, kMaxThreads));
    const std::uint32_t ranges = std::max(1u, std::min(threadCount, count));
    Range table[kMaxThreads];
    for (std::uint32_t t = 0; t < ranges; ++t) {
        const ItemRange share = shareOf(count, ranges, t);
        table[t] = {work, context, share.begin, share.end, {}, false};
        if (t > 0) table[t].started = pthread_create(&table[t].handle, nullptr, rangeEntry, &table[t]) == 0;
    }
    work(context, table[0].begin, table[0].end);
    for (std::uint32_t t = 1; t < ranges; ++t) {
        if (table[t].started)
            pthread_join(table[t].handle, nullptr);
        else
            work(context, table[t].begin, table[t].end);
    }
}

}  // namespace fendrix
