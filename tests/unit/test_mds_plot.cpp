// A region's MDS plot through its axis, the indicators and the markers:
// start, members, frames, drops, markers, shutdown and freed axes.

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
    Shape* indicator(int i) {
        for (auto& s : shapes)
            if (s->type() == AxisIndicatorType && static_cast<AxisMDSShape*>(s.get())->axis == &axis(i))
                return s.get();
        return nullptr;
    }
    // ALT drag of axis i's indicator, dropped at view x u.
    void dropIndicator(int i, double u) {
        now += 1000;
        modifiers = ModAlt;
        press(LeftButton, px(axis(i).position), py(1.0 / 30));
        onMouseDrag(px(u), py(1.0 / 30));
        release(LeftButton, px(u), py(1.0 / 30));
        modifiers = 0;
        indicator(i)->selected = false;
    }
    bool tracedStart(const std::string& prefix) const {
        for (const auto& l : traceLines())
            if (l.rfind(prefix, 0) == 0) return true;
        return false;
    }
    double regionMiddle(int r) { return (axis(r).position + axis(r + 1).position) / 2; }
    std::vector<int> frameNumbers() const {
        std::vector<int> out;
        for (const auto& l : traceLines())
            if (l.rfind("ShowAxis ", 0) == 0) out.push_back(std::stoi(l.substr(l.find("frame  ") + 7)));
        return out;
    }
    std::vector<PCShowAxis*> members(int r) {
        return {axis(r).mergedAxes->begin(), axis(r).mergedAxes->begin() + axis(r).mergedCount};
    }
};

TEST_F(MdsPlotTest, IterationCountsZeroToFiveHundredThenStops) {
    ASSERT_TRUE(axis(1).startMds(&axis(1), &axis(2)));
    axis(1).mdsVisible = true;
    EXPECT_EQ(traceLines(), (std::vector<std::string>{"MDS stress  0"}));
    for (int k = 0; k < 520; ++k) idleAt(now + 10);
    const std::vector<int> frames = frameNumbers();
    ASSERT_EQ(frames.size(), 501u);
    for (int k = 0; k <= 500; ++k) EXPECT_EQ(frames[k], k);
    EXPECT_FALSE(axis(1).mdsRunning);
    EXPECT_EQ(traceLines()[1].rfind("ShowAxis " + std::to_string(axis(1).serial) + "  frame  0    MDS stress  ", 0), 0u);
    // A settled plot asks for no frames.
    clearTrace();
    idleAt(now + 10);
    EXPECT_EQ(redraws, 0);
}

TEST_F(MdsPlotTest, MemberOperationsRestartOnlyWhenTheLayoutChanges) {
    ASSERT_TRUE(axis(0).startMds(&axis(0), &axis(1)));
    MDSLayout& layout = *axis(0).mdsLayout;
    axis(0).addMdsMember(&axis(2));
    axis(0).addMdsMember(&axis(3));
    EXPECT_EQ(layout.memberWeight, 4);
    axis(0).mdsRunning = false;
    axis(0).mdsIteration = 9;
    axis(0).disableMdsMember(&axis(2));
    EXPECT_EQ(layout.memberWeight, 3);
    EXPECT_EQ((*axis(0).mergedFlags)[2], 0);
    EXPECT_TRUE(axis(0).mdsRunning);
    EXPECT_EQ(axis(0).mdsIteration, 0);
    axis(0).disableMdsMember(&axis(2));  // already off: nothing taken out twice
    EXPECT_EQ(layout.memberWeight, 3);

    axis(0).mdsRunning = false;
    axis(0).mdsIteration = 9;
    axis(0).removeMdsMember(&axis(2));  // inactive: only the list changes
    EXPECT_EQ(members(0), (std::vector<PCShowAxis*>{&axis(0), &axis(1), &axis(3)}));
    EXPECT_EQ((*axis(0).mergedFlags)[2], 1) << "the flags move with their members";
    EXPECT_FALSE(axis(0).mdsRunning);
    EXPECT_EQ(axis(0).mdsIteration, 9);
    EXPECT_EQ(layout.memberWeight, 3);

    axis(0).enableMdsMember(&axis(3));  // already on: not merged twice
    EXPECT_EQ(layout.memberWeight, 3);
    axis(0).removeMdsMember(&axis(3));
    EXPECT_EQ(layout.memberWeight, 2);
    EXPECT_TRUE(axis(0).mdsRunning);
}

TEST_F(MdsPlotTest, TheBasePairCannotBeSwitchedOffOrRemoved) {
    ASSERT_TRUE(axis(0).startMds(&axis(0), &axis(1)));
    clearTrace();
    axis(0).enableMdsMember(&axis(0));
    axis(0).removeMdsMember(&axis(1));
    EXPECT_EQ(traceLines(), (std::vector<std::string>{" error remove MDS SHOWAXIS",
                                                      " error remove MDS SHOWAXIS"}));
    axis(0).addMdsMember(&axis(2));
    // A member search that fails leaves the base pair alone.
    for (PCShowAxis* a : {&axis(0), &axis(1), &axis(3)}) {
        axis(0).disableMdsMember(a);
        axis(0).enableMdsMember(a);
        axis(0).removeMdsMember(a);
    }
    EXPECT_EQ(members(0), (std::vector<PCShowAxis*>{&axis(0), &axis(1), &axis(2)}));
    EXPECT_EQ((*axis(0).mergedFlags)[0], 1);
    EXPECT_EQ((*axis(0).mergedFlags)[1], 1);
    EXPECT_EQ(axis(0).mdsLayout->memberWeight, 3);
}

TEST_F(MdsPlotTest, DropRules) {
    dropIndicator(1, regionMiddle(1));  // right of its own axis: refused
    EXPECT_EQ(axis(1).mdsLayout, nullptr);
    EXPECT_FALSE(axis(1).scatterOn);

    dropIndicator(2, regionMiddle(1));  // left of its own axis: merged
    ASSERT_NE(axis(1).mdsLayout, nullptr);
    EXPECT_TRUE(axis(1).scatterOn && axis(1).scatterTransition && axis(1).mdsVisible);
    EXPECT_EQ(members(1), (std::vector<PCShowAxis*>{&axis(1), &axis(2)}))
        << "a base dimension opens the plot but is no member twice";
    EXPECT_TRUE(markers().empty());

    dropIndicator(0, regionMiddle(1));
    dropIndicator(0, regionMiddle(1));  // duplicate
    dropIndicator(3, regionMiddle(1));
    EXPECT_EQ(members(1), (std::vector<PCShowAxis*>{&axis(1), &axis(2), &axis(0), &axis(3)}));
    ASSERT_EQ(markers().size(), 2u);
    EXPECT_EQ(axis(1).mdsLayout->memberWeight, 4);

    axis(2).position = px(axis(2).position) / static_cast<double>(plot->viewportWidth);
    dropIndicator(3, axis(2).position);  // exactly on an axis: nothing
    dropIndicator(3, 0.97);              // outside every region: nothing
    EXPECT_EQ(markers().size(), 2u);
    EXPECT_EQ(axis(2).mdsLayout, nullptr);
}

TEST_F(MdsPlotTest, MarkersFollowThePlacementRule) {
    dropIndicator(0, regionMiddle(2));
    const double a = axis(2).position, b = axis(3).position;
    ASSERT_EQ(markers().size(), 1u);
    MDSShape* first = markers()[0];
    EXPECT_DOUBLE_EQ(first->x, a + (b - a) / 4);
    EXPECT_DOUBLE_EQ(first->y, 1.0 / 30);
    dropIndicator(1, regionMiddle(2));
    EXPECT_DOUBLE_EQ(first->place(), a + (b - a) / 5);
    EXPECT_DOUBLE_EQ(markers()[1]->place(), a + 2 * (b - a) / 5);
    // Axes moved: the markers follow.
    axis(3).position = 0.99;
    EXPECT_DOUBLE_EQ(first->place(), a + (0.99 - a) / 5);
    // A member that is gone puts its marker on the left axis.
    axis(2).removeMdsMember(&axis(0));
    EXPECT_DOUBLE_EQ(first->place(), a);
}

TEST_F(MdsPlotTest, DiscHitTestsFollowTheDrawnDiscInAWideWindow) {
    dropIndicator(0, regionMiddle(2));
    Shape* marker = markers()[0];
    Shape* disc = indicator(1);
    const double r = 0.02;
    for (double ratio : {500.0 / 1180.0, 0.2}) {
        aspectRatio = ratio;
        for (Shape* s : {marker, disc}) {
            const double cx = s == marker ? markers()[0]->place() : axis(1).position;
            // Pixels are whole: test well inside and well outside the rim.
            EXPECT_TRUE(s->hitTest(px(cx + 0.8 * r * ratio), py(1.0 / 30))) << ratio;
            EXPECT_FALSE(s->hitTest(px(cx + 1.3 * r * ratio), py(1.0 / 30))) << ratio;
            EXPECT_TRUE(s->hitTest(px(cx), py(1.0 / 30 + 0.8 * r)));
            EXPECT_FALSE(s->hitTest(px(cx), py(1.0 / 30 + 1.3 * r)));
        }
    }
}

TEST_F(MdsPlotTest, MarkerClicksSwitchTheMemberAndAltDragRemovesIt) {
    dropIndicator(3, regionMiddle(0));
    dropIndicator(2, regionMiddle(0));
    MDSShape* marker = markers()[0];
    const int x = px(marker->place()), y = py(1.0 / 30);
    axis(0).mdsRunning = false;
    now += 1000;
    click(LeftButton, x, y);
    EXPECT_TRUE(marker->selected);
    EXPECT_EQ((*axis(0).mergedFlags)[2], 0);
    EXPECT_TRUE(axis(0).mdsRunning);
    EXPECT_EQ(axis(0).mdsLayout->memberWeight, 3);
    now += 1000;
    click(LeftButton, x, y);
    EXPECT_FALSE(marker->selected);
    EXPECT_EQ(axis(0).mdsLayout->memberWeight, 4);

    now += 1000;
    modifiers = ModAlt;
    press(LeftButton, x, y);
    onMouseDrag(x, py(0.5));
    release(LeftButton, x, py(0.5));
    EXPECT_TRUE(marker->removed);
    EXPECT_EQ(members(0), (std::vector<PCShowAxis*>{&axis(0), &axis(1), &axis(2)}));
    EXPECT_EQ(axis(0).mdsLayout->memberWeight, 3) << "switched off by the press, then removed";
}

TEST_F(MdsPlotTest, NShutsDownOneRegionAndKeepsTheOthersMarkers) {
    dropIndicator(3, regionMiddle(0));
    dropIndicator(0, regionMiddle(2));
    ASSERT_EQ(markers().size(), 2u);
    onKey('n', regionX(0), regionY());
    EXPECT_EQ(axis(0).mdsLayout, nullptr);
    ASSERT_EQ(markers().size(), 1u);
    EXPECT_EQ(markers()[0]->mdsAxis, &axis(2));
    EXPECT_NE(axis(2).mdsLayout, nullptr);
    EXPECT_EQ(shapes.back().get(), markers()[0]) << "the rest keep their order";
}

TEST_F(MdsPlotTest, RefusedAboveTheMemoryBudget) {
    setMdsMemoryBudget(MDSLayout::bytesNeeded(plot->recordCount) - 1);
    dropIndicator(0, regionMiddle(2));
    EXPECT_TRUE(tracedStart(" MDS plot refused: 5 records need "));
    EXPECT_EQ(axis(2).mdsLayout, nullptr);
    EXPECT_FALSE(axis(2).mdsVisible);
    EXPECT_TRUE(axis(2).scatterOn) << "the plain scatterplot opens";
    EXPECT_TRUE(markers().empty());
    onKey('m', regionX(1), regionY());
    EXPECT_EQ(axis(1).mdsLayout, nullptr);
    // Room for one layout: the second region's plot is refused while the first stands.
    setMdsMemoryBudget(MDSLayout::bytesNeeded(plot->recordCount));
    onKey('m', regionX(1), regionY());
    EXPECT_NE(axis(1).mdsLayout, nullptr);
    onKey('m', regionX(0), regionY());
    EXPECT_EQ(axis(0).mdsLayout, nullptr);
    onKey('n', regionX(1), regionY());
    onKey('m', regionX(0), regionY());
    EXPECT_NE(axis(0).mdsLayout, nullptr);
}

// Every way the axes are rebuilt or the plot released while the iteration
// runs and markers stand; the sanitizer build catches any freed axis read.
TEST_F(MdsPlotTest, RebuildsLeaveNothingPointingAtFreedAxes) {
    const std::function<void()> rebuilds[] = {
        [] { onKey('r', 0, 0); },
        [this] { loadTable(testsupport::smallTable, "again.txt"); },
        [] {
            releasePlot();  // File/Close empties the table
            setDataFileName("");
            loadDataFile();
        },
        [this] {  // a refused file leaves no plot at all
            const std::filesystem::path file = tempDir / "wide.txt";
            std::ofstream(file) << "1 1000 1000 0\n";
            setDataFileName(file.c_str());
            loadDataFile();
            ASSERT_EQ(plot, nullptr);
        },
    };
    for (const auto& rebuild : rebuilds) {
        dropIndicator(2, regionMiddle(0));  // opens with a transition running
        dropIndicator(3, regionMiddle(0));  // dropped during the transition
        idleAt(now + 10);
        ASSERT_EQ(markers().size(), 2u);
        rebuild();
        EXPECT_TRUE(markers().empty());
        for (int k = 0; k < 3; ++k) idleAt(now + 10);
        if (plot && plot->axisCount > 1) onKey('n', regionX(0), regionY());
        for (auto& s : shapes) {
            s->hitTest(10, 10);
            s->getPosition();
        }
        if (!plot || plot->axisCount == 0) loadTable(testsupport::smallTable);
    }
}

}  // namespace
