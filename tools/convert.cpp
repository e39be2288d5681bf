// korvelline-convert in.csv out.txt: writes a comma- or tab-separated table
// in the text format the viewer reads, with the same column rules as opening
// the file directly.

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "data/csv_table.h"
#include "data/table_content.h"
#include "data/table_writer.h"

namespace {

const char* const usage =
    "usage: korvelline-convert in.csv out.txt\n"
    "  Reads in.csv (tab-separated when its name ends in .tsv or .tab, comma-\n"
    "  separated otherwise) with the viewer's column rules and writes the table\n"
    "  in the text format. Time columns are written as seconds since\n"
    "  1970-01-01 00:00 UTC, since the text format has no dates.\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(usage, stdout);
        return 0;
    }
    if (argc != 3) {
        std::fputs(usage, stderr);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "korvelline-convert: cannot read %s\n", argv[1]);
        return 1;
    }
    const std::vector<char> text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const char delimiter = delimiterForPath(argv[1]) == '\t' ? '\t' : ',';
    TableContent content;
    // The column notes and refusals are the viewer's trace lines, on standard output.
    if (readCsv(text.data(), text.size(), content, delimiter) != CsvResult::Read) {
        std::fprintf(stderr, "korvelline-convert: %s not converted\n", argv[1]);
        return 1;
    }
    if (!writeTableFile(content, argv[2])) {
        std::fprintf(stderr, "korvelline-convert: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
