#include "mds/mds_layout.h"

#include "base/memory.h"
#include "base/platform.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <limits>
#include <thread>

namespace {

constexpr double startMin = 1e10;   // extremes start here and at 0
constexpr double forceGain = 0.05;  // force gain and step length
constexpr double damping = 0.5;

// Below this many records one band does all the work: threads would cost
// more than they save.
constexpr int bandedFrom = 1024;
constexpr int bandsWhenBanded = 8;

int threadSetting = 0;

// Two doubles in one vector register (SSE2 on every x86-64).
typedef double V2 __attribute__((vector_size(16)));
inline V2 load(const double* p) {
    V2 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void store(double* p, V2 v) { std::memcpy(p, &v, sizeof v); }
inline V2 vmax(V2 a, V2 b) {
#ifdef __SSE2__
    return __builtin_ia32_maxpd(a, b);
#else
    return a > b ? a : b;
#endif
}

struct Extremes {
    double max = 0.0;
    double min = startMin;
};

Extremes extremesOf(const double* values, int n) {
    Extremes e;
    for (int i = 0; i < n; ++i) {
        if (values[i] > e.max) e.max = values[i];
        if (values[i] < e.min) e.min = values[i];
    }
    return e;
}

// A coordinate whose values all coincide has nothing to stretch: it is left
// as it is rather than divided by zero.
bool stretchable(const Extremes& e) { return e.max > e.min && std::isfinite(e.max - e.min); }

// Writes values rescaled to [0, 1] to out (which may be values).
void rescaleInto(const double* values, int n, const Extremes& e, double* out) {
    if (!stretchable(e)) {
        std::copy(values, values + n, out);
        return;
    }
    const double range = e.max - e.min;
    for (int i = 0; i < n; ++i) out[i] = (values[i] - e.min) / range;
}

// Maps a layout coordinate back into the units of its base dimension.
void mapBack(const double* coords, int n, const Extremes& step, double initMin, double initMax,
             double* out) {
    const double initRange = initMax > initMin ? initMax - initMin : 0.0;
    const double base = initMax >= initMin ? initMin : 0.0;
    if (!stretchable(step)) {
        for (int i = 0; i < n; ++i) out[i] = base + 0.5 * initRange;
        return;
    }
    const double range = step.max - step.min;
    for (int i = 0; i < n; ++i) out[i] = base + (coords[i] - step.min) / range * initRange;
}

std::size_t budgetSetting = 0;

}  // namespace

std::size_t mdsMemoryBudget(std::size_t held) {
    const std::size_t available = availableMemory(held);
    return budgetSetting > 0 ? std::min(budgetSetting, available) : available;
}

void setMdsMemoryBudget(std::size_t bytes) { budgetSetting = bytes; }

void MDSLayout::setThreadCount(int count) { threadSetting = std::max(0, count); }

std::size_t MDSLayout::bytesNeeded(long long n) {
    if (n <= 0) return 0;
    const long double pairs = static_cast<long double>(n) * (n + 1) / 2;
    // Per record: positions, velocities, output, sources, force sums and
    // the band sums.
    const long double perRecord = 2.0L * 6 + 4.0L * bandsWhenBanded;
    const long double bytes = (pairs + perRecord * n) * sizeof(double);
    const long double most = static_cast<long double>(std::numeric_limits<std::size_t>::max());
    return bytes >= most ? std::numeric_limits<std::size_t>::max() : static_cast<std::size_t>(bytes);
}

MDSLayout::MDSLayout(int n, const double* const base[2]) {
    recordCount = std::max(0, n);
    n = recordCount;
    const std::size_t un = static_cast<std::size_t>(n);
    sourceCount = 2;
    memberWeight = 2;
    for (int k = 0; k < 2; ++k) sources[k].assign(base[k], base[k] + n);
    positions.resize(2 * un);  // filled by the rescaling below
    velocities.assign(2 * un, 0.0);
    stress = 0.0;
    target.assign(un * (un + 1) / 2, 0.0);

    const Extremes ex = extremesOf(base[0], n);
    const Extremes ey = extremesOf(base[1], n);
    initMaxX = ex.max;
    initMinX = ex.min;
    initMaxY = ey.max;
    initMinY = ey.min;
    rescaleInto(base[0], n, ex, positions.data());
    rescaleInto(base[1], n, ey, positions.data() + n);

    // Until the first step the plot is the base scatterplot itself.
    outX.assign(base[0], base[0] + n);
    outY.assign(base[1], base[1] + n);

    forceTarget.assign(2 * un, 0.0);
    forceDistance.assign(2 * un, 0.0);

    // Bands of rows with about equal numbers of pairs; fixed by n alone, so
    // the sums come out the same whatever the number of threads.
    bandCount = n >= bandedFrom ? bandsWhenBanded : 1;
    bandFirstRow.assign(static_cast<std::size_t>(bandCount) + 1, n);
    bandFirstRow[0] = 0;
    const double total = static_cast<double>(target.size());
    int row = 0;
    for (int b = 1; b < bandCount; ++b) {
        const double want = total * b / bandCount;
        while (row < n && static_cast<double>(rowStart(row)) < want) ++row;
        bandFirstRow[static_cast<std::size_t>(b)] = row;
    }
    bandSums.assign(static_cast<std::size_t>(bandCount) * 4, 0.0);
    bandForces.assign(static_cast<std::size_t>(bandCount) * 4 * un, 0.0);

    rebuildTarget();
    revision = 1;
}

void MDSLayout::rebuildTarget() {
    const int n = recordCount;
    double inverseRange[2] = {0.0, 0.0};
    for (int k = 0; k < 2; ++k) {
        const Extremes e = extremesOf(sources[k].data(), n);
        // A source without spread adds nothing to any distance.
        inverseRange[k] = stretchable(e) ? 1.0 / (e.max - e.min) : 0.0;
    }
    targetMax = 0.0;
    targetMin = startMin;
    const double* s0 = sources[0].data();
    const double* s1 = sources[1].data();
    double* t = target.data();
    for (int i = 0; i < n; ++i) {
        for (int j = i; j < n; ++j) {
            const double a = (s0[i] - s0[j]) * inverseRange[0];
            const double b = (s1[i] - s1[j]) * inverseRange[1];
            const double v = a * a + b * b;
            *t++ = v;
            if (v > targetMax) targetMax = v;
            if (v < targetMin) targetMin = v;
        }
    }
    if (targetMax > targetMin) {
        const double range = targetMax - targetMin;
        for (double& v : target) v = (v - targetMin) / range;
    }
    targetMax = 1.0;
    targetMin = 0.0;
    forcesValid = false;
    ++revision;
}

void MDSLayout::updateDimension(const double* values, bool add) {
    const int n = recordCount;
    const double sign = add ? 1.0 : -1.0;
    const Extremes e = extremesOf(values, n);
    const double spread = stretchable(e) ? e.max - e.min : 0.0;
    const double gain = spread > 0.0 ? sign / (spread * spread) : 0.0;
    const double weight = memberWeight;
    double* t = target.data();
    for (int i = 0; i < n; ++i) {
        const double vi = values[i];
        for (int j = i; j < n; ++j) {
            const double d = vi - values[j];
            const double v = gain * d * d + weight * *t;
            *t++ = v;
            if (v > targetMax) targetMax = v;
            if (v < targetMin) targetMin = v;
        }
    }
    if (targetMax > targetMin) {
        const double range = targetMax - targetMin;
        const double low = targetMin;
        for (double& v : target) v = (v - low) / range;
    }
    memberWeight += add ? 1 : -1;
    targetMax = 1.0;
    targetMin = 0.0;
    forcesValid = false;
    ++revision;
}

double MDSLayout::currentAt(int i, int j) const {
    // The distances the next step compares with the target: those of the
    // positions now, rescaled by their largest.
    const int n = recordCount;
    const double* x = positions.data();
    const double* y = positions.data() + n;
    double largest = 0.0;
    for (int a = 0; a < n; ++a) {
        for (int b = a; b < n; ++b) {
            const double r = (x[a] - x[b]) * (x[a] - x[b]) + (y[a] - y[b]) * (y[a] - y[b]);
            largest = std::max(largest, r);
        }
    }
    if (largest <= 0.0) return 0.0;
    const double r = (x[i] - x[j]) * (x[i] - x[j]) + (y[i] - y[j]) * (y[i] - y[j]);
    return r / largest;
}

void MDSLayout::passBand(int band, const double* coords, double scaleGuess) {
    const int n = recordCount;
    const std::size_t un = static_cast<std::size_t>(n);
    const int first = bandFirstRow[static_cast<std::size_t>(band)];
    const int last = bandFirstRow[static_cast<std::size_t>(band) + 1];
    double* sums = bandForces.data() + static_cast<std::size_t>(band) * 4 * un;
    double* tx = sums;           // sum_j t_ij (x_i - x_j)
    double* ty = sums + un;
    double* rx = sums + 2 * un;  // sum_j r_ij (x_i - x_j)
    double* ry = sums + 3 * un;
    for (int k = 0; k < 4; ++k) std::fill(sums + k * un + first, sums + k * un + un, 0.0);

    const double* x = coords;
    const double* y = coords + n;
    const V2 guess = {scaleGuess, scaleGuess};
    double maxDistance = 0.0, s0 = 0.0, s1 = 0.0, s2 = 0.0;
    for (int i = first; i < last; ++i) {
        const double* t = target.data() + rowStart(i) - static_cast<std::size_t>(i);  // t[j] = (i, j)
        // The diagonal: no distance, no force, only its target in the stress.
        s0 += t[i] * t[i];
        const double xi = x[i], yi = y[i];
        const V2 vxi = {xi, xi}, vyi = {yi, yi};
        V2 txi = {0, 0}, tyi = {0, 0}, rxi = {0, 0}, ryi = {0, 0};
        V2 m = {0, 0}, a0 = {0, 0}, a1 = {0, 0}, a2 = {0, 0};
        int j = i + 1;
        // Two pairs at a time in vector registers; the sums keep a fixed order.
        for (; j + 1 < n; j += 2) {
            const V2 dx = vxi - load(x + j);
            const V2 dy = vyi - load(y + j);
            const V2 r = dx * dx + dy * dy;
            const V2 tv = load(t + j);
            const V2 tdx = tv * dx, tdy = tv * dy, rdx = r * dx, rdy = r * dy;
            txi += tdx;
            tyi += tdy;
            rxi += rdx;
            ryi += rdy;
            store(tx + j, load(tx + j) - tdx);
            store(ty + j, load(ty + j) - tdy);
            store(rx + j, load(rx + j) - rdx);
            store(ry + j, load(ry + j) - rdy);
            m = vmax(r, m);
            const V2 d0 = r * guess - tv;
            a0 += d0 * d0;
            a1 += r * d0;
            a2 += r * r;
        }
        double txs = txi[0] + txi[1], tys = tyi[0] + tyi[1];
        double rxs = rxi[0] + rxi[1], rys = ryi[0] + ryi[1];
        double ms = std::max(m[0], m[1]);
        double b0 = a0[0] + a0[1], b1 = a1[0] + a1[1], b2 = a2[0] + a2[1];
        for (; j < n; ++j) {
            const double dx = xi - x[j];
            const double dy = yi - y[j];
            const double r = dx * dx + dy * dy;
            const double tv = t[j];
            txs += tv * dx;
            tys += tv * dy;
            rxs += r * dx;
            rys += r * dy;
            tx[j] -= tv * dx;
            ty[j] -= tv * dy;
            rx[j] -= r * dx;
            ry[j] -= r * dy;
            ms = std::max(ms, r);
            const double d0 = r * scaleGuess - tv;
            b0 += d0 * d0;
            b1 += r * d0;
            b2 += r * r;
        }
        tx[i] += txs;
        ty[i] += tys;
        rx[i] += rxs;
        ry[i] += rys;
        maxDistance = std::max(maxDistance, ms);
        s0 += b0;
        s1 += b1;
        s2 += b2;
    }
    double* out = bandSums.data() + static_cast<std::size_t>(band) * 4;
    out[0] = maxDistance;
    out[1] = s0;
    out[2] = s1;
    out[3] = s2;
}

MDSLayout::PassResult MDSLayout::pass(const double* coords, double scaleGuess) {
    int threads = threadSetting > 0 ? threadSetting
                                    : static_cast<int>(std::thread::hardware_concurrency());
    threads = std::clamp(threads, 1, bandCount);
    auto work = [&](int worker) {
        for (int b = worker; b < bandCount; b += threads) passBand(b, coords, scaleGuess);
    };
    if (threads == 1) {
        work(0);
    } else {
        std::vector<std::thread> helpers;
        int started = 1;
        try {
            helpers.reserve(static_cast<std::size_t>(threads) - 1);
            for (; started < threads; ++started) helpers.emplace_back(work, started);
        } catch (const std::exception&) {
            // No thread to be had: this one takes the missing workers' bands.
        }
        work(0);
        for (int w = started; w < threads; ++w) work(w);
        for (std::thread& h : helpers) h.join();
    }

    // Fold the bands in their fixed order.
    const std::size_t un = static_cast<std::size_t>(recordCount);
    PassResult result;
    for (int b = 0; b < bandCount; ++b) {
        const double* s = bandSums.data() + static_cast<std::size_t>(b) * 4;
        result.maxDistance = std::max(result.maxDistance, s[0]);
        result.s0 += s[1];
        result.s1 += s[2];
        result.s2 += s[3];
    }
    for (std::size_t i = 0; i < 2 * un; ++i) {
        const std::size_t row = i < un ? i : i - un;
        double ts = 0.0, rs = 0.0;
        for (int b = 0; b < bandCount; ++b) {
            // A band never touches the records above its first row, and the
            // bands start further down one after another.
            if (row < static_cast<std::size_t>(bandFirstRow[static_cast<std::size_t>(b)])) break;
            const double* sums = bandForces.data() + static_cast<std::size_t>(b) * 4 * un;
            ts += sums[i];
            rs += sums[2 * un + i];
        }
        forceTarget[i] = ts;
        forceDistance[i] = rs;
    }
    return result;
}

void MDSLayout::step() {
    const int n = recordCount;
    if (n <= 0) {
        stress = 0.0;
        return;
    }
    double* x = positions.data();
    double* y = positions.data() + n;

    const Extremes ex = extremesOf(x, n);
    const Extremes ey = extremesOf(y, n);
    stepMaxX = ex.max;
    stepMinX = ex.min;
    stepMaxY = ey.max;
    stepMinY = ey.min;

    // The pair sums of these positions come from the last step's pass unless
    // the target changed since. They are taken in the positions' own units:
    // stretching the layout over [0, 1]^2 scales each coordinate's sums by
    // the same factor, applied once per record below.
    if (!forcesValid) {
        const PassResult primed = pass(positions.data(), 0.0);
        distanceScale = primed.maxDistance > 0.0 ? 1.0 / primed.maxDistance : 0.0;
    }
    const double stretchX = stretchable(ex) ? 1.0 / (ex.max - ex.min) : 1.0;
    const double stretchY = stretchable(ey) ? 1.0 / (ey.max - ey.min) : 1.0;
    rescaleInto(x, n, ex, x);
    rescaleInto(y, n, ey, y);

    // Forces against the rescaled layout distances r / max r, then momentum and move.
    for (int i = 0; i < 2 * n; ++i) {
        const double stretch = i < n ? stretchX : stretchY;
        const double f = stretch * (forceTarget[i] - distanceScale * forceDistance[i]);
        double v = velocities[i] + forceGain * f;
        v *= damping;
        velocities[i] = v;
        positions[i] += forceGain * v;
    }

    // One pass over the moved layout gives its distances, the stress and the
    // pair sums of the next step.
    const double guess = distanceScale;
    const PassResult moved = pass(positions.data(), guess);
    currentMax = moved.maxDistance;
    currentMin = 0.0;
    const double k = currentMax > 0.0 ? 1.0 / currentMax : 0.0;
    // The stress was summed against the guess; correct it to the true scale.
    const double delta = k - guess;
    const double diff = moved.s0 + 2.0 * delta * moved.s1 + delta * delta * moved.s2;
    const double norm = k * k * moved.s2;
    stress = norm > 0.0 ? std::max(0.0, diff) / norm : 0.0;
    if (!std::isfinite(stress)) stress = 0.0;
    distanceScale = k;
    forcesValid = true;

    writeOutput();
    ++revision;
}

void MDSLayout::writeOutput() {
    const int n = recordCount;
    mapBack(positions.data(), n, Extremes{stepMaxX, stepMinX}, initMinX, initMaxX, outX.data());
    mapBack(positions.data() + n, n, Extremes{stepMaxY, stepMinY}, initMinY, initMaxY, outY.data());
}
