// Times one MDS layout step with three merged dimensions against a floor
// measured in the same run: one streaming pass over as many stored pairs,
// reading two doubles and writing one per pair (the least memory traffic a
// step over the pair matrices can have).
//
//   mds_bench [records...] [--steps k] [--repeats r] [--threads t]
//   (defaults 2000 8000, 10 steps, best of 3, threads: the machine's)

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_support.h"
#include "mds/mds_layout.h"

namespace {

using bench::nowMs;
using bench::splitmix;

std::vector<double> randomValues(int n, std::uint64_t& state) {
    std::vector<double> v(static_cast<std::size_t>(n));
    for (double& x : v) x = static_cast<double>(splitmix(state) % 1000000) / 1e6;
    return v;
}

// Best per-step time over repeats of `steps` steps, each after a warm-up step
// (the first step after a member change also primes the force sums).
double timeSteps(int n, int steps, int repeats, double& stress) {
    std::uint64_t state = 7;
    const std::vector<double> xs = randomValues(n, state);
    const std::vector<double> ys = randomValues(n, state);
    const std::vector<double> zs = randomValues(n, state);
    const double* base[2] = {xs.data(), ys.data()};
    MDSLayout layout(n, base);
    layout.updateDimension(zs.data(), true);
    layout.step();
    double best = 1e300;
    for (int r = 0; r < repeats; ++r) {
        const double t0 = nowMs();
        for (int k = 0; k < steps; ++k) layout.step();
        best = std::min(best, (nowMs() - t0) / steps);
    }
    stress = layout.stress;
    return best;
}

double timeFloor(std::size_t pairs, int steps, int repeats, double& checksum) {
    std::vector<double> a(pairs), b(pairs), c(pairs);
    for (std::size_t k = 0; k < pairs; ++k) {
        a[k] = static_cast<double>(k & 1023);
        b[k] = static_cast<double>(k & 511);
    }
    double best = 1e300;
    for (int r = 0; r < repeats; ++r) {
        const double t0 = nowMs();
        for (int k = 0; k < steps; ++k) {
            const double* pa = a.data();
            const double* pb = b.data();
            double* pc = c.data();
            for (std::size_t p = 0; p < pairs; ++p) pc[p] = pa[p] + pb[p];
            std::swap(a, c);  // the next pass reads what this one wrote
        }
        best = std::min(best, (nowMs() - t0) / steps);
    }
    checksum = a[pairs / 3] + c[pairs / 2];
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> sizes;
    int steps = 10, repeats = 3, threads = 0;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--steps") && i + 1 < argc)
            steps = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--repeats") && i + 1 < argc)
            repeats = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--threads") && i + 1 < argc)
            threads = std::max(0, std::atoi(argv[++i]));
        else
            sizes.push_back(std::max(2, std::atoi(argv[i])));
    }
    if (sizes.empty()) sizes = {2000, 8000};
    MDSLayout::setThreadCount(threads);

    for (int n : sizes) {
        const std::size_t pairs = static_cast<std::size_t>(n) * (n + 1) / 2;
        double checksum = 0.0, stress = 0.0;
        // Interleaved so that a busy moment of the shared machine hits both.
        double floorMs = 1e300, stepMs = 1e300;
        for (int round = 0; round < 2; ++round) {
            floorMs = std::min(floorMs, timeFloor(pairs, steps, repeats, checksum));
            stepMs = std::min(stepMs, timeSteps(n, steps, repeats, stress));
        }
        std::printf("bench=mds case=step_n%d ms=%.3f floor_ms=%.3f ratio=%.2f pairs=%zu stress=%g "
                    "checksum=%g\n",
                    n, stepMs, floorMs, stepMs / floorMs, pairs, stress, checksum);
        std::fflush(stdout);
    }
    return 0;
}
