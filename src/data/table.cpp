#include "data/table.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iterator>
#include <new>
#include <string_view>
#include <thread>
#include <type_traits>

#include <xxhash.h>

#include "base/platform.h"
#include "data/csv_table.h"
#include "data/data_file.h"
#include "data/dimension.h"
#include "data/load_progress.h"
#include "data/table_content.h"

char dataFileName[dataFileNameSize] = "";
int recordCount = 0;
int dimensionCount = 0;
int shownDimensionCount = 0;
bool hasRecordLabels = false;
std::vector<std::string> recordLabels;
std::array<std::unique_ptr<double[]>, maxSlots> rawValues;
std::array<Dimension*, maxSlots> dimensionTable{};
std::uint64_t tableGeneration = 0;
std::uint64_t tableSourceBytes = 0;
std::uint64_t tableSourceHash = 0;

namespace {

// Values beyond this magnitude would overflow the range arithmetic.
constexpr double largestValue = 1e300;
// Record sections from this size on are parsed by two threads.
constexpr size_t parallelBytes = 8 << 20;
// Records between two progress reports.
constexpr int progressRecords = 4096;

// What a saved view checks its table by: the bytes as read and their hash.
void takeFingerprint(const std::vector<char>& bytes, TableContent& content) {
    content.sourceBytes = bytes.size();
    content.sourceHash = XXH3_64bits(bytes.data(), bytes.size());
}

// The separators of a text stream: blank, tab, line feed, vertical tab, form feed, return.
bool isSeparator(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return u == ' ' || (u >= '\t' && u <= '\r');
}

// Tokens starting in [p, end), given whether the byte before p separates.
// Each byte is tested against the one before it rather than against a
// carried state, so the loop runs on vector instructions.
unsigned long long tokenStarts(const char* p, const char* end, bool separatorBefore) {
    if (p == end) return 0;
    unsigned long long count = separatorBefore && !isSeparator(*p) ? 1 : 0;
    for (const char* q = p + 1; q != end;) {
        const char* blockEnd = end - q > 65536 ? q + 65536 : end;
        unsigned block = 0;
        for (; q != blockEnd; ++q)
            block += static_cast<unsigned>(isSeparator(q[-1])) & static_cast<unsigned>(!isSeparator(*q));
        count += block;
    }
    return count;
}

// Where the token with index k (0 for the first) starts from p on, or end
// when there are not that many; p starts the text or follows a separator.
const char* skipTokens(const char* p, const char* end, unsigned long long k) {
    const char* const start = p;
    unsigned long long count = 0;
    while (p != end) {
        const char* blockEnd = end - p > 65536 ? p + 65536 : end;
        const bool separatorBefore = p == start || isSeparator(p[-1]);
        const unsigned long long inBlock = tokenStarts(p, blockEnd, separatorBefore);
        if (count + inBlock <= k) {
            count += inBlock;
            p = blockEnd;
            continue;
        }
        for (bool previous = separatorBefore; p != blockEnd; ++p) {
            const bool space = isSeparator(*p);
            if (previous && !space && count++ == k) return p;
            previous = space;
        }
    }
    return end;
}

// Whitespace-separated tokens of a file held in memory. Like a text stream,
// a failed read makes every later read fail and leave its target unchanged.
class TokenReader {
public:
    TokenReader() = default;
    TokenReader(const char* begin, const char* end) : cursor_(begin), end_(end), failed_(false) {}

    bool failed() const { return failed_; }
    void fail() { failed_ = true; }
    const char* position() const { return cursor_; }
    const char* end() const { return end_; }
    size_t remainingBytes() const { return static_cast<size_t>(end_ - cursor_); }
    // Whether the last token read was followed by a separator (or nothing
    // was read yet), so it cannot continue beyond the bytes in view.
    bool atSeparator() const { return cursor_ != end_; }

    // Tokens left to read, counting no further than limit (give or take a
    // block of bytes). The cursor follows a token or starts the text.
    unsigned long long countTokens(unsigned long long limit) const {
        unsigned long long count = 0;
        for (const char* p = cursor_; p != end_ && count < limit;) {
            const char* blockEnd = end_ - p > 65536 ? p + 65536 : end_;
            count += tokenStarts(p, blockEnd, p == cursor_ || isSeparator(p[-1]));
            p = blockEnd;
        }
        return count;
    }

    bool readText(std::string& out) {
        std::string_view token;
        if (!next(token)) return false;
        out.assign(token.data(), token.size());
        return true;
    }

    bool readInteger(long long& out) {
        std::string_view token;
        if (!next(token)) return false;
        return parse(token, out);
    }

    bool readNumber(double& out) {
        std::string_view token;
        if (!next(token)) return false;
        return parse(token, out);
    }

private:
    bool next(std::string_view& token) {
        if (failed_) return false;
        const char* p = cursor_;
        while (p != end_ && isSeparator(*p)) ++p;
        if (p == end_) {
            cursor_ = p;
            failed_ = true;
            return false;
        }
        const char* start = p;
        while (p != end_ && !isSeparator(*p)) ++p;
        cursor_ = p;
        token = std::string_view(start, static_cast<size_t>(p - start));
        return true;
    }

    // A number token must be a number as a whole; anything else fails the reader.
    template <class T>
    bool parse(std::string_view token, T& out) {
        const char* first = token.data();
        const char* last = first + token.size();
        if (first != last && *first == '+' && last - first > 1 && first[1] != '-') ++first;
        T value{};
        const auto result = std::from_chars(first, last, value);
        if (result.ptr != last) {
            failed_ = true;
            return false;
        }
        if (result.ec == std::errc::result_out_of_range) {
            if constexpr (std::is_floating_point_v<T>) {
                // Overflow reads as infinite (refused later), underflow as tiny or zero.
                value = std::strtod(std::string(token).c_str(), nullptr);
            } else {
                failed_ = true;
                return false;
            }
        } else if (result.ec != std::errc()) {
            failed_ = true;
            return false;
        }
        out = value;
        return true;
    }

    const char* cursor_ = nullptr;
    const char* end_ = nullptr;
    bool failed_ = true;  // a reader over no file fails every read
};

}  // namespace

void releaseTable() {
    tableSourceBytes = tableSourceHash = 0;
    recordLabels.clear();
    recordLabels.shrink_to_fit();
    for (auto& slot : rawValues) slot.reset();
}

void clearTableCounts() {
    recordCount = dimensionCount = shownDimensionCount = 0;
    hasRecordLabels = false;
}

namespace {

// Reads the label sections of the trailer until the file ends. A section
// for a dimension that has one already replaces it.
void readTrailer(TokenReader& reader, TableContent& content) {
    std::string token;
    std::string name;
    std::vector<LabelEntry> entries;
    while (reader.readText(token)) {
        if (token != "label") continue;
        long long count = 0;
        if (!reader.readText(name) || !reader.readInteger(count)) break;
        // Each entry takes two tokens of at least one character and a
        // separator; blank space is no room for entries either, and the
        // entries and the dimension's copy must fit in memory.
        const unsigned long long tokens = 2 * static_cast<unsigned long long>(count < 0 ? 0 : count);
        if (count < 0 || static_cast<unsigned long long>(count) > (reader.remainingBytes() + 1) / 4 ||
            tokens * sizeof(LabelEntry) > loadMemoryLimit() || reader.countTokens(tokens) < tokens) {
            trace(" bad label section ", name);
            break;
        }
        entries.assign(static_cast<size_t>(count), LabelEntry{});
        for (LabelEntry& entry : entries) {
            reader.readNumber(entry.value);
            reader.readText(entry.text);
        }
        if (reader.failed()) {
            trace(" bad label section ", name);
            break;
        }
        const auto named = std::find(content.names.begin(), content.names.end(), name);
        if (named == content.names.end()) continue;
        const int dimension = static_cast<int>(named - content.names.begin());
        auto kept = std::find_if(content.sections.begin(), content.sections.end(),
                                 [dimension](const LabelSection& s) { return s.dimension == dimension; });
        if (kept == content.sections.end())
            kept = content.sections.insert(content.sections.end(), LabelSection{dimension, {}});
        kept->entries.swap(entries);
    }
}

// The header must lie within the first bytes: a file is judged before the
// rest of it is read.
constexpr size_t headerBytes = 64 * 1024;

struct Header {
    long long records = 0;
    long long dimensions = 0;
    long long shown = 0;
    bool labelled = false;
};

// Reads and checks the four header integers from the start of the file.
// Empty or Refused (with its trace line) when the file goes no further.
LoadResult readHeader(const std::vector<char>& prefix, bool wholeFile, Header& header) {
    TokenReader reader(prefix.data(), prefix.data() + prefix.size());
    long long values[4] = {0, 0, 0, 0};
    for (long long& value : values) reader.readInteger(value);
    if (reader.failed() || (!wholeFile && !reader.atSeparator())) {
        trace(" bad header, file not loaded");
        return LoadResult::Empty;
    }
    header.records = values[0];
    header.dimensions = values[1];
    header.shown = values[2];
    header.labelled = values[3] != 0;
    if (header.dimensions >= maxSlots) {
        trace(" too many axis");
        return LoadResult::Refused;
    }
    if (header.records < 0 || header.dimensions < 0 || header.records > INT_MAX - 100) {
        trace(" bad header, file not loaded");
        return LoadResult::Empty;
    }
    return LoadResult::Loaded;
}

// Zeroes the values of records [first, last) from field `field` of the first
// one on, and empties their labels after the first: what a stream that
// failed there would have left.
void clearRecords(TableContent& content, int first, int field, int last) {
    if (first >= last) return;
    const int dimensions = static_cast<int>(content.names.size());
    for (int j = field; j < dimensions; ++j) content.columns[j][first] = 0.0;
    for (int j = 0; j < dimensions; ++j)
        std::fill(content.columns[j].get() + first + 1, content.columns[j].get() + last, 0.0);
    if (content.hasLabels)
        for (int i = first + 1; i < last; ++i) content.labels[i].clear();
}

// How far one parser got through its records.
struct RecordSpan {
    int malformed = -1;  // first record with a missing or malformed token
    int badValue = -1;   // first record with a non-finite or overlarge value
    bool clean() const { return malformed < 0 && badValue < 0; }
};

// Reads records [first, last) into content, stopping at the first fault.
// Values it did not read are zero afterwards.
RecordSpan readRecords(TokenReader& reader, TableContent& content, int first, int last) {
    RecordSpan span;
    const int dimensions = static_cast<int>(content.names.size());
    const char* reported = reader.position();
    for (int i = first; i < last; ++i) {
        if ((i - first) % progressRecords == 0) {
            addLoadParsed(static_cast<size_t>(reader.position() - reported));
            reported = reader.position();
        }
        if (content.hasLabels) reader.readText(content.labels[i]);
        int j = 0;
        for (; j < dimensions; ++j) {
            double& value = content.columns[j][i];
            if (!reader.readNumber(value)) break;
            if (!std::isfinite(value) || std::fabs(value) > largestValue) {
                span.badValue = i;
                return span;
            }
        }
        if (reader.failed()) {
            span.malformed = i;
            clearRecords(content, i, j, last);
            break;
        }
    }
    addLoadParsed(static_cast<size_t>(reader.position() - reported));
    return span;
}

// Reads the records, from large files in two parts at once: the second
// parser counts the first part's tokens to find where it starts, then reads
// on from there. Counting costs a tenth or less of parsing, so the first
// part is a little larger and both end at about the same time. The parts
// are cut by record count, so the table does not depend on the number of
// cores, and the first fault in file order is the one reported.
RecordSpan readAllRecords(TokenReader& reader, TableContent& content) {
    const int records = content.recordCount;
    const unsigned long long perRecord = content.names.size() + (content.hasLabels ? 1 : 0);
    if (perRecord == 0 || records < 2 || reader.remainingBytes() < parallelBytes)
        return readRecords(reader, content, 0, records);

    const int cut = records / 2 + records / 50;
    // Taken before the first parser moves the reader on.
    const char* recordsStart = reader.position();
    const char* end = reader.end();
    TokenReader second;
    RecordSpan secondSpan;
    std::exception_ptr secondFailure;
    RecordSpan firstSpan;
    {
        std::thread worker([&] {
            try {
                const char* start = skipTokens(recordsStart, end, static_cast<unsigned long long>(cut) * perRecord);
                second = TokenReader(start, end);
                secondSpan = readRecords(second, content, cut, records);
            } catch (...) {
                secondFailure = std::current_exception();
            }
        });
        struct Joiner {
            std::thread& thread;
            ~Joiner() { thread.join(); }
        } joiner{worker};
        firstSpan = readRecords(reader, content, 0, cut);
    }
    if (secondFailure) std::rethrow_exception(secondFailure);
    if (!firstSpan.clean()) {
        // The second part lies beyond the fault: a stream never got there.
        clearRecords(content, cut, 0, records);
        if (content.hasLabels) content.labels[cut].clear();
        return firstSpan;
    }
    reader = second;
    return secondSpan;
}

LoadResult parseText(const std::vector<char>& buffer, Header header, TableContent& content) {
    TokenReader reader(buffer.data(), buffer.data() + buffer.size());
    long long skipped = 0;
    for (int k = 0; k < 4; ++k) reader.readInteger(skipped);

    // Short files are read with zeros for what is missing, but blank space
    // is no room for records: the records must find at least a quarter of
    // their tokens after the names.
    const unsigned long long nameTokens = static_cast<unsigned long long>(header.dimensions) + 1;
    const unsigned long long needed = static_cast<unsigned long long>(header.records) *
                                      static_cast<unsigned long long>(header.dimensions + (header.labelled ? 1 : 0));
    const unsigned long long quarter = (needed + 3) / 4;
    if (needed > 0 && reader.countTokens(nameTokens + quarter) < nameTokens + quarter) {
        trace(" record count exceeds the file, file not loaded");
        return LoadResult::Empty;
    }
    if (header.shown < 0 || header.shown > header.dimensions) {
        header.shown = std::clamp(header.shown, 0LL, header.dimensions);
        trace(" shown dimensions clamped to ", header.shown);
    }

    content.recordCount = static_cast<int>(header.records);
    content.shownCount = static_cast<int>(header.shown);
    content.hasLabels = header.labelled;
    const size_t records = static_cast<size_t>(header.records);
    // Not zeroed here: the parsers write every value or zero what they could not read.
    content.columns.reserve(static_cast<size_t>(header.dimensions));
    for (long long j = 0; j < header.dimensions; ++j)
        content.columns.push_back(std::unique_ptr<double[]>(new double[records]));
    // Unlabelled tables keep no per-record strings; readers of labels check the size.
    if (content.hasLabels) content.labels.assign(records, std::string());

    std::vector<std::string> names(static_cast<size_t>(header.dimensions) + 1);
    for (std::string& name : names) reader.readText(name);
    content.labelColumnName = std::move(names[0]);
    content.names.assign(std::make_move_iterator(names.begin() + 1), std::make_move_iterator(names.end()));

    const RecordSpan span = readAllRecords(reader, content);
    if (span.badValue >= 0) {
        trace(" bad value in record ", span.badValue + 1, ", file not loaded");
        return LoadResult::Empty;
    }
    if (span.malformed >= 0) trace(" malformed or missing number in record ", span.malformed + 1);
    readTrailer(reader, content);
    return LoadResult::Loaded;
}

// Opens, judges and parses path into content, touching nothing else: this
// runs on the load's worker thread.
LoadResult readTableFile(const std::string& path, TableContent& content) {
    DataFile file;
    switch (file.open(path.c_str())) {
    case DataFile::Status::Opened:
        break;
    case DataFile::Status::Unopenable:
        return LoadResult::Empty;  // no news, as for an empty path
    case DataFile::Status::NotRegular:
        trace(" not a regular file, file not loaded");
        return LoadResult::Empty;
    case DataFile::Status::TooLarge:
        trace(" file too large, file not loaded");
        return LoadResult::Empty;
    }
    setLoadSize(file.size());
    std::vector<char> buffer;
    if (const char delimiter = delimiterForPath(path.c_str())) {
        // A CSV file has no header to judge first: it is read whole.
        if (!file.readAll(buffer)) {
            trace(" read error, file not loaded");
            return LoadResult::Empty;
        }
        const CsvResult result = readCsv(buffer.data(), buffer.size(), content, delimiter);
        takeFingerprint(buffer, content);
        if (result == CsvResult::TooManyDimensions) return LoadResult::Refused;
        if (result == CsvResult::Refused) return LoadResult::Empty;
        if (tableBytes(content.recordCount, static_cast<long long>(content.names.size()), content.hasLabels) >
            loadMemoryLimit()) {
            trace(" table too large for memory, file not loaded");
            return LoadResult::Empty;
        }
        return LoadResult::Loaded;
    }
    Header header;
    if (!file.readPrefix(headerBytes, buffer)) {
        trace(" read error, file not loaded");
        return LoadResult::Empty;
    }
    const LoadResult checked = readHeader(buffer, buffer.size() == file.size(), header);
    if (checked != LoadResult::Loaded) return checked;
    // Checked from the header alone, before the rest of the file is read.
    if (tableBytes(header.records, header.dimensions, header.labelled) > loadMemoryLimit()) {
        trace(" table too large for memory, file not loaded");
        return LoadResult::Empty;
    }
    if (buffer.size() < file.size() && !file.readAll(buffer)) {
        trace(" read error, file not loaded");
        return LoadResult::Empty;
    }
    takeFingerprint(buffer, content);
    return parseText(buffer, header, content);
}

}  // namespace

// The worker's whole job: whatever it refuses leaves content empty.
LoadResult readTableFileOrRefuse(const std::string& path, TableContent& content) {
    LoadResult result = LoadResult::Empty;
    try {
        result = readTableFile(path, content);
    } catch (const std::bad_alloc&) {
        content = TableContent();
        trace(" out of memory, file not loaded");
        return LoadResult::Empty;
    }
    if (result != LoadResult::Loaded) content = TableContent();
    return result;
}

unsigned long long tableBytes(long long records, long long dimensions, bool labelled) {
    if (records <= 0) return 0;
    // Raw values per dimension (positions on the axes are computed from
    // them, not kept); the plot's colour index and selection byte per
    // record; a label string when labelled.
    const unsigned long long perRecord = sizeof(double) * static_cast<unsigned long long>(dimensions) +
                                         sizeof(std::uint16_t) + sizeof(unsigned char) +
                                         (labelled ? sizeof(std::string) : 0);
    return static_cast<unsigned long long>(records) * perRecord;
}

void takeTable(TableContent& content) {
    recordCount = content.recordCount;
    dimensionCount = static_cast<int>(content.names.size());
    shownDimensionCount = content.shownCount;
    hasRecordLabels = content.hasLabels;
    tableSourceBytes = content.sourceBytes;
    tableSourceHash = content.sourceHash;
    // Unlabelled tables keep no per-record strings, as the text loader does.
    if (hasRecordLabels) recordLabels = std::move(content.labels);
    for (int j = 0; j < dimensionCount; ++j) rawValues[j] = std::move(content.columns[j]);
}

bool setDataFileName(const char* path) {
    const size_t length = std::strlen(path);
    if (length >= dataFileNameSize) return false;
    std::memcpy(dataFileName, path, length + 1);
    return true;
}
