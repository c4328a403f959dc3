// The percentile of a set of samples, for the benchmarks' p50 and p99 figures.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

// The sample below which `fraction` of the samples lie (reorders the samples); 0 for none.
inline double Percentile(std::vector<double> &samples, double fraction) {
    if (samples.empty())
        return 0;
    const size_t index =
        std::min(samples.size() - 1, static_cast<size_t>(fraction * samples.size()));
    std::nth_element(samples.begin(), samples.begin() + index, samples.end());
    return samples[index];
}
