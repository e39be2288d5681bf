// The record layer drawn on the CPU against the same layer drawn by GL, the
// flatness tessellation against the fixed curve step, and the kept layer:
// reused while nothing changes, drawn afresh after any change.

#include <FreeImage.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "base/platform.h"
#include "bins/binned_table.h"
#include "data/table.h"
#include "interaction/interaction.h"
#include "mds/mds_axis.h"
#include "mds/mds_layout.h"
#include "plot/axis.h"
#include "plot/plot.h"
#include "records/records.h"
#include "render/gl_sink.h"
#include "render/layers.h"
#include "render/picture.h"
#include "render/record_layer.h"
#include "render/record_layer_testing.h"
#include "shapes/shape.h"

#include "gl_test_window.h"

namespace {

constexpr int kWidth = 900;
constexpr int kHeight = 450;

std::string scatteredTable(int records, int dims) {
    std::ostringstream text;
    text << records << ' ' << dims << ' ' << dims << " 0\nid";
    for (int d = 0; d < dims; ++d) text << " d" << d;
    text << '\n';
    std::uint32_t state = 12345;
    for (int r = 0; r < records; ++r) {
        text << r;
        for (int d = 0; d < dims; ++d) {
            state = state * 1664525u + 1013904223u;
            text << ' ' << (state >> 8) % 1000;
        }
        text << '\n';
    }
    return text.str();
}

struct Difference {
    double mean = 0.0;     // mean absolute difference per channel, over all pixels
    double farShare = 0.0; // share of pixels with a channel more than 8 levels apart
};

std::vector<unsigned char> frameOf(const GlTestWindow& w) {
    std::vector<unsigned char> out;
    out.reserve(static_cast<std::size_t>(w.width()) * w.height() * 3);
    for (int y = 0; y < w.height(); ++y)
        for (int x = 0; x < w.width(); ++x) {
            const GlTestWindow::Rgb p = w.pixel(x, y);
            out.push_back(static_cast<unsigned char>(p.r));
            out.push_back(static_cast<unsigned char>(p.g));
            out.push_back(static_cast<unsigned char>(p.b));
        }
    return out;
}

Difference compare(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b) {
    Difference d;
    if (a.size() != b.size() || a.empty()) return {255.0, 1.0};
    double sum = 0.0;
    std::size_t far = 0;
    for (std::size_t i = 0; i < a.size(); i += 3) {
        int worst = 0;
        for (int c = 0; c < 3; ++c) {
            const int diff = std::abs(a[i + c] - b[i + c]);
            sum += diff;
            worst = std::max(worst, diff);
        }
        if (worst > 8) ++far;
    }
    d.mean = sum / static_cast<double>(a.size());
    d.farShare = static_cast<double>(far) / static_cast<double>(a.size() / 3);
    return d;
}

}  // namespace

class RecordLayerTest : public TableFrameTest {
protected:
    void TearDown() override {
        setRecordLayerChoice(RecordLayerChoice::Auto);
        setRecordLayerThreads(0);
        setLevelOfDetailBudget(0.0);
        setProgressiveDrawing(true);
        setBinnedRecordThreshold(0);
        curveStep = 0.002;
        TableFrameTest::TearDown();
    }

    void load(const std::string& text) {
        TableFrameTest::load(text);
        clearShapes();
    }

    std::vector<unsigned char> render(RecordLayerChoice choice) {
        setRecordLayerChoice(choice);
        forgetRecordLayer();
        GlTestWindow& w = GlTestWindow::at(kWidth, kHeight);
        w.renderFrame();
        return frameOf(w);
    }
};

// Brush values selecting record r at degree v and every other record fully.
std::vector<double> only(int r, double v) {
    std::vector<double> values(static_cast<std::size_t>(plot->recordCount), 1.0);
    values[static_cast<std::size_t>(r)] = v;
    return values;
}

FrameAxes frameAxes() {
    FrameAxes frame;
    fillFrameAxes(*plot, frame);
    plot->captureAxisPositions();
    return frame;
}

struct LayerCase {
    const char* name;
    std::function<void()> arrange;
};

// A running transition at progress 0.6 under a frozen clock.
void holdTransition(int region) {
    setClockHook([] { return 600.0; });
    PCShowAxis& axis = *plot->axes[region];
    axis.scatterOn = true;
    axis.scatterTransition = true;
    axis.fadingIn = true;
    axis.transitionStart = 0.0;
    axis.transitionDuration = 1000.0;
}

TEST_F(RecordLayerTest, SoftwareLayerMatchesTheGlLayer) {
    const LayerCase cases[] = {
        {"straight", [] {}},
        {"curves", [] { plot->straightLines = false; }},
        {"open region", [] { plot->axes[1]->scatterOn = true; }},
        {"curves through a transition",
         [] {
             plot->straightLines = false;
             holdTransition(2);
         }},
        {"translucent", [] { plot->setAllRecordColors({0.1, 0.3, 0.9, 0.25}); }},
        {"aliased", [] { plot->antialiasingOff = true; }},
    };
    for (const LayerCase& c : cases) {
        load(scatteredTable(150, 5));
        c.arrange();
        const std::vector<unsigned char> gl = render(RecordLayerChoice::Gl);
        EXPECT_EQ(recordLayerStats().path, RecordLayerPath::Gl);
        const std::vector<unsigned char> software = render(RecordLayerChoice::Software);
        EXPECT_EQ(recordLayerStats().path, RecordLayerPath::Software);
        // A one-pixel shift or a lost blend gives a mean of several levels
        // and far pixels by the tens of percent.
        const Difference d = compare(gl, software);
        EXPECT_LE(d.mean, 0.5) << c.name;
        EXPECT_LE(d.farShare, 0.01) << c.name;
        // The frame is not trivially equal: the records are there.
        EXPECT_GT(compare(gl, std::vector<unsigned char>(gl.size(), 255)).mean, 5.0) << c.name;
    }
}

TEST_F(RecordLayerTest, EnvironmentPicksThePathAndTheRendererDecidesOtherwise) {
    struct Case {
        const char* setting;
        RecordLayerPath path;
        bool warns;
    };
    // Under Xvfb the renderer is Mesa's software one.
    const Case cases[] = {
        {"gl", RecordLayerPath::Gl, false},
        {"software", RecordLayerPath::Software, false},
        {nullptr, RecordLayerPath::Software, false},
        {"fast", RecordLayerPath::Software, true},
    };
    load(scatteredTable(20, 3));
    for (const Case& c : cases) {
        if (c.setting)
            ::setenv("KORVELLINE_RECORD_LAYER", c.setting, 1);
        else
            ::unsetenv("KORVELLINE_RECORD_LAYER");
        trace.str("");
        render(RecordLayerChoice::Auto);
        EXPECT_EQ(recordLayerStats().path, c.path) << (c.setting ? c.setting : "unset");
        const bool warned = trace.str().find(" unknown KORVELLINE_RECORD_LAYER fast, record layer chosen by renderer\n") !=
                            std::string::npos;
        EXPECT_EQ(warned, c.warns) << (c.setting ? c.setting : "unset");
    }
    ::unsetenv("KORVELLINE_RECORD_LAYER");
}

TEST_F(RecordLayerTest, FlatnessPiecesKeepTheFixedStepPicture) {
    const LayerCase cases[] = {
        {"curves", [] {}},
        {"open regions", [] {
             plot->axes[0]->scatterOn = true;
             plot->axes[3]->scatterOn = true;
         }},
        {"transition", [] {
             plot->axes[1]->scatterTransition = true;
             plot->axes[1]->scatterProgress = 0.4;
         }},
        {"zoomed", [] { plot->setViewBox(0.2, 0.5, 0.3, 0.6, -1.0, 1.0); }},
    };
    GlTestWindow& w = GlTestWindow::at(kWidth, kHeight);
    // The record layer alone, through GL, by the reference step or by flatness.
    auto layer = [&w](bool fixed) {
        onReshape(w.width(), w.height());
        setUpFrame();
        FrameAxes frame;
        fillFrameAxes(*plot, frame);
        plot->captureAxisPositions();
        RecordPass pass;
        {
            GlSink sink;
            if (pass.prepare(*plot, frame)) {
                if (fixed)
                    renderRecordCurves(*plot, pass, curveStep, sink);
                else
                    renderRecordCurves(*plot, pass, screenPieceRule(*plot), sink);
            }
        }
        glFinish();
        w.readBack();
        return frameOf(w);
    };
    for (const LayerCase& c : cases) {
        load(scatteredTable(150, 5));
        // Aliased and opaque, a pixel differs only where the polylines part.
        plot->antialiasingOff = true;
        c.arrange();
        const std::vector<unsigned char> reference = layer(true);
        EXPECT_LE(compare(reference, layer(false)).farShare, 0.01) << c.name;
        curveStep = 0.01;  // the coarse tolerance of half a pixel parts visibly
        EXPECT_GT(compare(reference, layer(false)).farShare, 0.015) << c.name;
        curveStep = 0.002;
    }
}

// Each change of something the record layer reads, on a table with an MDS
// plot in region 2 and a transition held in region 0.
TEST_F(RecordLayerTest, EveryInputChangeDrawsTheLayerAfresh) {
    const LayerCase changes[] = {
        {"own colours off", [] { plot->useRecordColors = false; }},
        {"selection degree", [] { plot->intersectSelection(only(7, 0.5).data()); }},
        {"colour by selection", [] { plot->colorBySelection = !plot->colorBySelection; }},
        {"own colours on", [] { plot->useRecordColors = true; }},
        {"painted record", [] { plot->paintSelected(only(3, 1.0).data(), {0.2, 0.4, 0.6, 1.0}); }},
        {"colours dropped", [] { ColorSquareShape().deselect(0, 0); }},
        {"all colours", [] { plot->setAllRecordColors({0.5, 0.5, 0.5, 0.5}); }},
        {"colour dimension", [] { plot->colorDimension = 2; }},
        {"highlighted record", [] { plot->highlightRecord(5); }},
        {"axis position", [] { plot->axes[1]->position += 0.01; }},
        {"region height", [] { plot->axes[3]->regionTop = 0.8; }},
        {"scatterplot opened", [] { plot->axes[3]->scatterOn = true; }},
        {"transition progress", [] { setClockHook([] { return 700.0; }); }},
        {"curve opacity (hover)", [] { plot->axes[1]->curveOpacity = 0.4; }},
        {"point opacity", [] { plot->axes[2]->pointOpacity = 0.3; }},
        {"MDS output", [] {
             plot->axes[2]->mdsLayout->outX[4] += 0.05;
             ++plot->axes[2]->mdsLayout->revision;
         }},
        {"MDS hidden", [] { plot->axes[2]->mdsVisible = false; }},
        {"view box", [] { plot->setViewBox(0.0, 0.9, 0.0, 1.0, -1.0, 1.0); }},
        {"anti-aliasing", [] { plot->antialiasingOff = true; }},
        {"curve step", [] { curveStep = 0.01; }},
        {"curves", [] { plot->straightLines = false; }},
        {"line width", [] { plot->curveLineWidth += 1.0; }},
        {"point size", [] { plot->pointSize = 20.0; }},
        {"background", [] { plot->backgroundColor = {0.9, 0.9, 1.0, 1.0}; }},
        {"record colour function", [] { plot->colorByFunction = false; }},
        {"record colour", [] { plot->recordColor = {0.3, 0.0, 0.0, 1.0}; }},
    };
    // Both paths keep their layer: the GL one copies its pixels.
    for (RecordLayerChoice path : {RecordLayerChoice::Software, RecordLayerChoice::Gl}) {
        load(scatteredTable(60, 5));
        holdTransition(0);
        PCShowAxis& mds = *plot->axes[2];
        mds.scatterOn = true;
        mds.mdsVisible = true;
        mds.mdsLayout = makeMdsLayout();
        mds.mdsLayout->outX.assign(60, 0.25);
        mds.mdsLayout->outY.assign(60, 0.75);
        curveStep = 0.002;
        setRecordLayerChoice(path);
        setLevelOfDetailBudget(1e9);  // the held transition draws every record

        GlTestWindow& w = GlTestWindow::at(kWidth, kHeight);
        w.renderFrame();
        for (const LayerCase& c : changes) {
            const long fresh = recordLayerStats().freshLayers;
            c.arrange();
            w.renderFrame();
            EXPECT_EQ(recordLayerStats().freshLayers, fresh + 1) << c.name;
            // Unchanged, the next frame comes from the kept layer, pixel for pixel.
            const std::vector<unsigned char> drawn = frameOf(w);
            w.renderFrame();
            EXPECT_EQ(recordLayerStats().freshLayers, fresh + 1) << c.name;
            EXPECT_TRUE(frameOf(w) == drawn) << c.name;
        }
        // A new window size, too.
        const long fresh = recordLayerStats().freshLayers;
        GlTestWindow::at(kWidth - 100, kHeight).renderFrame();
        EXPECT_EQ(recordLayerStats().freshLayers, fresh + 1);
        // While every record wears its own colour the selection is not drawn,
        // so brushing keeps the layer.
        plot->colorByFunction = plot->colorBySelection = true;
        plot->setAllRecordColors({0.5, 0.5, 0.5, 0.5});
        GlTestWindow::at(kWidth - 100, kHeight).renderFrame();
        plot->intersectSelection(only(7, 0.25).data());
        GlTestWindow::at(kWidth - 100, kHeight).renderFrame();
        EXPECT_EQ(recordLayerStats().freshLayers, fresh + 2);
        // Histograms are counted once per dimension, not once per frame.
        plot->showHistograms = true;
        const long counted = histogramRecounts();
        for (int k = 0; k < 3; ++k) GlTestWindow::at(kWidth - 100, kHeight).renderFrame();
        EXPECT_EQ(histogramRecounts(), counted + plot->axisCount);
        // A reload of the same file is a new table, whatever addresses its arrays get.
        const std::uint64_t before = recordLayerSignature(*plot, frameAxes());
        const std::uint64_t generation = tableGeneration;
        loadDataFile();
        EXPECT_NE(tableGeneration, generation);
        EXPECT_NE(recordLayerSignature(*plot, frameAxes()), before);
    }
}

TEST_F(RecordLayerTest, SlowAnimationsDrawASubsetAndTheFrameAfterIsFull) {
    load(scatteredTable(200, 4));
    setRecordLayerChoice(RecordLayerChoice::Software);
    GlTestWindow& w = GlTestWindow::at(kWidth, kHeight);
    w.renderFrame();  // at rest: full, and its cost measured
    EXPECT_EQ(recordLayerStats().stride, 1);

    setLevelOfDetailBudget(recordLayerStats().fullMs / 5.0);
    holdTransition(1);
    w.renderFrame();
    EXPECT_GT(recordLayerStats().stride, 1);

    setClockHook([] { return 5000.0; });  // past its end: the transition stops in this frame
    w.renderFrame();
    EXPECT_FALSE(plot->axes[1]->scatterTransition);
    EXPECT_EQ(recordLayerStats().stride, 1);
}

TEST_F(RecordLayerTest, ASelectionChangeCountsTheBinsAgainAndAStrokeFrameDoesNot) {
    load(scatteredTable(300, 5));
    setRecordLayerChoice(RecordLayerChoice::Software);
    setBinnedRecordThreshold(1);
    ColorSquareShape().deselect(0, 0);  // colours from the selection
    GlTestWindow& w = GlTestWindow::at(kWidth, kHeight);
    w.renderFrame();
    ASSERT_TRUE(recordLayerStats().binned);
    const long counted = binnedTable().rebuilds();
    const long fresh = recordLayerStats().freshLayers;
    for (int k = 0; k < 20; ++k) interaction.strokePoints.push_back({0.3 + 0.01 * k, 0.5});
    w.renderFrame();
    EXPECT_EQ(binnedTable().rebuilds(), counted);
    EXPECT_EQ(recordLayerStats().freshLayers, fresh);
    plot->intersectSelection(only(7, 0.23).data());
    w.renderFrame();
    EXPECT_GT(binnedTable().rebuilds(), counted);
    EXPECT_EQ(recordLayerStats().freshLayers, fresh + 1);
    interaction.strokePoints.clear();
    setBinnedRecordThreshold(0);
}

// A layer too slow for one frame is shown as a subset under a progress bar;
// the picture export waits for the whole layer and shows no bar.
TEST_F(RecordLayerTest, ExportFinishesTheLayerBeingCompletedWithoutTheBar) {
    load(scatteredTable(6000, 5));
    plot->straightLines = false;
    setRecordLayerChoice(RecordLayerChoice::Software);
    setProgressiveDrawing(true);
    setBinnedRecordThreshold(std::numeric_limits<int>::max());  // record by record
    GlTestWindow& w = GlTestWindow::at(kWidth, kHeight);
    w.renderFrame();
    ASSERT_TRUE(recordLayerStats().progressive);
    ASSERT_GE(recordLayerProgress(), 0.0);
    EXPECT_FALSE(w.pixel(kWidth - 3, kHeight - 1).white()) << "the bar's track";

    const std::string path = ::testing::TempDir() + "korvelline_layer_" + std::to_string(::getpid()) + ".png";
    ASSERT_TRUE(exportPictureTo(path));
    FIBITMAP* picture = FreeImage_Load(FIF_PNG, path.c_str(), 0);
    ASSERT_NE(picture, nullptr);
    setProgressiveDrawing(false);
    forgetRecordLayer();
    w.renderFrame();
    int differing = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            RGBQUAD c{};
            FreeImage_GetPixelColor(picture, static_cast<unsigned>(x), static_cast<unsigned>(kHeight - 1 - y), &c);
            differing += !(GlTestWindow::Rgb{c.rgbRed, c.rgbGreen, c.rgbBlue} == w.pixel(x, y));
        }
    EXPECT_EQ(differing, 0);
    FreeImage_Unload(picture);
    std::remove(path.c_str());
    setProgressiveDrawing(true);
}

// The highlighted record goes over every other record's lines, drawn first
// in the file or not, by GL and on the CPU.
TEST_F(RecordLayerTest, TheHighlightedRecordIsDrawnOverTheOthersOnEveryPath) {
    std::ostringstream text;
    text << "1000 3 3 0\nid a b c\n";
    for (int r = 0; r < 999; ++r) text << "50 50 50\n";  // one line, the first record's
    text << "0 100 0\n";
    for (RecordLayerChoice choice : {RecordLayerChoice::Gl, RecordLayerChoice::Software}) {
        load(text.str());
        plot->highlightRecord(0);
        render(choice);
        const GlTestWindow& w = GlTestWindow::at(kWidth, kHeight);
        // Where its line crosses the middle of the first region.
        const FrameAxes frame = frameAxes();
        const double x = 0.5 * (plot->axisPositions[0] + plot->axisPositions[1]);
        const double y = 0.5 * (frame.normalized[0][0] * frame.height[0] + frame.bottom[0] +
                                frame.normalized[1][0] * frame.height[1] + frame.bottom[1]);
        const GlTestWindow::Rgb p = w.pixel(w.column(x), w.row(y));
        EXPECT_GT(p.r, p.g + 100) << (choice == RecordLayerChoice::Gl ? "gl" : "software") << ' ' << p.r << ' ' << p.g;
    }
}
