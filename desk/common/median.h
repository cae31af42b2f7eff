// The median every desk program uses: the middle value, or the mean of the
// two middle values of an even count; 0 for no values.
#ifndef DESK_COMMON_MEDIAN_H
#define DESK_COMMON_MEDIAN_H

#include <stddef.h>

#include <algorithm>
#include <vector>

namespace common {

inline double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace common

#endif
