// Loads every input as a data file, checks the table and walks one frame.

#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quietHooks();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fuzz::MemoryFile file;
    static CaptureSink sink;
    static RecordPass pass;
    file.write(data, size);
    if (!setDataFileName(file.path())) return 0;
    loadDataFile();
    fuzz::checkTable();
    fuzz::walkFrame(0.0, sink, pass);
    return 0;
}
