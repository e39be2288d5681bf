#include "app/command_line.h"

#include <cctype>
#include <string_view>

namespace {

// word abbreviates name: a prefix of it, at least atLeast characters long.
bool abbreviates(std::string_view word, std::string_view name, std::size_t atLeast = 1) {
    if (word.size() < atLeast || word.size() > name.size()) return false;
    for (std::size_t k = 0; k < word.size(); ++k)
        if (std::tolower(static_cast<unsigned char>(word[k])) != name[k]) return false;
    return true;
}

}  // namespace

int toolkitSwitch(int argc, char** argv, int& i) {
    std::string_view word = argv[i];
    if (word.size() < 2 || word[0] != '-' || word[1] == '-') return 0;
    word.remove_prefix(1);
    if (abbreviates(word, "iconic") || abbreviates(word, "kbd") || abbreviates(word, "nokbd", 3) ||
        abbreviates(word, "dnd", 2) || abbreviates(word, "nodnd", 3) ||
        abbreviates(word, "tooltips", 2) || abbreviates(word, "notooltips", 3)) {
        ++i;
        return 1;
    }
    if (i + 1 >= argc) return 0;
    if (abbreviates(word, "geometry") || abbreviates(word, "display", 2) ||
        abbreviates(word, "title", 2) || abbreviates(word, "name", 2) ||
        abbreviates(word, "bg2", 3) || abbreviates(word, "background2", 11) ||
        abbreviates(word, "bg", 2) || abbreviates(word, "background", 10) ||
        abbreviates(word, "fg", 2) || abbreviates(word, "foreground", 10) ||
        abbreviates(word, "scheme")) {
        i += 2;
        return 2;
    }
    return 0;
}

const char* usageText() {
    return "usage: korvelline [toolkit switches] [table.txt | .csv | .tsv | .parquet | .json | view.korvelline]\n"
           "  Opens the table given (the whitespace text format; comma-separated when\n"
           "  the name ends in .csv, tab-separated when it ends in .tsv or .tab,\n"
           "  Parquet or JSON when it ends in .parquet or .json), or restores a saved\n"
           "  session (.korvelline) with its table; without one the viewer starts\n"
           "  empty.\n"
           "  --help          show this text and exit\n"
           "  --              take the next word as the table, even if it starts with -\n"
           "  toolkit switches: -display host:n.s  -geometry WxH+X+Y  -scheme name\n"
           "                    -title text  -name class  -bg color  -fg color  -iconic\n";
}

CommandLine parseCommandLine(int argc, char** argv) {
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
            if (word[1] == '-' || toolkitSwitch(argc, argv, i) == 0 || i <= first) {
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
