#pragma once

#include <complex>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

// Minimal reader of results datasets for the end-to-end tests: checks the
// magic and version and splits the records into named value arrays.
namespace testing_support {

struct Dataset {
    bool valid = false;
    std::map<std::string, std::vector<double>> reals;
    std::map<std::string, std::vector<std::complex<double>>> complexes;
};

inline Dataset parseDataset(const std::string& bytes) {
    Dataset data;
    auto u32 = [&](std::size_t at) {
        std::uint32_t v = 0;
        std::memcpy(&v, bytes.data() + at, 4);
        return v;
    };
    if (bytes.size() < 16 || bytes.compare(0, 8, "ZeltData") != 0 || u32(8) != 0x03020000u)
        return data;
    const std::size_t headerEnd = 16 + u32(12);
    if (headerEnd > bytes.size()) return data;
    struct Record { std::string name; std::uint32_t flags, count; };
    std::vector<Record> records;
    std::size_t at = 16;
    while (at < headerEnd) {
        Record r;
        r.flags = u32(at);
        r.count = u32(at + 4);
        at += 8;
        r.name = bytes.c_str() + at;
        at += r.name.size() + 1;
        if (r.flags & 2) at += std::strlen(bytes.c_str() + at) + 1;
        records.push_back(r);
    }
    if (at != headerEnd) return data;
    for (const auto& r : records) {
        const bool real = (r.flags & 4) != 0;
        const std::size_t bytesNeeded = static_cast<std::size_t>(r.count) * (real ? 8 : 16);
        if (at + bytesNeeded > bytes.size()) return data;
        for (std::uint32_t i = 0; i < r.count; ++i) {
            double v[2];
            std::memcpy(v, bytes.data() + at, real ? 8 : 16);
            at += real ? 8 : 16;
            if (real)
                data.reals[r.name].push_back(v[0]);
            else
                data.complexes[r.name].emplace_back(v[0], v[1]);
        }
    }
    data.valid = at == bytes.size();
    return data;
}

}  // namespace testing_support
