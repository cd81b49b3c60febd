// The benchmarks' clock.
#pragma once

#include <windows.h>

namespace bench {

// Seconds from a fixed point in the past, read from the performance counter.
inline double Seconds() {
    static const LONGLONG frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f.QuadPart;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency);
}

}  // namespace bench
