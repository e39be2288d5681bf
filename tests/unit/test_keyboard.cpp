// Character and special keys.

#include <functional>
#include <sstream>

#include "base/textures.h"
#include "interaction/input_help.h"
#include "mds/mds_layout.h"
#include "test_support.h"

namespace {

using KeyboardTest = InteractionTest;

TEST_F(KeyboardTest, EveryKeyWritesItsTraceLine) {
    onKey('r', 512, 300);
    onKey('P', 1, 2);
    onSpecialKey(KeyPageUp, 512, 300);
    onSpecialKey(0xFFBE, 3, 4);  // F1: not handled, still traced
    const std::vector<std::string> expected{"keyboard r 114 512 300", "keyboard P 80 1 2",
                                            "keyboard U 65365 512 300", "keyboard \xBE 65470 3 4"};
    const auto lines = traceLines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], expected[0]);
    EXPECT_EQ(lines[1], expected[1]);
    EXPECT_EQ(lines[2], expected[2]);
    EXPECT_EQ(lines.back(), expected[3]);
}

TEST_F(KeyboardTest, WithoutPlotOnlyTheTraceLineIsWritten) {
    releasePlot();
    onKey('w', 5, 6);
    onSpecialKey(KeyHome, 7, 8);
    EXPECT_EQ(traceLines(), (std::vector<std::string>{"keyboard w 119 5 6", "keyboard P 65360 7 8"}));
    EXPECT_EQ(redraws, 0);
}

TEST_F(KeyboardTest, KeysAreIgnoredWhileDraggingOrGliding) {
    const bool histograms = plot->showHistograms;
    for (int which = 0; which < 4; ++which) {
        resetInteractionState();
        if (which == 0) interaction.axisDragActive = true;
        if (which == 1) interaction.strokeActive = true;
        if (which == 2) interaction.rubberBandActive = true;
        if (which == 3) layoutAnimating = true;
        clearTrace();
        onKey('w', 10, 20);
        EXPECT_EQ(plot->showHistograms, histograms) << "case " << which;
        EXPECT_EQ(redraws, 0) << "case " << which;
        EXPECT_EQ(traceLines(), std::vector<std::string>{"keyboard w 119 10 20"});
    }
    // Special keys do not look at the drag flags.
    interaction.axisDragActive = true;
    onSpecialKey(KeyPageDown, regionX(0), regionY());
    EXPECT_NEAR(axis(0).curveOpacity, 0.95, 1e-12);
}

TEST_F(KeyboardTest, XSwitchesAntialiasingAndCurveStep) {
    onKey('x', 0, 0);
    EXPECT_TRUE(plot->antialiasingOff);
    EXPECT_DOUBLE_EQ(curveStep, 0.01);
    onKey('X', 0, 0);
    EXPECT_FALSE(plot->antialiasingOff);
    EXPECT_DOUBLE_EQ(curveStep, 0.002);
    EXPECT_EQ(redraws, 2);
}

TEST_F(KeyboardTest, QLocksAndGlidesToEvenSpacingWithoutRedraw) {
    const std::vector<double> even = positions();
    axis(1).position = 0.5;
    onKey('q', 0, 0);
    EXPECT_TRUE(axesLocked);
    EXPECT_TRUE(layoutAnimating);
    EXPECT_EQ(axis(1).position, 0.5) << "the axes glide, they do not jump";
    EXPECT_EQ(redraws, 0);
    idleAt(now + 201);
    EXPECT_DOUBLE_EQ(axis(1).position, even[1]);

    onKey('Q', 0, 0);
    EXPECT_FALSE(axesLocked);
    EXPECT_FALSE(layoutAnimating) << "unlocking moves nothing";
}

TEST_F(KeyboardTest, RAndFResetTheView) {
    axis(0).position = 0.3;
    plot->straightLines = false;
    plot->recordSelection.set(2, 0.23);
    onKey('f', 0, 0);
    EXPECT_TRUE(plot->straightLines);
    EXPECT_EQ(plot->recordSelection[2], 1.0);
    EXPECT_EQ(axis(0).position, 0.3);
    onKey('r', 0, 0);
    EXPECT_DOUBLE_EQ(axis(0).position, 0.1);
    EXPECT_EQ(redraws, 2);
}

TEST_F(KeyboardTest, SOpensTheFirstSelectedAxisRegion) {
    onKey('s', 0, 0);  // nothing selected
    EXPECT_EQ(redraws, 0);
    axis(3).selected = true;  // the last axis has no region
    onKey('s', 0, 0);
    EXPECT_EQ(redraws, 0);
    EXPECT_FALSE(axis(3).scatterTransition);
    axis(1).selected = true;
    onKey('s', 0, 0);
    EXPECT_TRUE(axis(1).scatterOn);
    EXPECT_TRUE(axis(1).scatterTransition);
    EXPECT_EQ(axis(1).transitionDuration, 1000.0);
    EXPECT_EQ(axis(1).transitionStart, now);
    EXPECT_EQ(redraws, 1);
}

TEST_F(KeyboardTest, VTogglesTheRegionUnderThePointerOverFiveSeconds) {
    onKey('v', regionX(2), py(0.99));  // vertical position does not matter
    EXPECT_TRUE(axis(2).scatterOn);
    EXPECT_EQ(axis(2).transitionDuration, 5000.0);
    onKey('v', regionX(2), regionY());
    EXPECT_FALSE(axis(2).scatterOn);
    EXPECT_TRUE(axis(2).fadingOut);
    EXPECT_EQ(redraws, 2);
}

TEST_F(KeyboardTest, RegionKeysNeedARegion) {
    const int leftOfFirst = px(0.05);
    const int rightOfLast = px(0.97);
    for (int x : {leftOfFirst, rightOfLast}) {
        onKey('v', x, regionY());
        onKey('m', x, regionY());
        onKey('n', x, regionY());
        onKey(127, x, regionY());
        onSpecialKey(KeyPageUp, x, regionY());
    }
    EXPECT_EQ(redraws, 0);
    for (int i = 0; i < 4; ++i) {
        EXPECT_FALSE(axis(i).scatterOn);
        EXPECT_EQ(axis(i).curveOpacity, 1.0);
    }
}

TEST_F(KeyboardTest, PointerExactlyOnAnAxisAddressesTheRegionRightOfIt) {
    plot->viewportWidth = 1000;
    axis(1).position = 0.375;
    onKey('v', 375, regionY());
    EXPECT_TRUE(axis(1).scatterOn);
    EXPECT_FALSE(axis(0).scatterOn);
}

TEST_F(KeyboardTest, MOpensTheScatterplotAndItsMdsPlotOnceAndNShutsItDown) {
    onKey('m', regionX(0), regionY());
    EXPECT_TRUE(axis(0).scatterOn && axis(0).mdsVisible && axis(0).mdsLayout);
    EXPECT_EQ(axis(0).transitionDuration, 1000.0);
    const MDSLayout* layout = axis(0).mdsLayout.get();
    axis(0).mdsRunning = false;
    onKey('m', regionX(0), regionY());
    EXPECT_TRUE(axis(0).scatterOn) << "M never closes a scatterplot";
    EXPECT_TRUE(axis(0).mdsRunning && axis(0).mdsLayout.get() == layout) << "M resumes its layout";
    onKey('n', regionX(0), regionY());
    onKey('n', regionX(0), regionY());  // no MDS plot left to remove
    EXPECT_TRUE(axis(0).scatterOn && !axis(0).mdsVisible && !axis(0).mdsLayout);
    EXPECT_EQ(traceLines()[1], "MDS stress  0");
    EXPECT_EQ(traceLines()[4], " MDS shutdown");
    EXPECT_EQ(redraws, 2);
}

TEST_F(KeyboardTest, DeleteRestoresTheRegionOpacities) {
    axis(2).curveOpacity = 0.2;
    axis(2).pointOpacity = 0.3;
    onKey(127, regionX(2), regionY());
    EXPECT_EQ(axis(2).curveOpacity, 1.0);
    EXPECT_EQ(axis(2).pointOpacity, 1.0);
    EXPECT_EQ(traceLines()[0], "keyboard \x7f 127 " + std::to_string(regionX(2)) + " 250");
}

TEST_F(KeyboardTest, ZCyclesTheStrokeTexture) {
    textureCount = 3;
    activeTexture = 1;
    std::vector<int> seen;
    for (int k = 0; k < 4; ++k) {
        onKey('z', 0, 0);
        seen.push_back(activeTexture);
    }
    EXPECT_EQ(seen, (std::vector<int>{2, 0, 1, 2}));
    textureCount = 0;  // no textures loaded: nothing to cycle, and no division by zero
    onKey('z', 0, 0);
    EXPECT_EQ(activeTexture, 2);
    textureCount = 3;
}

TEST_F(KeyboardTest, ATogglesAnimationTraceWithoutRedraw) {
    onKey('a', 0, 0);
    EXPECT_TRUE(traceAnimation);
    onKey('A', 0, 0);
    EXPECT_FALSE(traceAnimation);
    const auto lines = traceLines();
    EXPECT_EQ(lines[1], " true false  1");
    EXPECT_EQ(lines[3], " true false  0");
    EXPECT_EQ(redraws, 0);
}

TEST_F(KeyboardTest, DTogglesHoverEmphasisAndClearsTheHoveredMark) {
    onMouseHover(regionX(1), regionY());
    ASSERT_TRUE(axis(1).hovered);
    onKey('d', 0, 0);
    EXPECT_FALSE(hoverEmphasis);
    EXPECT_FALSE(axis(1).hovered);
    EXPECT_EQ(hoveredAxis, &axis(1)) << "the hovered axis is kept";
    onKey('D', 0, 0);
    EXPECT_TRUE(hoverEmphasis);
    EXPECT_EQ(redraws, 0);
}

TEST_F(KeyboardTest, DigitsZoomIntoCellsAndBackquoteRestores) {
    struct Cell {
        unsigned char key;
        double left, right, bottom, top;
    };
    const Cell cells[] = {{'1', 0, 0.35, 0, 0.35},       {'2', 0, 0.35, 0.33, 0.68},
                          {'3', 0, 0.35, 0.65, 1},       {'4', 0.33, 0.68, 0, 0.35},
                          {'5', 0.33, 0.68, 0.33, 0.68}, {'6', 0.33, 0.68, 0.65, 1},
                          {'7', 0.65, 1, 0, 0.35},       {'8', 0.65, 1, 0.33, 0.68},
                          {'9', 0.65, 1, 0.65, 1}};
    for (const Cell& c : cells) {
        onKey('`', 0, 0);
        onKey(c.key, 0, 0);
        EXPECT_EQ(plot->viewLeft, c.left) << c.key;
        EXPECT_EQ(plot->viewRight, c.right) << c.key;
        EXPECT_EQ(plot->viewBottom, c.bottom) << c.key;
        EXPECT_EQ(plot->viewTop, c.top) << c.key;
        EXPECT_EQ(plot->viewNear, -1.0);
        EXPECT_EQ(plot->viewFar, 1.0);
        EXPECT_EQ(plot->pointSize, 20.0);
        EXPECT_EQ(plot->curveLineWidth, 3.0);
        EXPECT_EQ(plot->axisLineWidth, 6.0);
    }
    onKey('`', 0, 0);
    EXPECT_EQ(plot->viewLeft, 0.0);
    EXPECT_EQ(plot->viewRight, 1.0);
    EXPECT_EQ(plot->viewBottom, 0.0);
    EXPECT_EQ(plot->viewTop, 1.0);
    EXPECT_EQ(plot->pointSize, 5.0);
    EXPECT_EQ(plot->curveLineWidth, 1.0);
    EXPECT_EQ(plot->axisLineWidth, 2.0);
    EXPECT_EQ(redraws, 19);
}

TEST_F(KeyboardTest, UnmappedKeysDoNothing) {
    const double left = plot->viewLeft;
    for (unsigned char key : {'p', 'P', '0', 'k', ' ', '\r'}) onKey(key, regionX(0), regionY());
    EXPECT_EQ(redraws, 0);
    EXPECT_EQ(plot->viewLeft, left);
}

// ---------------------------------------------------------------- special keys

TEST_F(KeyboardTest, PageUpDownStepCurveOpacityDownToZeroAndPastOne) {
    const int x = regionX(1), y = regionY();
    axis(1).curveOpacity = 0.03;
    onSpecialKey(KeyPageDown, x, y);
    EXPECT_EQ(axis(1).curveOpacity, 0.0);
    onSpecialKey(KeyPageDown, x, y);
    EXPECT_EQ(axis(1).curveOpacity, 0.0);
    axis(1).curveOpacity = 1.0;
    onSpecialKey(KeyPageUp, x, y);
    EXPECT_DOUBLE_EQ(axis(1).curveOpacity, 1.05) << "no upper bound";
    onSpecialKey(KeyPageUp, x, y);
    EXPECT_DOUBLE_EQ(axis(1).curveOpacity, 1.1);
    onSpecialKey(KeyPageDown, x, y);
    EXPECT_NEAR(axis(1).curveOpacity, 1.05, 1e-12);
    const auto lines = traceLines();
    // Each press prints the value it starts from on a line of its own.
    EXPECT_EQ(lines[1], "0.03");
    EXPECT_EQ(lines[3], "0");
    EXPECT_EQ(lines[5], "1");
    EXPECT_EQ(lines[7], "1.05");
    EXPECT_EQ(redraws, 5);
}

TEST_F(KeyboardTest, HomeEndChangePointOpacityOnlyInAScatterplot) {
    const int x = regionX(0), y = regionY();
    onSpecialKey(KeyEnd, x, y);
    EXPECT_EQ(axis(0).pointOpacity, 1.0);
    EXPECT_EQ(redraws, 1) << "a redraw even when nothing changed";
    axis(0).scatterOn = true;
    onSpecialKey(KeyEnd, x, y);
    EXPECT_NEAR(axis(0).pointOpacity, 0.95, 1e-12);
    onSpecialKey(KeyHome, x, y);
    onSpecialKey(KeyHome, x, y);
    EXPECT_DOUBLE_EQ(axis(0).pointOpacity, 1.05);
    axis(0).pointOpacity = 0.02;
    onSpecialKey(KeyEnd, x, y);
    EXPECT_EQ(axis(0).pointOpacity, 0.0);
}

TEST_F(KeyboardTest, OtherSpecialKeysDoNothing) {
    onSpecialKey(0xFF51, regionX(0), regionY());  // cursor left
    EXPECT_EQ(redraws, 0);
    EXPECT_EQ(traceLines(), std::vector<std::string>{"keyboard Q 65361 " + std::to_string(regionX(0)) + " 250"});
}

// Every key the handlers answer has its row in the keys and mouse table:
// each character and special key is pressed over region 0 of a fresh view
// whose opacities, scatterplot and selected axis give every key something
// to do; one that redraws, traces or changes the view is answered.
TEST_F(KeyboardTest, EveryAnsweredKeyIsInTheKeysAndMouseTable) {
    const auto state = [this] {
        std::ostringstream s;
        s << axesLocked << layoutAnimating << densityShading << axisTicksShown << hoverEmphasis << traceAnimation
          << activeTexture << curveStep << plot->showHistograms << plot->colorBySelection << plot->straightLines
          << plot->antialiasingOff << plot->viewLeft << plot->viewBottom << plot->pointSize << axisBrushes.size();
        for (int i = 0; i < plot->axisCount; ++i) {
            const Dimension& d = *plot->dimensionAt(axis(i).dimensionIndex);
            s << '|' << axis(i).position << axis(i).scatterOn << axis(i).scatterTransition << axis(i).curveOpacity
              << axis(i).pointOpacity << axis(i).mdsVisible << (axis(i).mdsLayout != nullptr) << d.flipped
              << static_cast<int>(d.scale);
        }
        return s.str();
    };
    const int x = regionX(0), y = regionY();
    const auto answered = [&](int key, const std::function<void()>& press) {
        loadTable(testsupport::smallTable);
        resetInteractionState();
        densityShading = false;
        axis(0).curveOpacity = 0.5;
        axis(0).scatterOn = true;
        axis(0).selected = true;
        const std::string before = state();
        clearTrace();
        press();
        // Beyond its own trace line (which may hold a line feed).
        const std::string own = "keyboard " + std::string(1, static_cast<char>(key & 0xFF)) + ' ' +
                                std::to_string(key) + ' ' + std::to_string(x) + ' ' + std::to_string(y) + '\n';
        return redraws > 0 || traceOut.str() != own || state() != before;
    };
    for (int key = 1; key < 256; ++key) {
        const auto c = static_cast<unsigned char>(key);
        const unsigned char folded = c >= 'a' && c <= 'z' ? c - 32 : c;
        if (answered(key, [&] { onKey(c, x, y); })) {
            EXPECT_NE(helpForKey(folded), nullptr) << "key " << key << " answers but has no row";
        }
    }
    for (int key = 0xFF00; key <= 0xFFFF; ++key)
        if (answered(key, [&] { onSpecialKey(key, x, y); })) {
            EXPECT_NE(helpForSpecialKey(key), nullptr) << "special key " << key << " answers but has no row";
        }
    // No key has two rows.
    for (const InputHelp& row : inputHelp())
        for (const char* k = row.characters; *k != '\0'; ++k)
            EXPECT_EQ(helpForKey(static_cast<unsigned char>(*k)), &row) << *k;
    densityShading = false;
}

}  // namespace
