// The MDS layout computation on its own: construction, target, members,
// one step by hand, degenerate input and independence from the thread count.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <vector>

#include "mds/mds_layout.h"

namespace {

MDSLayout makeLayout(const std::vector<double>& xs, const std::vector<double>& ys) {
    const double* base[2] = {xs.data(), ys.data()};
    return MDSLayout(static_cast<int>(xs.size()), base);
}

TEST(MdsLayout, StartsAsTheRescaledScatterplotWithCurrentEqualToTarget) {
    const std::vector<double> xs = {0.2, 0.6, 0.4, 0.8};
    const std::vector<double> ys = {0.5, 0.1, 0.9, 0.3};
    MDSLayout layout = makeLayout(xs, ys);
    for (int i = 0; i < 4; ++i) {
        EXPECT_DOUBLE_EQ(layout.positions[i], (xs[i] - 0.2) / 0.6);
        EXPECT_DOUBLE_EQ(layout.positions[4 + i], (ys[i] - 0.1) / 0.8);
        EXPECT_EQ(layout.outX[i], xs[i]) << "the MDS plot starts as the plain scatterplot";
        EXPECT_EQ(layout.outY[i], ys[i]);
        for (int j = 0; j < 4; ++j) EXPECT_NEAR(layout.currentAt(i, j), layout.targetAt(i, j), 1e-12);
    }
    EXPECT_EQ(layout.stress, 0.0);
    EXPECT_EQ(layout.memberWeight, 2);
    EXPECT_GT(layout.revision, 0u);
    // Target equals current: the steps move nothing beyond rounding.
    const std::vector<double> before = layout.positions;
    for (int k = 0; k < 20; ++k) layout.step();
    for (int i = 0; i < 8; ++i) EXPECT_NEAR(layout.positions[i], before[i], 1e-12);
    EXPECT_LT(layout.stress, 1e-20);
}

TEST(MdsLayout, TwoRecordsNeverMove) {
    MDSLayout layout = makeLayout({0.1, 0.9}, {0.3, 0.7});
    const std::vector<double> values = {0.0, 1.0};
    layout.updateDimension(values.data(), true);
    const std::vector<double> before = layout.positions;
    for (int k = 0; k < 30; ++k) layout.step();
    EXPECT_EQ(layout.positions, before);
    EXPECT_EQ(layout.stress, 0.0);
    EXPECT_EQ(layout.targetAt(0, 1), 1.0);
    EXPECT_EQ(layout.currentAt(0, 1), 1.0);
}

// Records A (0, 0), B (1, 0), C (0, 1); a third dimension (0, 0, 1) merged.
TEST(MdsLayout, HandComputedTargetMemberAndStep) {
    MDSLayout layout = makeLayout({0, 1, 0}, {0, 0, 1});
    // Squared distances 1, 1, 2 rescaled by their largest.
    EXPECT_DOUBLE_EQ(layout.targetAt(0, 1), 0.5);
    EXPECT_DOUBLE_EQ(layout.targetAt(0, 2), 0.5);
    EXPECT_DOUBLE_EQ(layout.targetAt(2, 1), 1.0);
    EXPECT_EQ(layout.targetAt(1, 1), 0.0);

    const std::vector<double> z = {0, 0, 1};
    layout.updateDimension(z.data(), true);
    // 2 * (0.5, 0.5, 1) + (0, 1, 1), rescaled by the new largest entry 3.
    EXPECT_DOUBLE_EQ(layout.targetAt(0, 1), 1.0 / 3);
    EXPECT_DOUBLE_EQ(layout.targetAt(0, 2), 2.0 / 3);
    EXPECT_DOUBLE_EQ(layout.targetAt(1, 2), 1.0);
    EXPECT_EQ(layout.memberWeight, 3);

    layout.step();
    // Forces: A (1/6, -1/6), B (-1/6, 0), C (0, 1/6); each point moves by
    // 0.05 * 0.5 * 0.05 times its force.
    const double e = 0.00125 / 6;
    const double x[3] = {e, 1 - e, 0}, y[3] = {-e, 0, 1 + e};
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(layout.positions[i], x[i], 1e-15);
        EXPECT_NEAR(layout.positions[3 + i], y[i], 1e-15);
        EXPECT_NEAR(layout.velocities[i], (x[i] - (i == 1 ? 1 : 0)) / 0.05, 1e-13);
        EXPECT_NEAR(layout.outX[i], x[i], 1e-15) << "the last step's extremes were 0 and 1";
    }
    const double r[3] = {(1 - 2 * e) * (1 - 2 * e) + e * e, e * e + (1 + 2 * e) * (1 + 2 * e),
                         2 + 2 * e * e};  // AB, AC, BC
    const double t[3] = {1.0 / 3, 2.0 / 3, 1.0};
    double diff = 0, norm = 0;
    for (int k = 0; k < 3; ++k) {
        const double c = r[k] / r[2];
        diff += (c - t[k]) * (c - t[k]);
        norm += c * c;
    }
    EXPECT_NEAR(layout.stress, diff / norm, 1e-12);
    EXPECT_NEAR(layout.currentMax, r[2], 1e-15);
    EXPECT_NEAR(layout.currentAt(0, 2), r[1] / r[2], 1e-15);
}

TEST(MdsLayout, AddThenRemoveRestoresTheWeightAndNearlyTheTarget) {
    MDSLayout layout = makeLayout({0.1, 0.5, 0.9, 0.3}, {0.2, 0.8, 0.4, 0.6});
    const MDSLayout before = layout;
    const std::vector<double> v = {0.9, 0.1, 0.5, 0.7};
    layout.updateDimension(v.data(), true);
    layout.updateDimension(v.data(), false);
    EXPECT_EQ(layout.memberWeight, before.memberWeight);
    for (std::size_t k = 0; k < layout.target.size(); ++k)
        EXPECT_NEAR(layout.target[k], before.target[k], 1e-9);
}

struct Degenerate {
    const char* name;
    std::vector<double> xs, ys, member;
};

TEST(MdsLayout, DegenerateInputStaysFinite) {
    const Degenerate cases[] = {
        {"no records", {}, {}, {}},
        {"one record", {0.4}, {0.6}, {0.2}},
        {"zero-range dimensions", {0.5, 0.5, 0.5}, {0.1, 0.5, 0.9}, {0.3, 0.3, 0.3}},
        {"all records at one point", {0.5, 0.5, 0.5}, {0.2, 0.2, 0.2}, {0.7, 0.7, 0.7}},
        {"two records", {0.1, 0.9}, {0.2, 0.2}, {0.0, 1.0}},
    };
    for (const Degenerate& c : cases) {
        SCOPED_TRACE(c.name);
        MDSLayout layout = makeLayout(c.xs, c.ys);
        layout.updateDimension(c.member.data(), true);
        for (int k = 0; k < 5; ++k) layout.step();
        layout.updateDimension(c.member.data(), false);
        layout.step();
        EXPECT_TRUE(std::isfinite(layout.stress));
        for (double v : layout.target) EXPECT_TRUE(std::isfinite(v));
        for (std::size_t i = 0; i < c.xs.size(); ++i) {
            EXPECT_TRUE(std::isfinite(layout.outX[i]) && std::isfinite(layout.outY[i]));
            EXPECT_TRUE(std::isfinite(layout.positions[i]));
        }
    }
    // Points that coincide stay where their values put them.
    MDSLayout still = makeLayout({0.5, 0.5}, {0.2, 0.2});
    still.step();
    EXPECT_EQ(still.outX, (std::vector<double>{0.5, 0.5}));
    EXPECT_EQ(still.outY, (std::vector<double>{0.2, 0.2}));
}

TEST(MdsLayout, ResultsDoNotDependOnTheThreadCount) {
    // Enough records for the rows to be split into bands.
    const int n = 1100;
    std::vector<double> xs(n), ys(n), z(n);
    for (int i = 0; i < n; ++i) {
        xs[i] = std::fmod(i * 0.618034, 1.0);
        ys[i] = std::fmod(i * 0.414214, 1.0);
        z[i] = std::fmod(i * 0.732051, 1.0);
    }
    std::vector<std::vector<double>> positions;
    std::vector<double> stresses;
    for (int threads : {1, 2, 3}) {
        MDSLayout::setThreadCount(threads);
        MDSLayout layout = makeLayout(xs, ys);
        layout.updateDimension(z.data(), true);
        for (int k = 0; k < 3; ++k) layout.step();
        positions.push_back(layout.positions);
        stresses.push_back(layout.stress);
    }
    MDSLayout::setThreadCount(0);
    EXPECT_GT(stresses[0], 0.0);
    EXPECT_EQ(positions[1], positions[0]);
    EXPECT_EQ(positions[2], positions[0]);
    EXPECT_EQ(stresses[1], stresses[0]);
    EXPECT_EQ(stresses[2], stresses[0]);
}

TEST(MdsLayout, MemoryNeedGrowsWithTheTriangle) {
    EXPECT_EQ(MDSLayout::bytesNeeded(0), 0u);
    // 10,000 records: one triangle of doubles, about 400 MB, plus per-record arrays.
    const std::size_t ten = MDSLayout::bytesNeeded(10000);
    EXPECT_GE(ten, 10000ull * 10001 / 2 * 8);
    EXPECT_LT(ten, 10000ull * 10001 / 2 * 8 + 10000ull * 8 * 64);
    EXPECT_GT(MDSLayout::bytesNeeded(2000000000LL), std::size_t{1} << 62);
    const std::size_t half = static_cast<std::size_t>(sysconf(_SC_PHYS_PAGES)) / 2 *
                             static_cast<std::size_t>(sysconf(_SC_PAGE_SIZE));
    EXPECT_EQ(mdsMemoryBudget(), half);
    setMdsMemoryBudget(half * 2);
    EXPECT_EQ(mdsMemoryBudget(), half) << "never more than half the memory";
    setMdsMemoryBudget(1000);
    EXPECT_EQ(mdsMemoryBudget(), 1000u);
    setMdsMemoryBudget(0);
}

}  // namespace
