#pragma once
// The program's own arguments, taken out before the toolkit sees the rest:
// the toolkit's window parser exits on any word it does not know.

#include <string>
#include <vector>

struct CommandLine {
    bool showHelp = false;
    std::string error;               // set: the arguments are refused
    std::string file;                // the table to open at start, empty for none
    std::vector<char*> toolkitArgs;  // argv[0] and the toolkit's switches, for show(argc, argv)
};

// Recognises the toolkit's switch at argv[i] as its window parser does
// (-geometry, -display, -title, -name, -bg, -bg2, -fg, -scheme with a value;
// -iconic, -kbd, -nokbd, -dnd, -nodnd, -tooltips, -notooltips alone; unique
// abbreviations), without applying it: the window's show(argc, argv) does
// that later. Advances i past the words taken and returns their number, 0
// when argv[i] is no toolkit switch or lacks its value.
int toolkitSwitch(int argc, char** argv, int& i);

CommandLine parseCommandLine(int argc, char** argv);

const char* usageText();
