// The plot's compact per-record colour and selection against plain arrays.

#include <gtest/gtest.h>

#include <algorithm>
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
            selection.setRange(0, n / 2, d);
            for (int i = 0; i < n; ++i) {
                if (i >= n / 2) selection.set(i, i % 5 ? d : 1.0);
                plain[i] = i < n / 2 || i % 5 ? d : 1.0;
            }
        }
        for (int i = 0; i < n; ++i) {
            ASSERT_EQ(selection[i], plain[i]) << "round " << round << ", record " << i;
            ASSERT_EQ(selection.selected(i), plain[i] > fullySelected) << round;
        }
    }
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
        case 4: {
            const int count = static_cast<int>(random() % (n - i + 1));
            const bool none = random() % 3 == 0;
            colors.setRange(i, count, none ? nullptr : &c);
            for (int r = i; r < i + count; ++r) plain[r] = none ? std::nullopt : std::optional<Rgba>(c);
            break;
        }
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

// The paint order: a colour painted again moves up as a whole, making room
// in a full table keeps the order, and a restored order is taken as given.
TEST(RecordStateTest, ColoursKeepTheOrderTheyWerePaintedIn) {
    constexpr int n = 12;
    RecordColors colors;
    colors.reset(n, 3);
    const Rgba red{1, 0, 0, 1}, green{0, 1, 0, 1}, blue{0, 0, 1, 1}, grey{0.5, 0.5, 0.5, 1};
    // The colours of the table from the oldest paint to the latest.
    auto order = [&] {
        std::vector<std::size_t> k(colors.table().size() - 1);
        for (std::size_t i = 0; i < k.size(); ++i) k[i] = i + 1;
        std::sort(k.begin(), k.end(), [&](std::size_t a, std::size_t b) { return colors.paintedAt(a) < colors.paintedAt(b); });
        std::vector<Rgba> out;
        for (std::size_t i : k) out.push_back(colors.table()[i]);
        return out;
    };
    colors.setRange(0, 4, &red);
    colors.setRange(4, 4, &green);
    colors.setWhere(n, [](int r) { return r >= 8; }, blue);
    colors.set(0, red);  // red again: now the latest
    EXPECT_EQ(order(), (std::vector<Rgba>{green, blue, red}));
    colors.setRange(4, 4, &blue);  // green is left unused and goes for grey
    colors.set(11, grey);
    EXPECT_EQ(order(), (std::vector<Rgba>{red, blue, grey}));
    colors.repaint({grey, red});
    EXPECT_EQ(order(), (std::vector<Rgba>{blue, grey, red}));
}

}  // namespace
