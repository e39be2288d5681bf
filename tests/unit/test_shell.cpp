// The fixed texts of the application shell and the guarded file path.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/platform.h"
#include "app/shell.h"
#include "data/table.h"
#include "plot/plot.h"

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

}  // namespace
