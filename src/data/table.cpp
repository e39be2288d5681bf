#include "data/table.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iterator>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string_view>
#include <type_traits>

#include "base/platform.h"
#include "base/parallel.h"
#include "data/block_reader.h"
#include "data/csv_table.h"
#include "data/data_file.h"
#include "data/duckdb_table.h"
#include "data/dimension.h"
#include "data/load_progress.h"
#include "data/table_content.h"
#include "data/text_columns.h"

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
int tableColumnRules = columnRulesVersion;

namespace {

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

// A number token must be a number as a whole.
template <class T>
bool parseToken(std::string_view token, T& out) {
    const char* first = token.data();
    const char* last = first + token.size();
    if (first != last && *first == '+' && last - first > 1 && first[1] != '-') ++first;
    T value{};
    const auto result = std::from_chars(first, last, value);
    if (result.ptr != last) return false;
    if (result.ec == std::errc::result_out_of_range) {
        if constexpr (!std::is_floating_point_v<T>) return false;
        // Overflow reads as infinite (refused later), underflow as tiny or zero.
        value = std::strtod(std::string(token).c_str(), nullptr);
    } else if (result.ec != std::errc()) {
        return false;
    }
    out = value;
    return true;
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
        if (parseToken(token, out)) return true;
        failed_ = true;
        return false;
    }

    bool readNumber(double& out) {
        std::string_view token;
        if (!next(token)) return false;
        if (parseToken(token, out)) return true;
        failed_ = true;
        return false;
    }

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

private:
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
        // The entries and their texts stay in the table: taken for good. A
        // section the load's memory cannot hold is bad like one too long.
        try {
            takeLoadMemory(static_cast<size_t>(count) * sizeof(LabelEntry));
            entries.assign(static_cast<size_t>(count), LabelEntry{});
            for (LabelEntry& entry : entries) {
                reader.readNumber(entry.value);
                std::string_view text;
                if (!reader.next(text)) break;
                if (text.size() >= sizeof(std::string) / 2) takeLoadMemory(text.size() + 1);
                entry.text.assign(text);
            }
        } catch (const LoadTooLarge&) {
            trace(" bad label section ", name);
            break;
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
            kept = content.sections.insert(content.sections.end(), LabelSection{dimension, {}, {}});
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
        traceRefusal(" bad header, file not loaded");
        return LoadResult::Empty;
    }
    header.records = values[0];
    header.dimensions = values[1];
    header.shown = values[2];
    header.labelled = values[3] != 0;
    if (header.dimensions >= maxSlots) {
        traceRefusal(" too many axis");
        return LoadResult::Refused;
    }
    if (header.records < 0 || header.dimensions < 0 || header.records > INT_MAX - 100) {
        traceRefusal(" bad header, file not loaded");
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

// Where reading the records stopped short: the token at which a record's
// number was missing or malformed, or was not finite or too large.
struct RecordFault {
    unsigned long long token = ~0ULL;
    bool badValue = false;
};

// Reads the text format's tokens in pieces, each knowing the index of its
// first token, so records are read on all cores from wherever they start.
class TextPieces {
public:
    TextPieces(TableContent& content, const Header& header, std::vector<std::string>& names)
        : content_(content), names_(names), dimensions_(static_cast<unsigned long long>(header.dimensions)),
          perRecord_(dimensions_ + (header.labelled ? 1 : 0)), recordsStart_(4 + dimensions_ + 1),
          recordsEnd_(recordsStart_ + static_cast<unsigned long long>(header.records) * perRecord_) {}

    // Cuts a piece after its last separator and counts its tokens; called
    // in order.
    std::size_t cut(const char* data, std::size_t size, bool atEnd) {
        std::size_t length = size;
        if (!atEnd) {
            while (length > 0 && !isSeparator(data[length - 1])) --length;
            if (length == 0) return 0;
        }
        firstTokens_.push_back(tokens_);
        tokens_ += tokenStarts(data, data + length, true);
        return length;
    }

    void parse(const Piece& piece) {
        unsigned long long token = firstTokens_[piece.index];
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (token >= fault_.token || token >= recordsEnd_) {
                // Beyond a fault, or the trailer: read once the records are in.
                if (token >= recordsEnd_ && token < trailerToken_) noteTrailer(token, piece.offset);
                return;
            }
        }
        TokenReader reader(piece.bytes.data(), piece.bytes.data() + piece.length);
        std::string_view text;
        unsigned long long record = 0, field = 0;
        if (token >= recordsStart_) {
            record = (token - recordsStart_) / perRecord_;
            field = (token - recordsStart_) % perRecord_;
        }
        const unsigned long long valueField = content_.hasLabels ? 1 : 0;
        for (; reader.next(text); ++token) {
            if (token < recordsStart_) {
                if (token >= 4) names_[token - 4].assign(text);
                continue;
            }
            if (token >= recordsEnd_) {
                std::lock_guard<std::mutex> lock(mutex_);
                noteTrailer(token, piece.offset + static_cast<std::uint64_t>(text.data() - piece.bytes.data()));
                return;
            }
            if (field < valueField) {
                // A label longer than a string holds in place takes its bytes beside it.
                if (text.size() >= sizeof(std::string) / 2) takeLoadMemory(text.size() + 1);
                content_.labels[record].assign(text);
            } else {
                double& value = content_.columns[field - valueField][record];
                if (!parseToken(text, value)) {
                    noteFault(token, false);
                    return;
                }
                if (!std::isfinite(value) || std::fabs(value) > largestValue) {
                    noteFault(token, true);
                    return;
                }
            }
            if (++field == perRecord_) {
                field = 0;
                ++record;
            }
        }
    }

    unsigned long long tokens() const { return tokens_; }
    unsigned long long recordsStart() const { return recordsStart_; }
    unsigned long long recordsEnd() const { return recordsEnd_; }
    RecordFault fault() const { return fault_; }
    std::uint64_t trailerOffset() const { return trailerOffset_; }
    bool hasTrailer() const { return trailerToken_ != ~0ULL; }
    // The record and the field of a token among the records.
    void place(unsigned long long token, int& record, int& field) const {
        record = static_cast<int>((token - recordsStart_) / perRecord_);
        const unsigned long long f = (token - recordsStart_) % perRecord_;
        field = static_cast<int>(content_.hasLabels ? (f == 0 ? 0 : f - 1) : f);
    }

private:
    void noteFault(unsigned long long token, bool badValue) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (token < fault_.token) fault_ = RecordFault{token, badValue};
    }
    // The first token of the trailer lies in the earliest piece beyond the records.
    void noteTrailer(unsigned long long token, std::uint64_t offset) {
        if (token >= trailerToken_) return;
        trailerToken_ = token;
        trailerOffset_ = offset;
    }

    TableContent& content_;
    std::vector<std::string>& names_;
    const unsigned long long dimensions_, perRecord_, recordsStart_, recordsEnd_;
    std::vector<unsigned long long> firstTokens_;  // per piece
    unsigned long long tokens_ = 0;
    std::mutex mutex_;
    RecordFault fault_;
    unsigned long long trailerToken_ = ~0ULL;
    std::uint64_t trailerOffset_ = 0;
};

// Reads the whole text format from the file in pieces; the header has been
// judged from the first bytes already.
LoadResult parseText(const DataFile& file, Header header, TableContent& content) {
    content.recordCount = static_cast<int>(header.records);
    content.hasLabels = header.labelled;
    const size_t records = static_cast<size_t>(header.records);
    // The values and labels become the table's: taken for good.
    takeLoadMemory(tableBytes(header.records, header.dimensions, header.labelled) -
                   (sizeof(std::uint16_t) + sizeof(unsigned char)) * records);
    // Not zeroed here: the pieces write every value, and what a fault left
    // unread is zeroed below.
    content.columns.reserve(static_cast<size_t>(header.dimensions));
    for (long long j = 0; j < header.dimensions; ++j)
        content.columns.push_back(newValues(records));
    // Unlabelled tables keep no per-record strings; readers of labels check the size.
    if (content.hasLabels) content.labels.assign(records, std::string());
    std::vector<std::string> names(static_cast<size_t>(header.dimensions) + 1);

    const ByteSource source(file);
    PieceReader reader(source, 0);
    TextPieces pieces(content, header, names);
    try {
        parsePieces(reader, pieceBytes,
                    [&](const char* data, std::size_t size, bool atEnd) { return pieces.cut(data, size, atEnd); },
                    threadsFor(0, 16), [&](Piece& piece) { pieces.parse(piece); });
    } catch (const PieceTooLong&) {
        traceRefusal(" token longer than ", maxPieceBytes >> 20, " MB, file not loaded");
        return LoadResult::Empty;
    }

    // Short files are read with zeros for what is missing, but blank space
    // is no room for records: the records must find at least a quarter of
    // their tokens after the names.
    const unsigned long long needed = pieces.recordsEnd() - pieces.recordsStart();
    if (needed > 0 && pieces.tokens() < pieces.recordsStart() + (needed + 3) / 4) {
        traceRefusal(" record count exceeds the file, file not loaded");
        return LoadResult::Empty;
    }
    if (header.shown < 0 || header.shown > header.dimensions) {
        header.shown = std::clamp(header.shown, 0LL, header.dimensions);
        trace(" shown dimensions clamped to ", header.shown);
    }
    content.shownCount = static_cast<int>(header.shown);
    content.labelColumnName = std::move(names[0]);
    content.names.assign(std::make_move_iterator(names.begin() + 1), std::make_move_iterator(names.end()));

    RecordFault fault = pieces.fault();
    // A file that ends early lacks the token after its last one.
    const unsigned long long missing = std::max(pieces.tokens(), pieces.recordsStart());
    if (missing < pieces.recordsEnd() && missing < fault.token) fault = RecordFault{missing, false};
    if (fault.token < pieces.recordsEnd()) {
        int record = 0, field = 0;
        pieces.place(fault.token, record, field);
        if (fault.badValue) {
            traceRefusal(" bad value in record ", record + 1, ", file not loaded");
            return LoadResult::Empty;
        }
        // What a stream that failed there would have left: zeros, and no trailer.
        clearRecords(content, record, field, content.recordCount);
        trace(" malformed or missing number in record ", record + 1);
    } else if (pieces.hasTrailer()) {
        Bytes trailer;
        const size_t trailerBytes = static_cast<size_t>(file.size() - pieces.trailerOffset());
        const LoadCharge trailerCharge(trailerBytes);
        if (!file.readAt(pieces.trailerOffset(), trailerBytes, trailer))
            throw std::runtime_error("read error");
        TokenReader trailerReader(trailer.data(), trailer.data() + trailer.size());
        readTrailer(trailerReader, content);
    }
    content.sourceBytes = source.size();
    content.sourceHash = reader.hash();
    return LoadResult::Loaded;
}

// Checked again once a table with a header of names has been read, with
// its real size.
bool fitsAfterReading(const TableContent& content) {
    if (tableBytes(content.recordCount, static_cast<long long>(content.names.size()), content.hasLabels) <=
        loadMemoryLimit())
        return true;
    traceRefusal(" table too large for memory, file not loaded");
    return false;
}

// Opens, judges and parses path into content, touching nothing else: this
// runs on the load's worker thread.
LoadResult readTableFile(const std::string& path, const LoadOptions& options, TableContent& content) {
    DataFile file;
    switch (file.open(path.c_str())) {
    case DataFile::Status::Opened:
        break;
    case DataFile::Status::Unopenable:
        // An empty path is the empty table; a file that cannot be opened
        // is named, and the view stays.
        if (path.empty()) return LoadResult::Empty;
        traceRefusal(" cannot open ", path, ", file not loaded");
        return LoadResult::Refused;
    case DataFile::Status::NotRegular:
        traceRefusal(" not a regular file, file not loaded");
        return LoadResult::Empty;
    case DataFile::Status::TooLarge:
        traceRefusal(" file too large, file not loaded");
        return LoadResult::Empty;
    }
    setLoadSize(file.size());
    if (const char* format = typedFormatForPath(path.c_str())) {
        const CsvResult result = readTypedFile(file, path.c_str(), format, content, ColumnRules::ofVersion(options.columnRules));
        if (result == CsvResult::TooManyDimensions) return LoadResult::Refused;
        if (result == CsvResult::Refused) return LoadResult::Empty;
        return fitsAfterReading(content) ? LoadResult::Loaded : LoadResult::Empty;
    }
    char delimiter = delimiterForPath(path.c_str());
    if (delimiter == 0 && options.otherNamesAsCsv) delimiter = ',';
    if (delimiter != 0) {
        // A CSV file has no header to judge first: it is judged by its
        // first megabyte, then read in pieces.
        const CsvResult result = readCsvFile(file, content, delimiter, ColumnRules::ofVersion(options.columnRules));
        if (result == CsvResult::TooManyDimensions) return LoadResult::Refused;
        if (result == CsvResult::Refused) return LoadResult::Empty;
        return fitsAfterReading(content) ? LoadResult::Loaded : LoadResult::Empty;
    }
    std::vector<char> buffer;
    Header header;
    if (!file.readPrefix(headerBytes, buffer)) {
        traceRefusal(" read error, file not loaded");
        return LoadResult::Empty;
    }
    const LoadResult checked = readHeader(buffer, buffer.size() == file.size(), header);
    if (checked != LoadResult::Loaded) return checked;
    // Checked from the header alone, before the rest of the file is read.
    if (tableBytes(header.records, header.dimensions, header.labelled) > loadMemoryLimit()) {
        traceRefusal(" table too large for memory, file not loaded");
        return LoadResult::Empty;
    }
    return parseText(file, header, content);
}

}  // namespace

// The worker's whole job: whatever it refuses leaves content empty.
LoadResult readTableFileOrRefuse(const std::string& path, TableContent& content, const LoadOptions& options) {
    LoadResult result = LoadResult::Empty;
    const LoadMemoryScope memory(options.heldBytes);
    try {
        result = readTableFile(path, options, content);
    } catch (const LoadTooLarge&) {
        content = TableContent();
        traceRefusal(" table too large for memory, file not loaded");
        return LoadResult::Empty;
    } catch (const std::bad_alloc&) {
        content = TableContent();
        traceRefusal(" out of memory, file not loaded");
        return LoadResult::Empty;
    } catch (const std::runtime_error&) {
        // The only one the readers throw: a file that could not be read on.
        content = TableContent();
        traceRefusal(" read error, file not loaded");
        return LoadResult::Empty;
    }
    if (result != LoadResult::Loaded) content = TableContent();
    content.columnRules = options.columnRules;
    return result;
}

void takeTable(TableContent& content) {
    recordCount = content.recordCount;
    dimensionCount = static_cast<int>(content.names.size());
    shownDimensionCount = content.shownCount;
    hasRecordLabels = content.hasLabels;
    tableSourceBytes = content.sourceBytes;
    tableSourceHash = content.sourceHash;
    tableColumnRules = content.columnRules > 0 ? content.columnRules : columnRulesVersion;
    // Unlabelled tables keep no per-record strings, as the text loader does.
    if (hasRecordLabels) recordLabels = std::move(content.labels);
    // Every dimension has an array, also a table of no records.
    for (int j = 0; j < dimensionCount; ++j)
        rawValues[j] = content.columns[j] ? std::move(content.columns[j]) : std::make_unique<double[]>(1);
}

bool setDataFileName(const char* path) {
    const size_t length = std::strlen(path);
    if (length >= dataFileNameSize) return false;
    std::memcpy(dataFileName, path, length + 1);
    return true;
}
