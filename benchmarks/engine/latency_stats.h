// Percentiles of a set of latencies, in microseconds, for the engine benchmarks' output.
#pragma once

#include <algorithm>
#include <cstdio>
#include <vector>

namespace quietway::bench {

// The latency below which `share` (0..1) of the samples lie; sorts `samples`.
inline double percentile(std::vector<double>& samples, double share) {
    if (samples.empty()) return 0;
    std::sort(samples.begin(), samples.end());
    const size_t index = static_cast<size_t>(share * static_cast<double>(samples.size() - 1));
    return samples[index];
}

inline void print_latencies(const char* what, std::vector<double>& samples) {
    const double p50 = percentile(samples, 0.50);
    const double p99 = percentile(samples, 0.99);
    std::printf("%s: %zu samples, p50 %.1f us, p99 %.1f us, max %.1f us\n", what, samples.size(),
                p50, p99, samples.empty() ? 0.0 : samples.back());
}

}  // namespace quietway::bench
