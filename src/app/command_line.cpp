#include "app/command_line.h"

#include <string_view>

const char* usageText() {
    return "usage: korvelline [toolkit switches] [table.txt | table.csv]\n"
           "  Opens the table given (the whitespace text format, or CSV when the\n"
           "  name ends in .csv); without one the viewer starts empty.\n"
           "  --help          show this text and exit\n"
           "  --              take the next word as the table, even if it starts with -\n"
           "  toolkit switches: -display host:n.s  -geometry WxH+X+Y  -scheme name\n"
           "                    -title text  -name class  -bg color  -fg color  -iconic\n";
}

CommandLine parseCommandLine(int argc, char** argv, ToolkitArgFn toolkitArg) {
    CommandLine line;
    if (argc > 0) line.toolkitArgs.push_back(argv[0]);
    bool optionsEnded = false;
    for (int i = 1; i < argc && line.error.empty();) {
        const std::string_view word = argv[i];
        const bool option = !optionsEnded && word.size() > 1 && word[0] == '-';
        if (option && (word == "--help" || word == "-h")) {
            line.showHelp = true;
            ++i;
        } else if (option && word == "--") {
            optionsEnded = true;
            ++i;
        } else if (option) {
            const int first = i;
            if (word[1] == '-' || toolkitArg(argc, argv, i) == 0 || i <= first) {
                line.error = "unknown or incomplete option " + std::string(word);
            } else {
                for (int k = first; k < i; ++k) line.toolkitArgs.push_back(argv[k]);
            }
        } else if (!line.file.empty()) {
            line.error = "more than one table given: " + line.file + ", " + std::string(word);
        } else {
            line.file = word;
            ++i;
        }
    }
    // The toolkit's parser stops at the first null word.
    line.toolkitArgs.push_back(nullptr);
    return line;
}
