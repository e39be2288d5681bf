// Opens every input as a session file over one small table: "@TABLE@" in the
// input stands for the table's path, so the seed sessions reach their table
// wherever the fuzzer runs. What is restored is checked, walked through one
// frame and saved again; what is refused must leave the view as it was.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "data/table_content.h"
#include "data/table_writer.h"
#include "fuzz_support.h"
#include "session/saved_view.h"

namespace {

// Dates, a category, labels, a missing value: every kind of column.
const char* const tableCsv =
    "when,name,kind,x,y\n"
    "2001-03-14,a,p,1,0.5\n2001-03-15,b,q,2,NA\n2001-03-16,c,p,3,1.5\n"
    "2001-03-17,d,q,4,2\n2001-03-18,e,p,5,2.5\n2001-03-19,f,q,6,3\n";

std::filesystem::path folder;

std::string view() {
    if (plot == nullptr) return "no plot";
    std::string text = tableText(selectedRecords());
    for (int i = 0; i < plot->axisCount; ++i) text += " " + std::to_string(plot->axes[i]->dimensionIndex);
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quietHooks();
    folder = std::filesystem::temp_directory_path() / ("korvelline-fuzz-session-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "table.csv", std::ios::binary) << tableCsv;
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fuzz::MemoryFile file;
    static CaptureSink sink;
    static RecordPass pass;
    std::string text(reinterpret_cast<const char*>(data), size);
    const std::string table = (folder / "table.csv").string();
    for (std::size_t at = 0; (at = text.find("@TABLE@", at)) != std::string::npos; at += table.size())
        text.replace(at, 7, table);
    file.write(text);
    const std::string before = view();
    bool fading = true;
    if (!openSessionFrom(file.path(), fading)) {
        FUZZ_CHECK(view() == before);
        return 0;
    }
    fuzz::checkTable();
    fuzz::walkFrame(0.0, sink, pass);
    FUZZ_CHECK(saveSessionTo((folder / "again.korvelline").string(), fading));
    return 0;
}
