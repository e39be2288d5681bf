// Reads every input as a CSV file; what is accepted becomes the loaded
// table, which is checked and drawn once.

#include <cstddef>
#include <cstdint>

#include "data/csv_table.h"
#include "data/table_content.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quietHooks();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static CaptureSink sink;
    static RecordPass pass;
    TableContent content;
    if (readCsv(reinterpret_cast<const char*>(data), size, content) != CsvResult::Read) return 0;
    installTable(content);
    fuzz::checkTable();
    fuzz::walkFrame(0.0, sink, pass);
    return 0;
}
