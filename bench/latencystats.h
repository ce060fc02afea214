#pragma once

#include <QtGlobal>

#include <vector>

// Durations of finished operations, in nanoseconds, and their percentiles.
class LatencyStats
{
public:
    void add(qint64 nanoseconds) { m_samples.push_back(nanoseconds); }
    qsizetype count() const { return qsizetype(m_samples.size()); }

    // The nearest-rank percentile (p in 0..100) in milliseconds; 0 without samples.
    double percentileMs(double p) const;

private:
    std::vector<qint64> m_samples;
};
