// The action benchmark stops timing at the first frame that shows the whole
// picture: a record layer still being completed in slices must keep it
// waiting, however many frames show the partial layer meanwhile.

#include <gtest/gtest.h>

#include <limits>
#include <sstream>
#include <vector>

#include "action_pump.h"
#include "gl_test_window.h"

namespace {

class ActionPumpTest : public TableFrameTest {
protected:
    void SetUp() override {
        TableFrameTest::SetUp();
        std::ostringstream text;
        text << "6000 5 5 0\nid a b c d e\n";
        for (int r = 0; r < 6000; ++r) text << (r * 37) % 101 << ' ' << (r * 53) % 97 << ' ' << (r * 11) % 89 << ' '
                                             << (r * 29) % 83 << ' ' << (r * 17) % 79 << '\n';
        load(text.str());
        clearShapes();
        // Curves drawn record by record: a layer too slow for one frame, completed in slices.
        plot->straightLines = false;
        setRecordLayerChoice(RecordLayerChoice::Software);
        setProgressiveDrawing(true);
        setBinnedRecordThreshold(std::numeric_limits<int>::max());
        GlTestWindow& w = GlTestWindow::at(900, 450);
        onReshape(w.width(), w.height());
    }
    void TearDown() override {
        setRecordLayerChoice(RecordLayerChoice::Auto);
        setBinnedRecordThreshold(0);
        TableFrameTest::TearDown();
    }
};

TEST_F(ActionPumpTest, WaitsForTheLayerHeldBackAndStopsAtItsFirstWholeFrame) {
    bench::FramePump pump;
    const std::function<void()> completes = pump.idle;
    int held = 6;
    std::vector<bool> wholeWhileHeld;
    // Idle steps that complete nothing but still ask for frames of the partial layer.
    pump.idle = [&] {
        if (held > 0) {
            --held;
            wholeWhileHeld.push_back(recordLayerShownWhole());
            requestRedraw();
            return;
        }
        completes();
    };
    requestRedraw();
    const bench::PumpResult r = pump.untilComplete(120000.0);
    ASSERT_TRUE(r.complete);
    EXPECT_EQ(held, 0) << "stopped while the layer was held back";
    EXPECT_GE(r.frames, 7);
    EXPECT_EQ(wholeWhileHeld, std::vector<bool>(6, false));
    EXPECT_TRUE(recordLayerShownWhole());

    // The frame it stopped at is the whole layer, as drawn in one go.
    GlTestWindow& w = GlTestWindow::at(900, 450);
    w.readBack();
    std::vector<GlTestWindow::Rgb> stopped;
    for (int y = 0; y < w.height(); y += 3)
        for (int x = 0; x < w.width(); x += 3) stopped.push_back(w.pixel(x, y));
    setProgressiveDrawing(false);
    forgetRecordLayer();
    w.renderFrame();
    int differing = 0;
    std::size_t k = 0;
    for (int y = 0; y < w.height(); y += 3)
        for (int x = 0; x < w.width(); x += 3) differing += !(stopped[k++] == w.pixel(x, y));
    EXPECT_EQ(differing, 0);
    setProgressiveDrawing(true);
}

TEST_F(ActionPumpTest, ALayerNeverCompletedIsNeverCountedComplete) {
    bench::FramePump pump;
    pump.idle = [] { requestRedraw(); };
    requestRedraw();
    const bench::PumpResult r = pump.untilComplete(1500.0);
    EXPECT_FALSE(r.complete);
    EXPECT_GT(r.frames, 1);
}

}  // namespace
