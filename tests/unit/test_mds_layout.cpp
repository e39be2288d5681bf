// The MDS layout computation on its own.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <vector>

#include "mds/mds_layout.h"

namespace {

using Values = std::vector<double>;

MDSLayout makeLayout(const Values& xs, const Values& ys) {
    const double* base[2] = {xs.data(), ys.data()};
    return MDSLayout(static_cast<int>(xs.size()), base);
}

TEST(MdsLayout, StartsAsTheRescaledScatterplotAndStaysWhileCurrentEqualsTarget) {
    const Values xs = {0.2, 0.6, 0.4, 0.8}, ys = {0.5, 0.1, 0.9, 0.3};
    MDSLayout layout = makeLayout(xs, ys);
    for (int i = 0; i < 4; ++i) {
        EXPECT_DOUBLE_EQ(layout.positions[i], (xs[i] - 0.2) / 0.6);
        EXPECT_DOUBLE_EQ(layout.positions[4 + i], (ys[i] - 0.1) / 0.8);
        EXPECT_EQ(layout.outX[i], xs[i]) << "the plot starts as the plain scatterplot";
        EXPECT_EQ(layout.outY[i], ys[i]);
        for (int j = 0; j < 4; ++j) EXPECT_NEAR(layout.currentAt(i, j), layout.targetAt(i, j), 1e-12);
    }
    const Values before = layout.positions;
    for (int k = 0; k < 20; ++k) layout.step();
    for (int i = 0; i < 8; ++i) EXPECT_NEAR(layout.positions[i], before[i], 1e-12);
    EXPECT_LT(layout.stress, 1e-20);

    // Two records at distinct points never move, whatever is merged.
    MDSLayout two = makeLayout({0.1, 0.9}, {0.3, 0.7});
    const Values v = {0.0, 1.0};
    two.updateDimension(v.data(), true);
    const Values start = two.positions;
    for (int k = 0; k < 30; ++k) two.step();
    EXPECT_EQ(two.positions, start);
    EXPECT_EQ(two.stress, 0.0);
}

// Records A (0, 0), B (1, 0), C (0, 1); a third dimension (0, 0, 1) merged.
TEST(MdsLayout, HandComputedTargetMemberAndStep) {
    MDSLayout layout = makeLayout({0, 1, 0}, {0, 0, 1});
    EXPECT_DOUBLE_EQ(layout.targetAt(0, 1), 0.5);  // squared distances 1, 1, 2 over 2
    EXPECT_DOUBLE_EQ(layout.targetAt(0, 2), 0.5);
    EXPECT_DOUBLE_EQ(layout.targetAt(2, 1), 1.0);
    const Values z = {0, 0, 1};
    layout.updateDimension(z.data(), true);
    // 2 * (0.5, 0.5, 1) + (0, 1, 1), over the new largest entry 3.
    const double t[3] = {1.0 / 3, 2.0 / 3, 1.0};  // AB, AC, BC
    EXPECT_DOUBLE_EQ(layout.targetAt(0, 1), t[0]);
    EXPECT_DOUBLE_EQ(layout.targetAt(0, 2), t[1]);
    EXPECT_DOUBLE_EQ(layout.targetAt(1, 2), t[2]);
    EXPECT_EQ(layout.memberWeight, 3);

    layout.step();
    // Forces A (1/6, -1/6), B (-1/6, 0), C (0, 1/6); a point moves by
    // 0.05 * 0.5 * 0.05 times its force.
    const double e = 0.00125 / 6;
    const double x[3] = {e, 1 - e, 0}, y[3] = {-e, 0, 1 + e};
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(layout.positions[i], x[i], 1e-15);
        EXPECT_NEAR(layout.positions[3 + i], y[i], 1e-15);
        EXPECT_NEAR(layout.outX[i], x[i], 1e-15) << "the step's extremes were 0 and 1";
    }
    const double r[3] = {(1 - 2 * e) * (1 - 2 * e) + e * e, e * e + (1 + 2 * e) * (1 + 2 * e),
                         2 + 2 * e * e};
    double diff = 0, norm = 0;
    for (int k = 0; k < 3; ++k) {
        diff += (r[k] / r[2] - t[k]) * (r[k] / r[2] - t[k]);
        norm += (r[k] / r[2]) * (r[k] / r[2]);
    }
    EXPECT_NEAR(layout.stress, diff / norm, 1e-12);
    EXPECT_NEAR(layout.currentAt(0, 2), r[1] / r[2], 1e-15);
}

TEST(MdsLayout, AddThenTakeOutRestoresTheWeightAndNearlyTheTarget) {
    MDSLayout layout = makeLayout({0.1, 0.5, 0.9, 0.3}, {0.2, 0.8, 0.4, 0.6});
    const Values before = layout.target;
    const Values v = {0.9, 0.1, 0.5, 0.7};
    layout.updateDimension(v.data(), true);
    EXPECT_EQ(layout.memberWeight, 3);
    layout.updateDimension(v.data(), false);
    EXPECT_EQ(layout.memberWeight, 2);
    for (std::size_t k = 0; k < before.size(); ++k) EXPECT_NEAR(layout.target[k], before[k], 1e-9);
}

TEST(MdsLayout, DegenerateInputStaysFinite) {
    struct Case {
        const char* name;
        Values xs, ys, member;
    } const cases[] = {
        {"no records", {}, {}, {}},
        {"one record", {0.4}, {0.6}, {0.2}},
        {"zero-range dimensions", {0.5, 0.5, 0.5}, {0.1, 0.5, 0.9}, {0.3, 0.3, 0.3}},
        {"all at one point", {0.5, 0.5, 0.5}, {0.2, 0.2, 0.2}, {0.7, 0.7, 0.7}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MDSLayout layout = makeLayout(c.xs, c.ys);
        layout.updateDimension(c.member.data(), true);
        for (int k = 0; k < 3; ++k) layout.step();
        layout.updateDimension(c.member.data(), false);
        layout.step();
        EXPECT_TRUE(std::isfinite(layout.stress));
        for (double v : layout.target) EXPECT_TRUE(std::isfinite(v));
        for (std::size_t i = 0; i < c.xs.size(); ++i)
            EXPECT_EQ(layout.outX[i], c.xs[i]) << "a coordinate without spread keeps its value";
    }
}

TEST(MdsLayout, ResultsDoNotDependOnTheThreadCount) {
    const int n = 1100;  // enough records for the rows to be split into bands
    Values xs(n), ys(n), z(n);
    for (int i = 0; i < n; ++i) {
        xs[i] = std::fmod(i * 0.618034, 1.0);
        ys[i] = std::fmod(i * 0.414214, 1.0);
        z[i] = std::fmod(i * 0.732051, 1.0);
    }
    std::vector<MDSLayout> runs;
    for (int threads : {1, 2, 3}) {
        MDSLayout::setThreadCount(threads);
        runs.push_back(makeLayout(xs, ys));
        runs.back().updateDimension(z.data(), true);
        for (int k = 0; k < 3; ++k) runs.back().step();
    }
    MDSLayout::setThreadCount(0);
    EXPECT_GT(runs[0].stress, 0.0);
    for (int k : {1, 2}) {
        EXPECT_EQ(runs[k].positions, runs[0].positions);
        EXPECT_EQ(runs[k].stress, runs[0].stress);
    }
}

TEST(MdsLayout, MemoryIsOneTriangleAndTheBudgetAtMostHalfTheMachine) {
    const std::size_t triangle = 10000ull * 10001 / 2 * 8;  // about 400 MB
    EXPECT_NEAR(MDSLayout::bytesNeeded(10000), triangle, triangle / 100.0);
    const std::size_t half = static_cast<std::size_t>(sysconf(_SC_PHYS_PAGES)) / 2 *
                             static_cast<std::size_t>(sysconf(_SC_PAGE_SIZE));
    EXPECT_EQ(mdsMemoryBudget(), half);
    setMdsMemoryBudget(half * 2);
    EXPECT_EQ(mdsMemoryBudget(), half);
    setMdsMemoryBudget(0);
}

}  // namespace
