#pragma once
// A drawing area for tests that look at rendered pixels: one GLUT window of
// FLTK's GLUT layer per test process, double-buffered RGB like the program's,
// resized to what a test asks for. renderFrame() runs the reshape and display
// callbacks and reads the shown frame back with glReadPixels.
//
// Needs an X display (tests/gui/with_xvfb.sh provides one). With the
// environment variable KORVELLINE_SAVE_FRAMES set to a directory, every frame
// read back is also written there as a PPM named after the running test.

#include <FL/Fl.H>
#include <FL/glut.H>
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/platform.h"
#include "data/table.h"
#include "interaction/interaction.h"
#include "plot/plot.h"
#include "render/display.h"
#include "render/record_layer.h"
#include "session/session.h"
#include "shapes/shape.h"

class GlTestWindow {
public:
    struct Rgb {
        int r = 0;
        int g = 0;
        int b = 0;
        bool white() const { return r == 255 && g == 255 && b == 255; }
        // 0 for white, 255 for black.
        int darkness() const { return 255 - (r + g + b) / 3; }
        bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
    };

    // The shared window at the given size, made current.
    static GlTestWindow& at(int width, int height) {
        static GlTestWindow window;
        window.resize(width, height);
        return window;
    }

    int width() const { return width_; }
    int height() const { return height_; }

    // One frame exactly as the toolkit would draw it after a resize.
    void renderFrame() {
        glut_window->make_current();
        onReshape(width_, height_);
        onDisplay();
        glFinish();
        readBack();
    }

    // Reads the frame just drawn. The front buffer of a window under Xvfb
    // reads back black, while Mesa's swap leaves the back buffer holding the
    // frame it showed, so that is where the pixels come from.
    void readBack() {
        glut_window->make_current();
        pixels_.assign(static_cast<size_t>(width_) * height_ * 3, 0);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadBuffer(GL_BACK);
        glReadPixels(0, 0, width_, height_, GL_RGB, GL_UNSIGNED_BYTE, pixels_.data());
        if (const char* dir = std::getenv("KORVELLINE_SAVE_FRAMES")) {
            const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
            const std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "frame";
            writePpm(std::string(dir) + "/" + name + ".ppm");
        }
    }

    // Column x from the left, row y from the top, as on screen.
    Rgb pixel(int x, int y) const {
        if (x < 0 || y < 0 || x >= width_ || y >= height_) return {};
        const size_t row = static_cast<size_t>(height_ - 1 - y);
        const unsigned char* p = &pixels_[(row * width_ + x) * 3];
        return {p[0], p[1], p[2]};
    }

    // Pixel column and row of a view position under the default view box.
    int column(double u) const { return static_cast<int>(u * width_); }
    int row(double v) const { return static_cast<int>((1.0 - v) * height_); }

    bool writePpm(const std::string& path) const {
        std::ofstream out(path, std::ios::binary);
        out << "P6\n" << width_ << ' ' << height_ << "\n255\n";
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x) {
                const Rgb p = pixel(x, y);
                out.put(static_cast<char>(p.r)).put(static_cast<char>(p.g)).put(static_cast<char>(p.b));
            }
        return static_cast<bool>(out);
    }

private:
    GlTestWindow() = default;

    void resize(int width, int height) {
        bool grown = false;
        if (glut_window == nullptr) {
            glutInitDisplayMode(GLUT_DOUBLE | GLUT_RGB);
            glutInitWindowPosition(0, 0);
            glutInitWindowSize(width, height);
            char title[] = "render test";
            glutCreateWindow(title);
            // Exposures between tests redraw through the real callbacks.
            glutDisplayFunc(onDisplay);
            glutReshapeFunc(onReshape);
        } else if (glut_window->w() != width || glut_window->h() != height) {
            grown = width > glut_window->w() || height > glut_window->h();
            glut_window->size(width, height);
        }
        width_ = width;
        height_ = height;
        // A stray Escape (a key meant for another program's dialog) hides a
        // toolkit window; every later frame would then fail, so show it again.
        if (!glut_window->shown() || !glut_window->visible()) glut_window->show();
        // Let the server map or resize the window before anything is drawn.
        Fl::flush();
        for (int i = 0; i < 50 && !glut_window->visible(); ++i) Fl::wait(0.02);
        for (int i = 0; i < 5; ++i) Fl::wait(0.01);
        glut_window->make_current();
        if (grown) {
            // Mesa's buffers follow a grown window only after a whole frame
            // has been drawn at the new size (a blank one is not enough); that
            // frame is thrown away, and so is the record layer it kept.
            onReshape(width, height);
            onDisplay();
            glFinish();
            forgetRecordLayer();
        }
    }

    int width_ = 0;
    int height_ = 0;
    std::vector<unsigned char> pixels_;
};

// A test that loads tables of its own and looks at their frames: the trace
// is captured, the files live in a private directory, and the plot, the
// shapes, the interaction state and the hooks are cleared afterwards.
class TableFrameTest : public ::testing::Test {
protected:
    std::ostringstream trace;
    std::filesystem::path dir;

    void SetUp() override {
        setTraceStream(&trace);
        dir = std::filesystem::temp_directory_path() / ("korvelline-frames-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        forgetRecordLayer();
    }

    void TearDown() override {
        releasePlot();
        clearShapes();
        resetInteractionState();
        setClockHook(nullptr);
        setModifierHook(nullptr);
        setTraceStream(nullptr);
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }

    void load(const std::string& text) {
        const std::filesystem::path file = dir / "table.txt";
        std::ofstream(file) << text;
        ASSERT_TRUE(setDataFileName(file.c_str()));
        loadDataFile();
        ASSERT_NE(plot, nullptr);
    }
};
