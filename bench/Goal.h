#pragma once

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

// One line a goal, the last lines of `make bench`: "GOAL name: 12.3 ms (goal <= 40 ms) MET".
// Every figure is the median of its runs.
inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

enum class Better { Lower, Higher };

inline void reportGoal(const std::string& name, double measured, const std::string& unit, double limit,
                       Better better = Better::Lower) {
    const bool met = better == Better::Lower ? measured <= limit : measured >= limit;
    std::printf("GOAL %s: %.2f %s (goal %s %g %s) %s\n", name.c_str(), measured, unit.c_str(),
                better == Better::Lower ? "<=" : ">=", limit, unit.c_str(), met ? "MET" : "MISSED");
    std::fflush(stdout);
}

// A figure printed beside the goals, without a goal of its own: "FIGURE name: 12.3 ms".
inline void reportFigure(const std::string& name, double measured, const std::string& unit) {
    std::printf("FIGURE %s: %.2f %s\n", name.c_str(), measured, unit.c_str());
    std::fflush(stdout);
}
