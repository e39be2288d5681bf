// Reads every input as a CSV file (as a tab-separated one when its size is
// odd); what is accepted becomes the loaded table, which is checked, drawn
// once, and has its ranges written as the axes show them.

#include <cstddef>
#include <cstdint>

#include "data/csv_table.h"
#include "data/dimension.h"
#include "data/table.h"
#include "data/table_content.h"
#include "fuzz_support.h"
#include "render/layers.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quietHooks();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static CaptureSink sink;
    static RecordPass pass;
    TableContent content;
    const char delimiter = size % 2 == 1 ? '\t' : ',';
    if (readCsv(reinterpret_cast<const char*>(data), size, content, delimiter) != TableRead::Read) return 0;
    installTable(content);
    fuzz::checkTable();
    fuzz::walkFrame(0.0, sink, pass);
    for (int j = 0; j < dimensionCount; ++j) {
        char text[40];
        formatValue(*dimensionTable[j], dimensionTable[j]->minimum, text, sizeof text);
        formatValue(*dimensionTable[j], dimensionTable[j]->maximum, text, sizeof text);
    }
    return 0;
}
