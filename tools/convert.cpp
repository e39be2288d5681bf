// korvelline-convert in.csv out.txt: writes a CSV table in the text format
// the viewer reads, with the same column rules as opening the CSV directly.

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "data/csv_table.h"
#include "data/table_content.h"
#include "data/table_writer.h"

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf("usage: korvelline-convert in.csv out.txt\n");
        return 0;
    }
    if (argc != 3) {
        std::fprintf(stderr, "usage: korvelline-convert in.csv out.txt\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "korvelline-convert: cannot read %s\n", argv[1]);
        return 1;
    }
    const std::vector<char> text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    TableContent content;
    // The column notes and refusals are the viewer's trace lines, on standard output.
    if (readCsv(text.data(), text.size(), content) != CsvResult::Read) {
        std::fprintf(stderr, "korvelline-convert: %s not converted\n", argv[1]);
        return 1;
    }
    if (!writeTableFile(content, argv[2])) {
        std::fprintf(stderr, "korvelline-convert: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
