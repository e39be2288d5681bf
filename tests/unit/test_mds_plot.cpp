// A region's MDS plot through its axis, the indicators and the markers.

#include <algorithm>
#include <functional>

#include "mds/mds_layout.h"
#include "test_support.h"

namespace {

class MdsPlotTest : public InteractionTest {
protected:
    void TearDown() override {
        setMdsMemoryBudget(0);
        InteractionTest::TearDown();
    }
    std::vector<MDSShape*> markers() const {
        std::vector<MDSShape*> out;
        for (auto& s : shapes)
            if (s->type() == MdsMarkerType && !s->removed) out.push_back(static_cast<MDSShape*>(s.get()));
        return out;
    }
    Shape* indicator(int i) { return shapes[static_cast<std::size_t>(i)].get(); }
    // ALT drag of axis i's indicator, dropped at view x u.
    void dropIndicator(int i, double u) {
        now += 1000;
        modifiers = ModAlt;
        press(LeftButton, px(axis(i).position), py(1.0 / 30));
        release(LeftButton, px(u), py(1.0 / 30));
        modifiers = 0;
        indicator(i)->selected = false;
    }
    double middle(int r) { return (axis(r).position + axis(r + 1).position) / 2; }
    std::vector<PCShowAxis*> members(int r) {
        return {axis(r).mergedAxes->begin(), axis(r).mergedAxes->begin() + axis(r).mergedCount};
    }
    int weight(int r) { return axis(r).mdsLayout->memberWeight; }
};

TEST_F(MdsPlotTest, IterationCountsZeroToFiveHundredThenStops) {
    ASSERT_TRUE(axis(1).startMds(&axis(1), &axis(2)));
    axis(1).mdsVisible = true;
    for (int k = 0; k < 520; ++k) idleAt(now + 10);
    const std::vector<std::string> lines = traceLines();
    ASSERT_EQ(lines.size(), 502u);
    EXPECT_EQ(lines[0], "MDS stress  0");
    for (int k = 0; k <= 500; ++k)
        EXPECT_EQ(lines[k + 1].rfind("ShowAxis " + std::to_string(axis(1).serial) + "  frame  " +
                                         std::to_string(k) + "    MDS stress  ", 0),
                  0u);
    EXPECT_FALSE(axis(1).mdsRunning);
    clearTrace();
    idleAt(now + 10);
    EXPECT_EQ(redraws, 0) << "a settled plot asks for no frames";
}

TEST_F(MdsPlotTest, MemberOperationsRestartOnlyWhenTheLayoutChanges) {
    ASSERT_TRUE(axis(0).startMds(&axis(0), &axis(1)));
    axis(0).enableMdsMember(&axis(2));
    axis(0).removeMdsMember(&axis(1));
    EXPECT_EQ(traceLines().back(), " error remove MDS SHOWAXIS");
    EXPECT_EQ(traceLines().size(), 3u);
    axis(0).addMdsMember(&axis(2));
    axis(0).addMdsMember(&axis(3));
    struct Step {
        std::function<void()> op;
        int weight;
        bool restarts;
    } const steps[] = {
        {[&] { axis(0).disableMdsMember(&axis(2)); }, 3, true},
        {[&] { axis(0).disableMdsMember(&axis(2)); }, 3, false},  // already off
        {[&] { axis(0).enableMdsMember(&axis(3)); }, 3, false},   // already on
        {[&] { axis(0).removeMdsMember(&axis(2)); }, 3, false},   // inactive: list only
        // Not among the added members: the base pair stays as it is.
        {[&] { axis(0).disableMdsMember(&axis(0)); }, 3, false},
        {[&] { axis(0).removeMdsMember(&axis(1)); }, 3, false},
        {[&] { axis(0).removeMdsMember(&axis(3)); }, 2, true},
    };
    for (const Step& s : steps) {
        axis(0).mdsRunning = false;
        axis(0).mdsIteration = 9;
        s.op();
        EXPECT_EQ(weight(0), s.weight);
        EXPECT_EQ(axis(0).mdsRunning, s.restarts);
        EXPECT_EQ(axis(0).mdsIteration, s.restarts ? 0 : 9);
    }
    EXPECT_EQ(members(0), (std::vector<PCShowAxis*>{&axis(0), &axis(1)}));
    EXPECT_EQ((*axis(0).mergedFlags)[0] + (*axis(0).mergedFlags)[1], 2);
}

TEST_F(MdsPlotTest, DropRules) {
    dropIndicator(1, middle(1));  // right of its own axis: refused
    EXPECT_EQ(axis(1).mdsLayout, nullptr);
    EXPECT_FALSE(axis(1).scatterOn);
    dropIndicator(2, middle(1));  // left of its own axis: the plot opens
    ASSERT_NE(axis(1).mdsLayout, nullptr);
    EXPECT_TRUE(axis(1).scatterOn && axis(1).scatterTransition && axis(1).mdsVisible);
    EXPECT_TRUE(markers().empty()) << "a base dimension is no member twice";
    dropIndicator(0, middle(1));
    dropIndicator(0, middle(1));  // duplicate
    dropIndicator(3, middle(1));
    EXPECT_EQ(members(1), (std::vector<PCShowAxis*>{&axis(1), &axis(2), &axis(0), &axis(3)}));
    EXPECT_EQ(markers().size(), 2u);
    EXPECT_EQ(weight(1), 4);
    axis(2).position = px(axis(2).position) / static_cast<double>(plot->viewportWidth);
    dropIndicator(3, axis(2).position);  // exactly on an axis
    dropIndicator(3, 0.97);              // outside every region
    EXPECT_EQ(axis(2).mdsLayout, nullptr);
    EXPECT_EQ(markers().size(), 2u);
}

TEST_F(MdsPlotTest, MarkersFollowThePlacementRule) {
    dropIndicator(0, middle(2));
    const double a = axis(2).position, b = axis(3).position;
    MDSShape* first = markers()[0];
    EXPECT_DOUBLE_EQ(first->x, a + (b - a) / 4);
    dropIndicator(1, middle(2));
    EXPECT_DOUBLE_EQ(first->place(), a + (b - a) / 5);
    EXPECT_DOUBLE_EQ(markers()[1]->place(), a + 2 * (b - a) / 5);
    axis(3).position = 0.99;
    EXPECT_DOUBLE_EQ(first->place(), a + (0.99 - a) / 5) << "markers follow the axes";
    axis(2).removeMdsMember(&axis(0));
    EXPECT_DOUBLE_EQ(first->place(), a) << "a member not found stands on the left axis";
}

TEST_F(MdsPlotTest, DiscHitTestsFollowTheDrawnDiscInAWideWindow) {
    dropIndicator(0, middle(2));
    const std::pair<Shape*, double> discs[] = {{markers()[0], markers()[0]->x},
                                               {indicator(1), axis(1).position}};
    const double r = 0.02, v = 1.0 / 30;
    for (double ratio : {500.0 / 1180.0, 0.2}) {
        aspectRatio = ratio;
        for (const auto& [shape, cx] : discs) {
            // Pixels are whole: well inside and well outside the rim.
            EXPECT_TRUE(shape->hitTest(px(cx + 0.8 * r * ratio), py(v)));
            EXPECT_FALSE(shape->hitTest(px(cx + 1.3 * r * ratio), py(v)));
            EXPECT_TRUE(shape->hitTest(px(cx), py(v + 0.8 * r)));
            EXPECT_FALSE(shape->hitTest(px(cx), py(v + 1.3 * r)));
        }
    }
}

TEST_F(MdsPlotTest, MarkerClicksSwitchTheMemberAndAltDragRemovesIt) {
    dropIndicator(3, middle(0));
    dropIndicator(2, middle(0));
    MDSShape* marker = markers()[0];
    const int x = px(marker->place()), y = py(1.0 / 30);
    for (const bool off : {true, false}) {
        now += 1000;
        click(LeftButton, x, y);
        EXPECT_EQ(marker->selected, off);
        EXPECT_EQ((*axis(0).mergedFlags)[2], off ? 0 : 1);
        EXPECT_EQ(weight(0), off ? 3 : 4);
    }
    now += 1000;
    modifiers = ModAlt;
    const std::size_t standing = markers().size();
    press(LeftButton, x, y);
    onMouseDrag(x, py(0.5));
    release(LeftButton, x, py(0.5));
    // A removed marker leaves the shapes at the release.
    EXPECT_EQ(markers().size(), standing - 1) << "the marker was not removed";
    EXPECT_EQ(members(0), (std::vector<PCShowAxis*>{&axis(0), &axis(1), &axis(2)}));
    EXPECT_EQ(weight(0), 3) << "switched off by the press, then removed";
}

TEST_F(MdsPlotTest, RefusedAboveTheMemoryBudget) {
    setMdsMemoryBudget(MDSLayout::bytesNeeded(plot->recordCount) - 1);
    dropIndicator(0, middle(2));
    const std::vector<std::string> lines = traceLines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
        return l.rfind(" MDS plot refused: 5 records need ", 0) == 0;
    }));
    EXPECT_EQ(axis(2).mdsLayout, nullptr);
    EXPECT_FALSE(axis(2).mdsVisible);
    EXPECT_TRUE(axis(2).scatterOn) << "the plain scatterplot opens";
    EXPECT_TRUE(markers().empty());
    // Room for one layout: a second region's is refused while the first stands.
    setMdsMemoryBudget(MDSLayout::bytesNeeded(plot->recordCount));
    onKey('m', regionX(1), regionY());
    onKey('m', regionX(0), regionY());
    EXPECT_NE(axis(1).mdsLayout, nullptr);
    EXPECT_EQ(axis(0).mdsLayout, nullptr);
}

// Every way the axes go while the iteration runs and markers stand; the
// sanitizer build catches any read of a freed axis.
TEST_F(MdsPlotTest, NothingPointsAtFreedAxes) {
    const std::function<void()> rebuilds[] = {
        [this] {  // N takes only its own region's markers
            onKey('n', regionX(0), regionY());
            ASSERT_EQ(markers().size(), 1u);
            EXPECT_EQ(markers()[0]->mdsAxis, &axis(2));
            onKey('r', 0, 0);
        },
        [this] { loadTable(testsupport::smallTable, "again.txt"); },
        [this] {  // a refused file keeps the view; closing the table then frees its axes
            const std::size_t kept = markers().size();
            std::ofstream(tempDir / "wide.txt") << "1 1000 1000 0\n";
            setDataFileName((tempDir / "wide.txt").c_str());
            loadDataFile();
            EXPECT_EQ(markers().size(), kept);
            dataFileName[0] = '\0';
            loadDataFile();
        },
    };
    for (const auto& rebuild : rebuilds) {
        if (!plot || plot->axisCount == 0) loadTable(testsupport::smallTable);
        dropIndicator(2, middle(0));  // opens with a transition running
        dropIndicator(3, middle(0));  // dropped during the transition
        dropIndicator(0, middle(2));
        idleAt(now + 10);
        rebuild();
        EXPECT_TRUE(markers().empty());
        for (int k = 0; k < 3; ++k) idleAt(now + 10);
        for (auto& s : shapes) s->hitTest(10, 10);
    }
}

}  // namespace
