// The fixed texts of the application shell and the guarded file path.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/shell.h"
#include "base/platform.h"
#include "data/load_progress.h"
#include "data/table.h"
#include "data/table_content.h"
#include "data/table_writer.h"
#include "plot/plot.h"
#include "test_support.h"

namespace {

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "every line ends with a newline";
    return lines;
}

TEST(ShellTexts, AboutTextAndTitlesCarryTheSameAddresses) {
    const std::string feedback = feedbackAddress;
    const std::string web = webAddress;
    EXPECT_EQ(linesOf(aboutText()),
              (std::vector<std::string>{"Korvelline   Varnholm   version beta 0.1 ", "",
                                        "feedback: " + feedback + " ", "", "Varnholm ", "",
                                        web + "  ", ""}));
    EXPECT_EQ(std::string(mainWindowTitle()), "Korvelline   Varnholm   version beta 0.1  " + feedback);
    EXPECT_STREQ(drawingAreaTitle, "Korvelline   Varnholm   version beta 1.0");
}

TEST(ShellTexts, HelpTextKeepsItsIndentsAndBlankLines) {
    const std::vector<std::string> lines = linesOf(helpText());
    ASSERT_EQ(lines.size(), 33u);
    EXPECT_EQ(lines[0], "Varnholm");
    EXPECT_EQ(lines[1], "November 24, 2009");
    EXPECT_EQ(lines[6], "  Most frequently used button.");
    EXPECT_EQ(lines[7], "\t1. Click on the color palette with SHIFT pressed: Switch color space mode.");
    EXPECT_EQ(lines[12],
              "\t6. Drag dimension indicators with ALT pressed: Put multiple dimensions' information "
              "into an MDS plot.");
    EXPECT_EQ(lines[13], " \t");
    EXPECT_EQ(lines[14], "  Note for free hand sketching:");
    EXPECT_EQ(lines[17], "\t");
    EXPECT_EQ(lines[21], " ");
    EXPECT_EQ(lines[23], "\t1. \"R\" & \"r\": Reset the program.");
    EXPECT_EQ(lines[28], "\t6. \"Page Up/Down\": Change background curves' opacity. ");
    EXPECT_EQ(lines[29], "\t7. \"Home/End\": Change point opacity.");
    EXPECT_EQ(lines[30], "");
    EXPECT_EQ(lines[31], std::string("feedback: ") + feedbackAddress + " ");
    EXPECT_EQ(lines[32], std::string(webAddress) + "  ");
}

TEST(ShellOpen, PathTooLongForTheNameBufferIsRefusedAndTheTableKept) {
    std::ostringstream traceOutput;
    setTraceStream(&traceOutput);
    dataFileName[0] = '\0';
    loadDataFile();
    PCPlot* before = plot;
    const std::string longPath(dataFileNameSize + 5, 'x');
    EXPECT_FALSE(openChosenPath(longPath.c_str()));
    EXPECT_EQ(plot, before) << "no load ran";
    EXPECT_STREQ(dataFileName, "");
    EXPECT_EQ(traceOutput.str(), " file path too long, not opened\n");
    setTraceStream(nullptr);
}

// While a file loads, the window keeps answering through the wait hook: what
// arrives then (keys, mouse, idle steps, menu commands) must find no table
// to act on, and the table installed afterwards is the one the file holds.
TEST(ShellLoad, InputAndMenuCommandsDuringALoadChangeNothing) {
    std::ostringstream traceOutput;
    setTraceStream(&traceOutput);
    // Two lines from the parse: the clamped shown count and a bad label section.
    testsupport::useTableFile("600000 2 5 1 name a b" + testsupport::largeRecords(600000) +
                                  " label b 1 -0.25 quarter label b -3",
                              "shell_load");
    const std::string path = dataFileName;
    loadDataFile();
    const std::string parseLines = traceOutput.str();
    ASSERT_EQ(parseLines, " shown dimensions clamped to 2\n bad label section b\n");
    const std::string table = tableText(selectedRecords());

    traceOutput.str("");
    std::vector<double> fractions;
    double later = -1.0;
    bool duringLoad = true;
    setLoadWaitHook([&](double fraction) {
        fractions.push_back(fraction);
        duringLoad = duringLoad && loadInProgress() && plot == nullptr;
        if (fractions.size() > 1) return;
        // The worker goes on while this thread is in the hook; past half
        // the file it has traced its first line.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (loadFraction() < 0.5 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        later = loadFraction();
        onKey('x', 5, 5);
        onSpecialKey(KeyPageUp, 5, 5);
        onMouseButton(LeftButton, ButtonPress, 300, 200);
        onMouseDrag(340, 220);
        onMouseHover(10, 10);
        onMouseButton(LeftButton, ButtonRelease, 340, 220);
        onMouseButton(WheelUp, ButtonPress, 300, 200);
        onIdle();
        openFile(nullptr, nullptr);
        closeFile(nullptr, nullptr);
        exportSelected(nullptr, nullptr);
        exportPicture(nullptr, nullptr);
    });
    loadDataFile();
    setLoadWaitHook(nullptr);

    ASSERT_FALSE(fractions.empty());
    EXPECT_TRUE(duringLoad);
    EXPECT_GT(later, fractions[0]);
    EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));
    EXPECT_FALSE(loadInProgress());
    EXPECT_EQ(std::string(dataFileName), path);
    // The keys' own lines come as they are pressed; the parse's after the join.
    EXPECT_EQ(traceOutput.str(), "keyboard x 120 5 5\nkeyboard U 65365 5 5\n" + parseLines);
    ASSERT_NE(plot, nullptr);
    EXPECT_EQ(tableText(selectedRecords()), table);
    EXPECT_FALSE(plot->antialiasingOff);
    EXPECT_FALSE(interaction.strokeActive);
    EXPECT_TRUE(axisBrushes.empty());

    dataFileName[0] = '\0';
    loadDataFile();
    setTraceStream(nullptr);
}

}  // namespace
