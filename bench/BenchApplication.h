// The benchmark program's main makes the one QApplication of the process (offscreen) when the
// desktop program is built; the benchmarks of its views only make sure it is there.
#pragma once

#include <QApplication>
#include <cstdio>
#include <cstdlib>

namespace corvane::bench {

inline void EnsureApplication() {
    if (QApplication::instance() == nullptr) {
        std::fprintf(stderr, "corvane_bench: no QApplication; main makes it\n");
        std::abort();
    }
}

}  // namespace corvane::bench
