#pragma once
// The result line the bench programs print: key=value pairs on one line, which
// bench/run.sh collects; and the percentiles that go into it.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace qm::bench {

// The result line: key=value pairs in the order added.
class Report {
public:
    void Add(const std::string& key, const std::string& value) { fields_.emplace_back(key, value); }
    void Add(const std::string& key, double value, int decimals) {
        char text[64];
        std::snprintf(text, sizeof text, "%.*f", decimals, value);
        Add(key, std::string(text));
    }
    void Add(const std::string& key, std::int64_t value) { Add(key, std::to_string(value)); }
    void Print() const {
        std::string line;
        for (const auto& [key, value] : fields_) line += (line.empty() ? "" : " ") + key + "=" + value;
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }

private:
    std::vector<std::pair<std::string, std::string>> fields_;
};

// Nearest-rank percentile of nanosecond values, in milliseconds; reorders them.
inline double PercentileMs(std::vector<std::uint64_t>& values, double fraction) {
    if (values.empty()) return 0;
    auto rank = static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(values.size())));
    auto nth = values.begin() + static_cast<std::ptrdiff_t>(std::clamp<std::size_t>(rank, 1, values.size()) - 1);
    std::nth_element(values.begin(), nth, values.end());
    return static_cast<double>(*nth) / 1e6;
}

}  // namespace qm::bench
