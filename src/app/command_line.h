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

// Takes the toolkit switch at argv[i], advancing i past it and its value;
// returns the words taken, 0 when argv[i] is no toolkit switch (Fl::arg).
using ToolkitArgFn = int (*)(int argc, char** argv, int& i);

CommandLine parseCommandLine(int argc, char** argv, ToolkitArgFn toolkitArg);

const char* usageText();
