#pragma once

#include <QtGlobal>

#include <algorithm>
#include <cmath>
#include <vector>

namespace sorna::bench {

// The p-th percentile (0..1) of samples sorted in ascending order, in
// microseconds from nanoseconds: the smallest sample with at least p % of the
// samples at or below it.
inline double percentileUs(const std::vector<qint64>& sortedNs, double p)
{
    if (sortedNs.empty())
        return 0;
    const size_t rank = size_t(std::ceil(p * double(sortedNs.size())));
    return double(sortedNs[std::clamp<size_t>(rank, 1, sortedNs.size()) - 1]) / 1000.0;
}

} // namespace sorna::bench
