// Data in and out with a display: the picture export reads back the frame
// as shown, and the real program opens a table named on its command line.

#include <gtest/gtest.h>
#include <unistd.h>

#include <FreeImage.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/platform.h"
#include "data/table.h"
#include "plot/axis.h"
#include "plot/plot.h"
#include "render/picture.h"

#include "gl_test_window.h"
#include "program_driver.h"

namespace {

using namespace std::chrono_literals;

TEST(PictureExportTest, WritesTheShownFrameAsPng) {
    GlTestWindow& window = GlTestWindow::at(320, 180);
    ASSERT_TRUE(setDataFileName(KORVELLINE_TEST_DATA_DIR "/small.txt"));
    loadDataFile();
    ASSERT_NE(plot, nullptr);
    ASSERT_EQ(plot->axisCount, 2);
    window.renderFrame();

    const std::string path = ::testing::TempDir() + "korvelline_picture_" + std::to_string(::getpid()) + ".png";
    std::ostringstream traced;
    setTraceStream(&traced);
    const bool written = exportPictureTo(path);
    setTraceStream(nullptr);
    ASSERT_TRUE(written);
    EXPECT_EQ(traced.str(), " picture written to " + path + "\n");

    FIBITMAP* picture = FreeImage_Load(FIF_PNG, path.c_str(), 0);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(FreeImage_GetWidth(picture), 320u);
    EXPECT_EQ(FreeImage_GetHeight(picture), 180u);
    auto at = [&](int x, int y) {  // y from the top, as on screen
        RGBQUAD c{};
        FreeImage_GetPixelColor(picture, static_cast<unsigned>(x), static_cast<unsigned>(179 - y), &c);
        return GlTestWindow::Rgb{c.rgbRed, c.rgbGreen, c.rgbBlue};
    };
    // The first axis stands at 0.1 of the width; above the records the background is white.
    const int axisX = window.column(plot->axes[0]->position);
    int darkest = 0;
    for (int x = axisX - 2; x <= axisX + 2; ++x) darkest = std::max(darkest, at(x, window.row(0.5)).darkness());
    EXPECT_GT(darkest, 150) << "no axis at column " << axisX;
    EXPECT_TRUE(at(window.column(0.5), window.row(0.97)).white());
    // Pixel for pixel the frame that the window shows.
    int differing = 0;
    for (int y = 0; y < 180; ++y)
        for (int x = 0; x < 320; ++x) differing += !(at(x, y) == window.pixel(x, y));
    EXPECT_EQ(differing, 0);
    FreeImage_Unload(picture);
    std::remove(path.c_str());

    dataFileName[0] = '\0';
    loadDataFile();
}

class CommandLineProgramTest : public ::testing::Test {
protected:
    gui::ProgramDriver driver;

    void SetUp() override {
        const std::string problem = gui::ProgramDriver::environmentProblem();
        ASSERT_TRUE(problem.empty()) << problem;
    }
    void TearDown() override {
        if (HasFailure()) driver.keepWorkDir();
        driver.kill();
    }
    void start(const std::vector<std::string>& args) {
        std::string error;
        ASSERT_TRUE(driver.start(&error, args)) << error;
        ASSERT_TRUE(driver.waitForWindow(20s)) << "no window; output:\n" << driver.output();
    }
};

TEST_F(CommandLineProgramTest, StartsWithTheTableNamedOnTheCommandLine) {
    // A toolkit switch beside the table still reaches the window.
    ASSERT_NO_FATAL_FAILURE(start({"-scheme", "gtk+", "penguins.csv"}));
    EXPECT_TRUE(driver.waitForLineStartingWith(
        " csv column bill_length_mm: 2 missing values drawn at 29.35, below the range", 10s));
    // The table loads once the window is up, after the textures that need its GL context.
    const std::string& output = driver.output();
    EXPECT_LT(output.find(" init texture success straw.bmp"), output.find(" csv column bill_length_mm: "));
    // Eight dimensions, all shown, evenly spaced from 0.1 to 0.93.
    gui::Frame frame;
    const bool drawn = driver.waitForFrame(
        "penguins", [](const gui::Frame& f) {
            const int top = gui::screenY(0.88), bottom = gui::screenY(0.12);
            for (int k = 0; k < 8; ++k)
                if (f.darkRowsNear(gui::screenX(0.1 + k * 0.83 / 7), 2, top, bottom) < (bottom - top) * 9 / 10)
                    return false;
            return true;
        },
        10s, &frame);
    EXPECT_TRUE(drawn) << "the eight axes were not drawn; see " << frame.path;
}

TEST_F(CommandLineProgramTest, ExportMenuWritesTheRecordsAndThePicture) {
    ASSERT_NO_FATAL_FAILURE(start({"penguins.csv"}));
    ASSERT_TRUE(driver.waitForLineStartingWith(" csv column body_mass_g: ", 10s));
    const std::string table = driver.workDir() + "/selected.txt";
    auto firstLine = [&] {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line);
        return line;
    };
    std::string error, line;

    std::size_t from = driver.mark();
    ASSERT_TRUE(driver.saveThroughMenu(2, 0, "selected.txt", &error)) << error;
    ASSERT_TRUE(driver.waitForLineStartingWith(" exported 344 records to ", 10s, from, &line));
    EXPECT_EQ(line.substr(line.size() - 13), "/selected.txt");
    EXPECT_EQ(firstLine(), "344 8 8 0");

    // The file exists now: Escape in the question keeps it, Return replaces it.
    std::ofstream(table) << "keep\n";
    for (const char* answer : {"Escape", "Return"}) {
        SCOPED_TRACE(answer);
        const std::vector<std::string> before = driver.shownWindows();
        from = driver.mark();
        ASSERT_TRUE(driver.saveThroughMenu(2, 0, "selected.txt", &error)) << error;
        ASSERT_TRUE(driver.answerDialog(before, answer, &error)) << error;
        const bool exported = driver.waitForLineStartingWith(" exported 344 records to ", 3s, from);
        EXPECT_EQ(exported, std::string(answer) == "Return");
        EXPECT_EQ(firstLine(), exported ? "344 8 8 0" : "keep");
    }

    from = driver.mark();
    ASSERT_TRUE(driver.saveThroughMenu(2, 1, "view.png", &error)) << error;
    ASSERT_TRUE(driver.waitForLineStartingWith(" picture written to ", 10s, from, &line));
    FIBITMAP* picture = FreeImage_Load(FIF_PNG, (driver.workDir() + "/view.png").c_str(), 0);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(FreeImage_GetWidth(picture), 1180u);
    EXPECT_EQ(FreeImage_GetHeight(picture), 500u);
    auto darkness = [&](int x, int y) {
        RGBQUAD c{};
        FreeImage_GetPixelColor(picture, static_cast<unsigned>(x), static_cast<unsigned>(499 - y), &c);
        return 255 - (c.rgbRed + c.rgbGreen + c.rgbBlue) / 3;
    };
    int axis = 0;  // the species axis at 0.1 of the width, halfway up
    for (int x = 116; x <= 120; ++x) axis = std::max(axis, darkness(x, 200));
    EXPECT_GT(axis, 150);
    EXPECT_EQ(darkness(590, 4), 0);
    FreeImage_Unload(picture);
}

TEST_F(CommandLineProgramTest, MissingTableIsReportedAndTheViewerStartsEmpty) {
    ASSERT_NO_FATAL_FAILURE(start({"no-such-table.csv"}));
    EXPECT_TRUE(driver.waitForLineStartingWith(" cannot open no-such-table.csv, file not loaded", 10s));
    EXPECT_TRUE(driver.running());
}

// The refusal of a bad table is shown right-aligned in a band at the bottom
// of the drawing area, beside its unchanged trace line, until the next load.
TEST_F(CommandLineProgramTest, RefusalShowsInTheWindowUntilTheNextLoad) {
    std::ofstream(driver.workDir() + "/bad.csv") << "a,b\n1,2\n3\n";
    ASSERT_NO_FATAL_FAILURE(start({"bad.csv"}));
    const std::string refusal = " bad csv, row 2 has 1 fields, the header 2, file not loaded";
    ASSERT_TRUE(driver.waitForLineStartingWith(refusal, 10s));
    const int top = gui::screenY(0.032), bottom = gui::screenY(0.0) - 1;
    const auto darkIn = [&](const gui::Frame& f, double from, double to) {
        return f.count(gui::screenX(from), top, gui::screenX(to) - 1, bottom, [](gui::Rgb c) { return c.dark(); });
    };
    gui::Frame frame;
    EXPECT_TRUE(driver.waitForFrame(
        "refused", [&](const gui::Frame& f) { return darkIn(f, 0.6, 0.9) > 40 && darkIn(f, 0.0, 0.3) == 0; }, 10s,
        &frame))
        << "no message in the band: " << frame.path;
    std::string error;
    ASSERT_TRUE(driver.openFile("small.txt", &error)) << error;
    EXPECT_TRUE(driver.waitForFrame("loaded", [&](const gui::Frame& f) { return darkIn(f, 0.3, 0.9) == 0; }, 10s,
                                    &frame))
        << "the message outlived the next load: " << frame.path;
    int lines = 0;
    for (const std::string& l : driver.outputLines()) lines += l.find("bad csv") != std::string::npos;
    EXPECT_EQ(lines, 1);
}

// A name typed the moment a save chooser maps lands in its directory.
TEST_F(CommandLineProgramTest, NameTypedAtOnceIntoTheChooser) {
    ASSERT_NO_FATAL_FAILURE(start({"penguins.csv"}));
    ASSERT_TRUE(driver.waitForLineStartingWith(" csv column body_mass_g: ", 10s));
    int x = 0, y = 0, w = 0, h = 0;
    std::string error, line;
    const std::size_t from = driver.mark();
    ASSERT_FALSE(driver.findChooser(x, y, w, h, &error, 2, 2).empty()) << error;
    ASSERT_TRUE(driver.runScript("mousemove " + std::to_string(x + w / 2) + " " + std::to_string(y + h / 4) +
                                     "\ntype --delay 15 p2n\nkey Return\n",
                                 10s));
    ASSERT_TRUE(driver.waitForLineStartingWith(" session ", 10s, from, &line));
    EXPECT_EQ(line, " session saved to " + driver.workDir() + "/p2n.korvelline");
}

TEST(CommandLineHelpTest, HelpPrintsUsageAndExitsZero) {
    std::string output;
    EXPECT_EQ(gui::runCommand({KORVELLINE_BINARY, "--help"}, 10s, &output), 0);
    EXPECT_EQ(output.rfind("usage: korvelline", 0), 0u) << output;
    EXPECT_EQ(gui::runCommand({KORVELLINE_BINARY, "a.txt", "b.txt"}, 10s), 2);
}

}  // namespace
