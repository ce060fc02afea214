#include "latencystats.h"

#include <algorithm>
#include <cmath>

double LatencyStats::percentileMs(double p) const
{
    if (m_samples.empty())
        return 0;
    std::vector<qint64> sorted = m_samples;
    const double rank = std::ceil(qBound(0.0, p, 100.0) / 100.0 * double(sorted.size()));
    const auto index = size_t(qMax(1.0, rank)) - 1;
    std::nth_element(sorted.begin(), sorted.begin() + qint64(index), sorted.end());
    return double(sorted[index]) / 1e6;
}
