#pragma once
// The MDS layout of one region: a force-directed layout of all records whose
// squared point distances, rescaled to [0, 1], approach the records' squared
// distances over the merged dimensions, also rescaled to [0, 1].
//
// Only the triangle i <= j of the symmetric target matrix is stored. The
// layout's own distance matrix is never stored: a step derives it from the
// positions in the same pass that reads the target, so one step streams the
// stored triangle once.

#include <cstddef>
#include <cstdint>
#include <vector>

struct MDSLayout {
    std::vector<double> positions;   // x of record i at i, y at n + i
    std::vector<double> velocities;  // same indexing
    std::vector<double> outX;        // the layout in the units of the base dimensions
    std::vector<double> outY;
    std::vector<double> sources[2];  // copies of the two base vectors
    std::vector<double> target;      // packed rows of the triangle i <= j
    double stress = 0.0;
    double targetMax = 1.0;
    double targetMin = 0.0;
    double currentMax = 0.0;
    double currentMin = 0.0;
    int sourceCount = 2;
    int recordCount = 0;
    int memberWeight = 2;
    double initMaxX = 0.0, initMaxY = 0.0, initMinX = 0.0, initMinY = 0.0;
    double stepMaxX = 0.0, stepMaxY = 0.0, stepMinX = 0.0, stepMinY = 0.0;
    // Bumped whenever the output may have changed; caches compare it with
    // the layout's id, which no other layout of this process shares.
    std::uint64_t revision = 0;
    const std::uint64_t id = nextId();

    struct Output {
        const double* outX;
        const double* outY;
    };

    // An empty layout with no records; its output may be filled directly.
    MDSLayout() = default;
    // Builds the layout from the base vectors base[0] (x) and base[1] (y),
    // n values each. Throws std::bad_alloc like any container.
    MDSLayout(int n, const double* const base[2]);

    // Target from the two sources alone; the layout's distances follow it.
    void rebuildTarget();
    // Merges (add) or takes out one dimension's normalised values.
    void updateDimension(const double* values, bool add);
    // One iteration: forces, momentum, move, new distances and stress.
    void step();
    Output layoutOutput() const { return {outX.data(), outY.data()}; }

    // Entry (i, j) of the target, either triangle.
    double targetAt(int i, int j) const { return target[pairIndex(i, j)]; }
    // Entry (i, j) of the layout's rescaled distances as the next step sees them.
    double currentAt(int i, int j) const;

    std::size_t pairIndex(int i, int j) const {
        if (i > j) {
            const int t = i;
            i = j;
            j = t;
        }
        return rowStart(i) + static_cast<std::size_t>(j - i);
    }
    std::size_t rowStart(int i) const {
        const std::size_t n = static_cast<std::size_t>(recordCount);
        const std::size_t k = static_cast<std::size_t>(i);
        return k * (2 * n + 1 - k) / 2;
    }

    // Bytes a layout of n records holds; compared with the memory budget first.
    static std::size_t bytesNeeded(long long n);

    // Worker threads of one step; 0 means as many as the machine has.
    // The results do not depend on it.
    static void setThreadCount(int count);

private:
    static std::uint64_t nextId() {
        static std::uint64_t last = 0;
        return ++last;
    }
    // Pair sums of one pass over the triangle with the positions of one
    // moment: raw distances r and their extreme, the stress sums measured
    // with the scale guess, and per record the target- and distance-weighted
    // coordinate differences the forces are built from.
    struct PassResult {
        double maxDistance = 0.0;
        double s0 = 0.0, s1 = 0.0, s2 = 0.0;
    };
    // coords holds the layout's coordinates, x then y.
    PassResult pass(const double* coords, double scaleGuess);
    void passBand(int band, const double* coords, double scaleGuess);
    void writeOutput();

    int bandCount = 1;
    std::vector<int> bandFirstRow;          // bandCount + 1 entries
    std::vector<double> bandSums;           // per band: max, s0, s1, s2
    std::vector<double> bandForces;         // per band: 4n partial sums
    std::vector<double> forceTarget;        // 2n: sum_j t_ij (p_i - p_j)
    std::vector<double> forceDistance;      // 2n: sum_j r_ij (p_i - p_j), r = |p_i - p_j|^2
    bool forcesValid = false;               // the sums above match positions and target
    double distanceScale = 0.0;             // 1 / largest raw distance of the sums above
};

// Bytes the MDS layouts may take together: the memory available to the
// process (base/memory.h) with the `held` bytes of the layouts it holds
// already, or less when set lower (0 restores that).
std::size_t mdsMemoryBudget(std::size_t held = 0);
void setMdsMemoryBudget(std::size_t bytes);
