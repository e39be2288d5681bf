// The plot's compact per-record colour and selection against plain arrays.

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <random>
#include <vector>

#include "plot/record_state.h"

namespace {

TEST(RecordStateTest, SelectionFoldsGiveTheDoublesPlainArraysGive) {
    // New degrees fall between old ones, so codes are renumbered; over the
    // run far more than 256 arrive while only a few stay in use.
    constexpr int n = 300;
    RecordSelection selection;
    selection.reset(n);
    std::vector<double> plain(n, 1.0);
    std::vector<unsigned char> passed(n);
    std::mt19937 random(11);
    const auto degree = [&](int round) {
        const int pick = static_cast<int>(random() % 4);
        return pick == 0 ? 1.0 : pick == 1 ? fullySelected : (random() % 10000) / 9999.0 + round * 1e-9;
    };
    for (int round = 0; round < 400; ++round) {
        for (unsigned char& p : passed) p = random() % 2;
        const Membership m{passed.data(), degree(round), degree(round)};
        const int count = n - round % 7;  // the records beyond stay as they are
        const bool unite = round % 3 == 0;
        if (unite)
            selection.unite(count, m);
        else
            selection.intersect(count, m);
        for (int i = 0; i < count; ++i) plain[i] = unite ? std::max(plain[i], m[i]) : std::min(plain[i], m[i]);
        if (round % 10 == 9) {
            const double d = degree(round);
            for (int i = 0; i < n; ++i) selection.set(i, plain[i] = i % 5 ? d : 1.0);
        }
        for (int i = 0; i < n; ++i) {
            ASSERT_EQ(selection[i], plain[i]) << "round " << round << ", record " << i;
            ASSERT_EQ(selection.selected(i), plain[i] > fullySelected) << round;
        }
    }
}

TEST(RecordStateTest, StoredFormsAreCheckedBeforeTheyAreTaken) {
    RecordSelection selection;
    selection.reset(3);
    const struct {
        const char* name;
        std::vector<unsigned char> codes;
        std::vector<double> levels;
        bool taken;
    } cases[] = {
        {"valid", {0, 1, 1}, {0.23, 1.0}, true},
        {"wrong size", {0, 1}, {0.23, 1.0}, false},
        {"code without degree", {0, 2, 1}, {0.23, 1.0}, false},
        {"descending", {0, 1, 1}, {1.0, 0.23}, false},
        {"not a number", {0, 0, 0}, {NAN}, false},
        {"no degrees", {0, 0, 0}, {}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(selection.assign(c.codes.data(), c.codes.size(), c.levels), c.taken) << c.name;
        EXPECT_EQ(selection[0], 0.23) << c.name;  // a refused form leaves the valid one
        EXPECT_EQ(selection[2], 1.0) << c.name;
    }
    RecordColors colors;
    colors.reset(2);
    const std::uint16_t valid[2] = {1, 0}, beyond[2] = {2, 0};
    EXPECT_TRUE(colors.assign(valid, 2, {Rgba{}, Rgba{1, 0, 0, 1}}));
    EXPECT_FALSE(colors.assign(beyond, 2, {Rgba{}, Rgba{0, 1, 0, 1}}));
    EXPECT_EQ(colors[0], (Rgba{1, 0, 0, 1}));
    EXPECT_FALSE(colors.has(1));
}

TEST(RecordStateTest, ColoursGiveBackWhatWasSetThroughCompactionAndFallBack) {
    // Four colours as indices: unused ones are dropped to make room, and a
    // fifth in use turns to one full colour per record.
    constexpr int n = 40;
    RecordColors colors;
    colors.reset(n, 4);
    std::vector<std::optional<Rgba>> plain(n);
    std::mt19937 random(5);
    bool fellBack = false;
    for (int round = 0; round < 2000; ++round) {
        const Rgba c{(random() % 6) / 5.0, 0.5, 0.25, 1.0};
        const int i = static_cast<int>(random() % n);
        switch (random() % 20) {
        case 0: colors.setAll(c); plain.assign(n, c); break;
        case 1: colors.clearAll(); plain.assign(n, std::nullopt); break;
        case 2: colors.clear(i); plain[i].reset(); break;
        case 3:
            colors.setWhere(n / 2, [](int r) { return r % 3 == 0; }, c);
            for (int r = 0; r < n / 2; r += 3) plain[r] = c;
            break;
        default: colors.set(i, c); plain[i] = c;
        }
        fellBack = fellBack || colors.fallsBack();
        for (int r = 0; r < n; ++r) {
            ASSERT_EQ(colors.has(r), plain[r].has_value()) << round;
            if (plain[r]) {
                ASSERT_EQ(colors[r], *plain[r]) << round;
            }
        }
    }
    EXPECT_TRUE(fellBack);
    colors.setAll({1, 1, 1, 1});
    EXPECT_TRUE(colors.anyWith(n));
    EXPECT_FALSE(colors.anyWithout(n));
    EXPECT_TRUE(colors.anyWithout(n + 1));  // beyond the records: without
    colors.clear(3);
    EXPECT_TRUE(colors.anyWithout(4));
    EXPECT_FALSE(colors.anyWithout(3));
}

}  // namespace
