// korvelline-convert in.csv out.txt: writes a comma- or tab-separated,
// Parquet or JSON table in the text format the viewer reads, with the same
// column rules as opening the file directly.

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "data/table.h"
#include "data/table_content.h"
#include "data/table_writer.h"

namespace {

const char* const usage =
    "usage: korvelline-convert in.csv out.txt\n"
    "  Reads in.csv (tab-separated when its name ends in .tsv or .tab, Parquet\n"
    "  or JSON when it ends in .parquet or .json, comma-separated otherwise)\n"
    "  with the viewer's column rules and writes the table in the text format.\n"
    "  Time columns are written as seconds since 1970-01-01 00:00 UTC, since\n"
    "  the text format has no dates.\n";

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
    std::error_code error;
    if (!std::filesystem::exists(argv[1], error)) {
        std::fprintf(stderr, "korvelline-convert: cannot read %s\n", argv[1]);
        return 1;
    }
    TableContent content;
    // The column notes and refusals are the viewer's trace lines, on
    // standard output; the file is read in pieces as the viewer reads it.
    LoadOptions options;
    options.otherNamesAsCsv = true;
    if (readTableFileOrRefuse(argv[1], content, options) != LoadResult::Loaded) {
        std::fprintf(stderr, "korvelline-convert: %s not converted\n", argv[1]);
        return 1;
    }
    if (!writeTableFile(content, argv[2])) {
        std::fprintf(stderr, "korvelline-convert: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
