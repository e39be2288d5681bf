// A saved session opened again over another table shows the picture that
// was saved, pixel for pixel.

#include <gtest/gtest.h>

#include <vector>

#include "brush/brush.h"
#include "plot/axis.h"
#include "render/record_layer.h"
#include "render/record_layer_testing.h"
#include "session/saved_view.h"

#include "gl_test_window.h"

namespace {

std::vector<GlTestWindow::Rgb> picture(GlTestWindow& w) {
    w.renderFrame();
    std::vector<GlTestWindow::Rgb> pixels;
    for (int y = 0; y < w.height(); ++y)
        for (int x = 0; x < w.width(); ++x) pixels.push_back(w.pixel(x, y));
    return pixels;
}

void stroke(double x, double y0, double y1, int mods) {
    interaction.strokePoints.clear();
    for (int k = 0; k <= 10; ++k) interaction.strokePoints.push_back({x, y0 + (y1 - y0) * k / 10.0});
    interaction.strokeCrossed = false;
    interaction.brushModifiers = mods;
    dispatchStroke();
    interaction.strokePoints.clear();
}

TEST_F(TableFrameTest, ARestoredSessionShowsTheSavedPicture) {
    setClockHook([] { return 50000.0; });
    setProgressiveDrawing(false);
    struct Restore {
        ~Restore() { setProgressiveDrawing(true); }
    } restoreDrawing;
    GlTestWindow& w = GlTestWindow::at(590, 250);
    // 10,000 records: drawn from bins.
    ASSERT_TRUE(setDataFileName(KORVELLINE_TEST_DATA_DIR "/synthetic_10k.txt"));
    loadDataFile();
    ASSERT_EQ(plot->axisCount, 8);
    palette->deselect(0, 0);
    stroke(plot->axes[2]->position, 0.3, 0.7, 0);
    stroke(plot->axes[5]->position, 0.1, 0.3, ModCtrl);
    palette->select(0, 0);
    palette->currentColor = {0.1, 0.3, 0.9, 0.6};
    stroke(plot->axes[7]->position, 0.6, 0.9, 0);
    plot->axes[6]->position = 0.25;  // x7 moves between x2 and x3
    plot->resortAxes();
    plot->axes[4]->scatterOn = true;
    plot->axes[4]->curveOpacity = 0.4;
    plot->colorDimension = 4;
    vanishingTracks.clear();  // strokes fade; the view stays
    const std::vector<GlTestWindow::Rgb> saved = picture(w);

    const std::string session = (dir / "view.korvelline").string();
    ASSERT_TRUE(saveSessionTo(session, true));
    ASSERT_TRUE(setDataFileName(KORVELLINE_TEST_DATA_DIR "/iris.txt"));
    loadDataFile();
    ASSERT_NE(picture(w), saved);
    bool fading = true;
    ASSERT_TRUE(openSessionFrom(session, fading)) << trace.str();
    const std::vector<GlTestWindow::Rgb> restored = picture(w);
    std::size_t differing = 0;
    for (std::size_t k = 0; k < saved.size(); ++k) differing += !(restored[k] == saved[k]);
    EXPECT_EQ(differing, 0u);
}

}  // namespace
