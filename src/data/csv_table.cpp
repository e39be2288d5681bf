#include "data/csv_table.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <limits>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/parallel.h"
#include "base/platform.h"
#include "base/types.h"
#include "data/block_reader.h"
#include "data/data_file.h"
#include "data/load_progress.h"
#include "data/table.h"
#include "data/table_content.h"
#include "data/text_columns.h"

namespace {

// The first piece is parsed before the others to estimate the table from;
// it ends at the first line end past this size.
constexpr std::size_t samplePieceBytes = 1 << 20;
// Control characters within this many bytes from the start mark binary data.
constexpr std::size_t binaryCheckBytes = 1 << 16;

enum class Fault { None, Ragged, MisplacedQuote, UnterminatedQuote, Overflow };

// The rules of one kind of file. Blanks around unquoted fields are dropped
// (tabs too, unless they separate fields). A quote opens a quoted field
// only where a field begins; elsewhere it is refused in comma-separated
// text and an ordinary character in tab-separated text, since many
// tab-separated exports never quote.
struct Dialect {
    char delimiter = ',';
    bool strayQuotesRefused = true;
    bool stop[256] = {};   // ends an unquoted field's scan
    bool blank[256] = {};  // dropped around fields

    explicit Dialect(char d) : delimiter(d), strayQuotesRefused(d != '\t') {
        for (unsigned char c : {static_cast<unsigned char>(d), static_cast<unsigned char>('\n'),
                                static_cast<unsigned char>('\r')})
            stop[c] = true;
        if (strayQuotesRefused) stop[static_cast<unsigned char>('"')] = true;
        blank[static_cast<unsigned char>(' ')] = true;
        if (d != '\t') blank[static_cast<unsigned char>('\t')] = true;
    }
    bool isBlank(char c) const { return blank[static_cast<unsigned char>(c)]; }
    bool stops(char c) const { return stop[static_cast<unsigned char>(c)]; }
};

// Parses the rows of [p, end), calling sink.rowStart(), sink.cell(field,
// text) and sink.rowEnd(fields); any of them may return false to stop
// (rowEnd's false is the sink's own fault). Blank rows are skipped. Returns
// the fault found, with `at` after the last row read.
template <class Sink>
Fault parseRows(const Dialect& d, const char*& p, const char* end, Sink& sink, std::string& scratch,
                std::size_t maxRows = std::numeric_limits<std::size_t>::max()) {
    for (std::size_t row = 0; row < maxRows; ++row) {
        while (p != end && (d.isBlank(*p) || *p == '\n' || *p == '\r')) ++p;
        if (p == end) return Fault::None;
        if (!sink.rowStart()) return Fault::Overflow;
        for (std::size_t field = 0;; ++field) {
            while (p != end && d.isBlank(*p)) ++p;
            std::string_view cell;
            if (p != end && *p == '"') {
                const char* start = ++p;
                bool doubled = false;
                for (;;) {
                    const char* quote = static_cast<const char*>(std::memchr(p, '"', static_cast<std::size_t>(end - p)));
                    if (quote == nullptr) return Fault::UnterminatedQuote;
                    if (quote + 1 != end && quote[1] == '"') {
                        if (!doubled) scratch.clear();
                        doubled = true;
                        scratch.append(start == p ? start : p, quote + 1);
                        p = quote + 2;
                        start = p;
                        continue;
                    }
                    if (doubled) {
                        scratch.append(p, quote);
                        cell = scratch;
                    } else {
                        cell = std::string_view(start, static_cast<std::size_t>(quote - start));
                    }
                    p = quote + 1;
                    break;
                }
                while (p != end && d.isBlank(*p)) ++p;
                if (p != end && *p != d.delimiter && *p != '\n' && *p != '\r') return Fault::MisplacedQuote;
            } else {
                const char* start = p;
                while (p != end && !d.stops(*p)) ++p;
                if (p != end && *p == '"') return Fault::MisplacedQuote;
                const char* stop = p;
                while (stop != start && d.isBlank(stop[-1])) --stop;
                cell = std::string_view(start, static_cast<std::size_t>(stop - start));
            }
            sink.cell(field, cell);
            if (p != end && *p == d.delimiter) {
                ++p;
                continue;
            }
            if (p != end) ++p;  // the line end
            if (!sink.rowEnd(field + 1)) return Fault::Ragged;
            break;
        }
    }
    return Fault::None;
}

// Most columns a file may have: 999 dimensions and the record labels. A
// wider file is refused from its header, before any column is read.
constexpr std::size_t maxColumns = maxSlots;

// Collects the header's names; beyond maxColumns it only counts them.
struct HeaderSink {
    std::vector<std::string> names;
    std::size_t fields = 0;
    bool rowStart() { return true; }
    void cell(std::size_t, std::string_view text) {
        if (++fields <= maxColumns) names.emplace_back(text);
    }
    bool rowEnd(std::size_t) { return true; }
};

// One piece of rows and what was read from it.
struct CsvPiece {
    LoadCharge charge;         // its column records and own arrays
    std::uint64_t offset = 0;  // its bytes in the file, to read them again
    std::size_t length = 0;
    long long bound = 0;       // most rows its bytes can hold
    long long placed = 0;      // where its rows were written in the columns
    std::vector<std::unique_ptr<double[]>> own;  // its own arrays, when not placed
    long long rows = 0;
    Fault fault = Fault::None;
    std::size_t faultFields = 0;  // of a ragged row
    std::vector<ColumnPiece> columns;
};

// Reads cells into a piece's columns, the piece's row r at values[j][r].
struct CellSink {
    CsvPiece& piece;
    std::vector<double*> values;
    const std::vector<bool>* only = nullptr;  // reading again: these columns' texts
    long long row = -1;

    bool rowStart() { return ++row < piece.bound; }
    void cell(std::size_t j, std::string_view text) {
        if (j >= values.size() || (only != nullptr && !(*only)[j])) return;
        piece.columns[j].add(row, text, values[j][row]);
    }
    bool rowEnd(std::size_t fields) {
        if (fields == values.size()) return true;
        piece.faultFields = fields;
        return false;
    }
};

void parsePiece(const Dialect& d, const char* data, std::size_t length, CsvPiece& piece, std::vector<double*> values,
                const std::vector<bool>* only = nullptr) {
    CellSink sink{piece, std::move(values), only};
    std::string scratch;
    const char* p = data;
    piece.fault = parseRows(d, p, data + length, sink, scratch);
    piece.rows = sink.row + (piece.fault == Fault::None ? 1 : 0);
}

// Counts what each piece holds as it is read and finds where it may end:
// after a line end outside every quoted field.
class CsvCutter {
public:
    CsvCutter(const Dialect& d, bool skipBom) : d_(d), skipBom_(skipBom) {}

    std::size_t operator()(const char* data, std::size_t size, bool atEnd) {
        std::size_t from = 0;
        if (skipBom_ && size >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0) from = 3;
        if (skipBom_) {
            // Binary data is known from the first bytes, before a line end
            // is looked for: a file of zeros has none.
            const std::size_t head = std::min(size - from, binaryCheckBytes);
            for (std::size_t i = from; i < from + head; ++i) {
                const unsigned char c = static_cast<unsigned char>(data[i]);
                if (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != '\v') binary = true;
            }
        }
        std::size_t cut = atEnd || binary ? size : lastSafeLineEnd(data, from, size);
        // A header row that has not ended yet but already holds more fields
        // than a table may have is refused as it stands.
        if (cut == 0 && skipBom_ && headerFields(data + from, size - from) > maxColumns) {
            tooWide = true;
            cut = size;
        }
        if (cut == 0) return 0;
        if (skipBom_) {
            start_ = from;
            skipBom_ = false;
        } else {
            start_ = 0;
        }
        // One pass over the piece for everything it must count.
        const ByteCounts counts = countBytes(data, cut, '\n', '\r', '\0', '"');
        std::size_t pairs = 0;
        if (counts.b > 0)
            for (std::size_t i = 0; i + 1 < cut; ++i) pairs += data[i] == '\r' && data[i + 1] == '\n';
        const std::size_t lineFeeds = counts.a, returns = counts.b, nuls = counts.c;
        binary = binary || nuls > 0;
        // Every row ends in a line end (CR, LF or both), but the last.
        bound = static_cast<long long>(lineFeeds + returns - pairs) + (atEnd ? 1 : 0);
        return cut;
    }

    bool binary = false;
    bool tooWide = false;  // the header row holds more than maxColumns fields
    long long bound = 0;
    std::size_t start() const { return start_; }  // bytes before the text (a byte-order mark)

private:
    // Fields of the first row so far, however far it got.
    std::size_t headerFields(const char* data, std::size_t size) const {
        struct Counter {
            std::size_t fields = 0;
            bool rowStart() { return true; }
            void cell(std::size_t, std::string_view) { ++fields; }
            bool rowEnd(std::size_t) { return true; }
        } counter;
        std::string scratch;
        const char* p = data;
        parseRows(d_, p, data + size, counter, scratch, 1);
        return counter.fields;
    }

    // The last line end in [data, data + size): a line feed, or where a
    // piece has none, a carriage return (a file with CR line ends).
    static const char* lastLineEnd(const char* data, std::size_t size) {
        if (data == nullptr || size == 0) return nullptr;
        const char* lineEnd = static_cast<const char*>(memrchr(data, '\n', size));
        return lineEnd != nullptr ? lineEnd : static_cast<const char*>(memrchr(data, '\r', size));
    }

    // The end of the last line within size that ends outside every quoted
    // field, or 0. The piece starts outside quotes.
    std::size_t lastSafeLineEnd(const char* data, std::size_t from, std::size_t size) const {
        if (d_.strayQuotesRefused) {
            // Every quote opens, closes or doubles, so a line end outside
            // quotes has an even number of quotes before it (a stray quote
            // is refused where the parser meets it, before any cut matters).
            std::size_t quotes = countBytes(data + from, size - from, '"', '"', '"', '"').a;
            for (std::size_t end = size; end > from;) {
                const char* lineEnd = lastLineEnd(data + from, end - from);
                if (lineEnd == nullptr) return 0;
                const std::size_t at = static_cast<std::size_t>(lineEnd - data);
                for (std::size_t i = at + 1; i < end; ++i) quotes -= data[i] == '"';
                if (quotes % 2 == 0) return at + 1;
                end = at;
            }
            return 0;
        }
        // Tab-separated: only a quote where a field begins opens one.
        std::size_t safe = 0;
        bool quoted = false;
        for (std::size_t pos = from; pos < size;) {
            const char* found = static_cast<const char*>(std::memchr(data + pos, '"', size - pos));
            const std::size_t q = found != nullptr ? static_cast<std::size_t>(found - data) : size;
            if (!quoted) {
                const char* lineEnd = lastLineEnd(data + pos, q - pos);
                if (lineEnd != nullptr) safe = static_cast<std::size_t>(lineEnd - data) + 1;
                if (q == size) break;
                std::size_t before = q;
                while (before > from && data[before - 1] == ' ') --before;
                quoted = before == from || data[before - 1] == '\t' || data[before - 1] == '\n' ||
                         data[before - 1] == '\r';
                pos = q + 1;
            } else if (q == size) {
                break;
            } else if (q + 1 < size && data[q + 1] == '"') {
                pos = q + 2;
            } else {
                quoted = false;
                pos = q + 1;
            }
        }
        return safe;
    }

    const Dialect& d_;
    bool skipBom_;
    std::size_t start_ = 0;
};

void refuse(TableContent& content, const std::string& why) {
    content = TableContent();
    traceRefusal(" bad csv, ", why, ", file not loaded");
}

const char* faultText(Fault fault) {
    switch (fault) {
    case Fault::MisplacedQuote: return "misplaced quote";
    case Fault::UnterminatedQuote: return "unterminated quote";
    case Fault::Overflow: return "more rows than lines";
    default: return "";
    }
}

// Bytes a table of these columns and rows takes while it is read and once
// it is installed, from what a sample of its rows held.
unsigned long long estimateBytes(const std::vector<ColumnPiece>& sample, long long sampleRows, long long rows) {
    unsigned long long reading = 0;  // one array of values or codes per column
    long long dimensions = 0;
    bool labelled = false;
    unsigned long long labelBytes = 0;
    for (const ColumnPiece& column : sample) {
        reading += sizeof(double) * static_cast<unsigned long long>(rows);
        const bool distinctTexts = column.kind == CellKind::Text && !column.texts.sawRepeat() && sampleRows > 1;
        if (!distinctTexts) {
            ++dimensions;
            continue;
        }
        // A text per row, kept while reading and again as a label.
        const std::size_t count = column.texts.size();
        std::size_t length = 0;
        for (std::uint32_t k = 0; k < count && column.texts.keepsTexts(); ++k) length += column.texts.text(k).size();
        const unsigned long long perRow = sizeof(std::uint64_t) * 4 + length / std::max<std::size_t>(count, 1);
        reading += perRow * static_cast<unsigned long long>(rows);
        if (!labelled) labelBytes = (perRow + sizeof(std::string)) * static_cast<unsigned long long>(rows);
        labelled = true;
    }
    const unsigned long long installed = tableBytes(rows, dimensions, labelled) + labelBytes;
    return std::max(reading, installed);
}

// One read of a CSV source: the steps of readPieces and what they share.
// Everything it allocates is charged to the load's account first
// (data/data_file.h).
class CsvRead {
public:
    CsvRead(const ByteSource& source, TableContent& content, char delimiter, ColumnRules rules)
        : source_(source), content_(content), dialect_(delimiter), rules_(rules), reader_(source, 0),
          cutter_(dialect_, true) {}

    // The file's size and hash go into content.
    TableRead run();

private:
    std::optional<TableRead> readHeader(const Piece& first, const char*& p);
    void readSample(const Piece& first, const char* p);
    long long estimateRows(const Piece& first) const;
    void placeSample(long long capacity);
    std::size_t placeNext(const char* data, std::size_t size, bool atEnd);
    void parseNext(Piece& bytes);
    std::optional<TableRead> firstFault();
    void joinPieces();
    std::vector<ColumnPieces> joinedColumns();
    void readTextsAgain(const std::vector<ColumnPieces>& columns);
    bool refuseIfBinary();

    void addColumns(CsvPiece& piece) const {
        piece.charge.take(columnCount_ * sizeof(ColumnPiece));
        piece.columns.resize(columnCount_);
        for (ColumnPiece& column : piece.columns) column.rules = rules_;
    }
    // Arrays of values that a piece fills and that go once it is joined.
    void addOwnValues(CsvPiece& piece, std::size_t rows) const {
        piece.charge.take(sizeof(double) * std::max<std::size_t>(rows, 1));
        piece.own.push_back(newValues(rows));
    }

    const ByteSource& source_;
    TableContent& content_;
    const Dialect dialect_;
    const ColumnRules rules_;
    PieceReader reader_;
    CsvCutter cutter_;
    const PieceCut cut_ = [this](const char* data, std::size_t size, bool atEnd) { return cutter_(data, size, atEnd); };
    HeaderSink header_;
    std::size_t columnCount_ = 0;
    // A deque: pieces are added while others are being parsed.
    std::deque<CsvPiece> pieces_;
    // The columns' arrays; the pieces placed in them write there directly.
    std::vector<std::unique_ptr<double[]>> storage_;
    long long capacity_ = 0;
    long long nextRow_ = 0;
    std::mutex placing_;  // guards pieces_, filled in order while being parsed
    long long rows_ = 0;
};

TableRead CsvRead::run() {
    Piece first;
    reader_.next(first, samplePieceBytes, cut_);
    const char* p = nullptr;
    if (const std::optional<TableRead> refused = readHeader(first, p)) return *refused;
    readSample(first, p);
    const long long sampleRows = pieces_[0].rows;
    const long long estimate = estimateRows(first);
    if (pieces_[0].fault == Fault::None &&
        estimateBytes(pieces_[0].columns, sampleRows, estimate) > loadMemoryLimit()) {
        content_ = TableContent();
        traceRefusal(" table too large for memory, file not loaded");
        return TableRead::Refused;
    }
    // The other pieces write straight into the columns, each from the row
    // its predecessors could at most have filled; a piece beyond the room
    // the estimate gave gets arrays of its own.
    placeSample(std::max(sampleRows, first.last ? sampleRows : estimate + estimate / 8 + 4096));
    if (pieces_[0].fault == Fault::None)
        parsePieces(reader_, pieceBytes,
                    [this](const char* data, std::size_t size, bool atEnd) { return placeNext(data, size, atEnd); },
                    threadsFor(0, 16), [this](Piece& bytes) { parseNext(bytes); });
    if (cutter_.binary || !reader_.atEnd()) {
        if (refuseIfBinary()) return TableRead::Refused;
    }
    if (const std::optional<TableRead> refused = firstFault()) return *refused;
    joinPieces();
    std::vector<ColumnPieces> columns = joinedColumns();
    readTextsAgain(columns);
    return finishTable(columns, storage_, rows_, "csv", content_, source_.size(), [this] { return reader_.hash(); });
}

// The binary check needs every byte: a refusal reads the rest for it.
bool CsvRead::refuseIfBinary() {
    Piece rest;
    while (!cutter_.binary && reader_.next(rest, pieceBytes, cut_)) {
    }
    if (!cutter_.binary) return false;
    refuse(content_, "binary data");
    return true;
}

// The header row of the first piece, p left after it; a refusal if the
// piece is binary or the header is bad or too wide.
std::optional<TableRead> CsvRead::readHeader(const Piece& first, const char*& p) {
    if (cutter_.binary) {
        refuse(content_, "binary data");
        return TableRead::Refused;
    }
    if (cutter_.tooWide) return refuseTooManyDimensions(content_);
    std::string scratch;
    p = first.bytes.data() + cutter_.start();
    const char* firstEnd = first.bytes.data() + first.length;
    const Fault headerFault = parseRows(dialect_, p, firstEnd, header_, scratch, 1);
    if (headerFault != Fault::None || header_.names.empty()) {
        if (refuseIfBinary()) return TableRead::Refused;
        refuse(content_, headerFault != Fault::None ? faultText(headerFault) : "no header row");
        return TableRead::Refused;
    }
    if (header_.fields > maxColumns) return refuseTooManyDimensions(content_);
    columnCount_ = header_.names.size();
    return std::nullopt;
}

// The first piece's rows from p on: the sample the table is judged by.
void CsvRead::readSample(const Piece& first, const char* p) {
    pieces_.resize(1);
    CsvPiece& piece = pieces_[0];
    piece.offset = first.offset + static_cast<std::uint64_t>(p - first.bytes.data());
    piece.length = static_cast<std::size_t>(first.bytes.data() + first.length - p);
    piece.bound = cutter_.bound;
    addColumns(piece);
    std::vector<double*> values;
    for (std::size_t j = 0; j < columnCount_; ++j) {
        addOwnValues(piece, static_cast<std::size_t>(piece.bound));
        values.push_back(piece.own.back().get());
    }
    parsePiece(dialect_, p, piece.length, piece, values);
    addLoadParsed(first.length);
}

// Rows of the whole file, scaled from the sample by bytes.
long long CsvRead::estimateRows(const Piece& first) const {
    const long long sampleRows = pieces_[0].rows;
    const std::uint64_t sampleBytes = std::max<std::uint64_t>(pieces_[0].length, 1);
    const std::uint64_t restBytes = source_.size() - pieces_[0].offset;
    return first.last ? sampleRows
                      : static_cast<long long>(static_cast<double>(sampleRows) * static_cast<double>(restBytes) /
                                               static_cast<double>(sampleBytes));
}

// The columns' arrays of capacity rows, taken for good (they become the
// table's), with the sample's rows moved into them.
void CsvRead::placeSample(long long capacity) {
    capacity_ = capacity;
    const long long sampleRows = pieces_[0].rows;
    takeLoadMemory(columnCount_ * sizeof(double) * static_cast<std::size_t>(std::max<long long>(capacity, 1)));
    for (std::size_t j = 0; j < columnCount_; ++j) {
        storage_.push_back(newValues(static_cast<std::size_t>(capacity)));
        std::copy(pieces_[0].own[j].get(), pieces_[0].own[j].get() + sampleRows, storage_[j].get());
    }
    pieces_[0].own.clear();
    pieces_[0].charge.give(columnCount_ * sizeof(double) *
                           static_cast<std::size_t>(std::max<long long>(pieces_[0].bound, 1)));
    nextRow_ = sampleRows;
}

// Cuts the next piece and gives it its place in the columns, if they have room.
std::size_t CsvRead::placeNext(const char* data, std::size_t size, bool atEnd) {
    const std::size_t length = cutter_(data, size, atEnd);
    if (length == 0 && !atEnd) return length;
    std::lock_guard<std::mutex> lock(placing_);
    CsvPiece piece;
    piece.bound = cutter_.bound;
    if (nextRow_ + piece.bound <= capacity_) {
        piece.placed = nextRow_;
        nextRow_ += piece.bound;
    } else {
        piece.placed = -1;
    }
    pieces_.push_back(std::move(piece));
    return length;
}

// Parses a piece cut by placeNext, on any thread.
void CsvRead::parseNext(Piece& bytes) {
    CsvPiece* piece;
    {
        std::lock_guard<std::mutex> lock(placing_);
        piece = &pieces_[bytes.index];
        piece->offset = bytes.offset;
        piece->length = bytes.length;
    }
    addColumns(*piece);
    std::vector<double*> values(columnCount_);
    for (std::size_t j = 0; j < columnCount_; ++j) {
        if (piece->placed < 0) addOwnValues(*piece, static_cast<std::size_t>(piece->bound));
        values[j] = piece->placed < 0 ? piece->own[j].get() : storage_[j].get() + piece->placed;
    }
    parsePiece(dialect_, bytes.bytes.data(), bytes.length, *piece, values);
}

// The first fault in file order, refused; without one, rows_ counts the rows.
std::optional<TableRead> CsvRead::firstFault() {
    long long rows = 0;
    for (const CsvPiece& piece : pieces_) {
        if (piece.fault == Fault::Ragged) {
            refuse(content_, "row " + std::to_string(rows + piece.rows + 1) + " has " +
                                 std::to_string(piece.faultFields) + " fields, the header " +
                                 std::to_string(columnCount_));
            return TableRead::Refused;
        }
        if (piece.fault != Fault::None) {
            refuse(content_, faultText(piece.fault));
            return TableRead::Refused;
        }
        rows += piece.rows;
    }
    if (rows > std::numeric_limits<int>::max() - 100) {
        refuse(content_, "too many rows");
        return TableRead::Refused;
    }
    rows_ = rows;
    return std::nullopt;
}

// The rows of all pieces, one after the other, in the columns' arrays.
void CsvRead::joinPieces() {
    const bool ownPieces =
        std::any_of(pieces_.begin(), pieces_.end(), [](const CsvPiece& p) { return p.placed < 0; });
    for (std::size_t j = 0; j < columnCount_; ++j) {
        std::unique_ptr<double[]> joined;
        if (ownPieces) {
            takeLoadMemory(sizeof(double) * static_cast<std::size_t>(std::max<long long>(rows_, 1)));
            joined = newValues(static_cast<std::size_t>(rows_));
        }
        double* target = ownPieces ? joined.get() : storage_[j].get();
        long long at = 0;
        for (const CsvPiece& piece : pieces_) {
            const double* from = piece.placed < 0 ? piece.own[j].get() : storage_[j].get() + piece.placed;
            if (from != target + at) std::memmove(target + at, from, static_cast<std::size_t>(piece.rows) * sizeof(double));
            at += piece.rows;
        }
        if (ownPieces) {
            storage_[j] = std::move(joined);
            giveLoadMemory(sizeof(double) * static_cast<std::size_t>(std::max<long long>(capacity_, 1)));
        }
    }
    for (CsvPiece& piece : pieces_) {
        if (piece.placed < 0 && !piece.own.empty())
            piece.charge.give(columnCount_ * sizeof(double) * static_cast<std::size_t>(std::max<long long>(piece.bound, 1)));
        piece.own.clear();
    }
}

// Every column's name and its pieces' cells, in file order.
std::vector<ColumnPieces> CsvRead::joinedColumns() {
    std::vector<ColumnPieces> columns(columnCount_);
    for (std::size_t j = 0; j < columnCount_; ++j) {
        columns[j].name = tokenFrom(header_.names[j]);
        for (CsvPiece& piece : pieces_) {
            columns[j].pieces.push_back(&piece.columns[j]);
            columns[j].rows.push_back(piece.rows);
        }
    }
    return columns;
}

// Text columns that met their first text after numbers or times, in some
// piece, read those pieces' texts again.
void CsvRead::readTextsAgain(const std::vector<ColumnPieces>& columns) {
    std::vector<std::vector<bool>> again(pieces_.size(), std::vector<bool>(columnCount_, false));
    bool readAgain = false;
    for (std::size_t j = 0; j < columnCount_; ++j) {
        if (joinedKind(columns[j]) != CellKind::Text) continue;
        for (std::size_t k = 0; k < pieces_.size(); ++k) {
            if (!pieces_[k].columns[j].needsTextsAgain()) continue;
            again[k][j] = readAgain = true;
        }
    }
    if (!readAgain) return;
    long long at = 0;
    Bytes bytes;
    LoadCharge bytesCharge;
    for (std::size_t k = 0; k < pieces_.size(); ++k) {
        CsvPiece& piece = pieces_[k];
        if (std::find(again[k].begin(), again[k].end(), true) != again[k].end()) {
            bytes.clear();
            reserveCharged(bytes, piece.length, bytesCharge);
            if (!source_.read(piece.offset, piece.length, bytes)) throw std::runtime_error("read error");
            std::vector<double*> values(columnCount_);
            for (std::size_t j = 0; j < columnCount_; ++j) {
                values[j] = storage_[j].get() + at;
                if (again[k][j]) piece.columns[j].restartAsText();
            }
            const long long rowsBefore = piece.rows;
            piece.bound = piece.rows;
            parsePiece(dialect_, bytes.data(), bytes.size(), piece, values, &again[k]);
            piece.rows = rowsBefore;
        }
        at += piece.rows;
    }
}

TableRead readPieces(const ByteSource& source, TableContent& content, char delimiter, ColumnRules rules) {
    content = TableContent();
    if (source.size() == 0) {
        refuse(content, "no header row");
        return TableRead::Refused;
    }
    return CsvRead(source, content, delimiter, rules).run();
}

// Pieces without a line end within maxPieceBytes are refused, not grown;
// so is a table that passes the load's memory (its caller says so).
TableRead readSource(const ByteSource& source, TableContent& content, char delimiter, ColumnRules rules) {
    const LoadMemoryScope memory;
    try {
        return readPieces(source, content, delimiter, rules);
    } catch (const PieceTooLong&) {
        refuse(content, "row longer than " + std::to_string(maxPieceBytes >> 20) + " MB");
        return TableRead::Refused;
    }
}

}  // namespace

TableRead refuseTooManyDimensions(TableContent& content) {
    content = TableContent();
    traceRefusal(" too many axis");
    return TableRead::TooManyDimensions;
}

TableRead finishTable(std::vector<ColumnPieces>& columns, std::vector<std::unique_ptr<double[]>>& storage,
                      long long rows, const char* formatName, TableContent& content, std::uint64_t sourceBytes,
                      const std::function<std::uint64_t()>& sourceHash) {
    finishColumns(columns, storage, rows, formatName, content);
    if (content.names.size() >= static_cast<std::size_t>(maxSlots)) return refuseTooManyDimensions(content);
    if (!content.hasLabels) content.labelColumnName = "id";
    content.shownCount = static_cast<int>(content.names.size());
    content.sourceBytes = sourceBytes;
    content.sourceHash = sourceHash();
    return TableRead::Read;
}

char delimiterForPath(const char* path) {
    const std::size_t length = std::strlen(path);
    const std::string_view extension = length >= 4 ? std::string_view(path + length - 4, 4) : "";
    if (equalsIgnoringCase(extension, ".csv")) return ',';
    if (equalsIgnoringCase(extension, ".tsv") || equalsIgnoringCase(extension, ".tab")) return '\t';
    return 0;
}

TableRead readCsv(const char* data, std::size_t size, TableContent& content, char delimiter, ColumnRules rules) {
    try {
        return readSource(ByteSource(data, size), content, delimiter, rules);
    } catch (const LoadTooLarge&) {
        content = TableContent();
        traceRefusal(" table too large for memory, file not loaded");
        return TableRead::Refused;
    }
}

TableRead readCsvFile(const DataFile& file, TableContent& content, char delimiter, ColumnRules rules) {
    return readSource(ByteSource(file), content, delimiter, rules);
}
