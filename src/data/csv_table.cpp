#include "data/csv_table.h"

#include <csv.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <exception>
#include <functional>
#include <limits>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/platform.h"
#include "base/types.h"
#include "data/load_progress.h"
#include "data/table_content.h"
#include "data/time_text.h"

namespace {

// Values beyond this magnitude would overflow the range arithmetic; such a
// cell counts as text, like any other cell that is no number.
constexpr double largestValue = 1e300;
// Bytes handed to the parser at a time, so a refused row stops the work soon.
constexpr std::size_t chunkSize = 1 << 20;
// Texts from this size on are read by two parsers at once, one per half.
constexpr std::size_t parallelSize = 8 << 20;

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
        if (x != b[i]) return false;
    }
    return true;
}

bool isMissing(std::string_view cell) {
    return cell.empty() || cell == "?" || equalsIgnoringCase(cell, "na") ||
           equalsIgnoringCase(cell, "nan") || equalsIgnoringCase(cell, "null");
}

bool parseNumber(std::string_view cell, double& out) {
    const char* first = cell.data();
    const char* last = first + cell.size();
    if (last - first > 1 && *first == '+' && first[1] != '-') ++first;
    const auto result = std::from_chars(first, last, out);
    return result.ec == std::errc() && result.ptr == last && std::isfinite(out) &&
           std::fabs(out) <= largestValue;
}

// How often c occurs in [first, last). memchr skips the long runs between
// occurrences far faster than a byte loop.
std::size_t countOf(const char* first, const char* last, char c) {
    std::size_t n = 0;
    for (const char* p = first;
         (p = static_cast<const char*>(std::memchr(p, c, static_cast<std::size_t>(last - p)))) != nullptr; ++p)
        ++n;
    return n;
}

// Each data row ends in a line end and holds a comma between its fields, so
// neither count can exceed what the text holds.
long long rowBound(const char* data, std::size_t size, std::size_t fields) {
    const long long lineEnds =
        static_cast<long long>(countOf(data, data + size, '\n') + countOf(data, data + size, '\r'));
    const long long bySize = static_cast<long long>(size / std::max<std::size_t>(fields, 1));
    return std::min(lineEnds, bySize) + 1;
}

enum class Kind { Numeric, Time, Text };

struct Column {
    Kind kind = Kind::Numeric;
    long long firstTextRow = -1;  // data row where the first text appeared
    long long missing = 0;
    bool allMidnight = true;   // every time read so far is at midnight UTC
    bool rereadTexts = false;  // the text pass collects this column's texts
    std::unique_ptr<double[]> values;  // numeric and time: one per row, NaN where missing
    std::vector<std::string> texts;    // text: one per row from firstTextRow on

    // The column has met a text: it keeps its texts from row i on, and the
    // text pass supplies the earlier ones unless i is the first row.
    void becomeText(long long i) {
        kind = Kind::Text;
        firstTextRow = i;
        values.reset();
    }
};

// Collects the cells libcsv reports. In the first pass every column is read;
// the second pass only fills in the texts of columns that turned out to be
// text after numbers had been seen in them.
struct Reader {
    bool textPass = false;
    std::vector<std::string> header;
    std::vector<Column> columns;
    long long row = 0;        // rows ended so far, the header included
    std::size_t field = 0;    // fields seen in the current row
    long long rowCapacity = 0;
    long long raggedRow = 0;  // first data row with the wrong field count
    std::size_t raggedFields = 0;

    bool overflow = false;
    char delimiter = ',';
    const char* data = nullptr;
    std::size_t size = 0;

    bool failed() const { return raggedRow != 0 || overflow; }

    void cell(std::string_view text) {
        if (failed()) return;
        const std::size_t j = field++;
        if (row == 0) {
            header.emplace_back(text);
            return;
        }
        if (j >= columns.size()) return;  // the row is refused when it ends
        Column& c = columns[j];
        const long long i = row - 1;
        if (textPass) {
            if (c.rereadTexts) c.texts.emplace_back(text);
            return;
        }
        if (i >= rowCapacity) {
            overflow = true;  // cannot happen while rowBound holds; refuse rather than write
            return;
        }
        if (c.kind != Kind::Text) {
            if (isMissing(text)) {
                ++c.missing;
                c.values[i] = std::numeric_limits<double>::quiet_NaN();
                return;
            }
            double value = 0.0;
            bool midnight = false;
            if (c.kind == Kind::Numeric && parseNumber(text, value)) {
                c.values[i] = value;
                return;
            }
            // A column holds times when every cell that is not missing is
            // one: a number before the first time makes it text.
            if ((c.kind == Kind::Time || c.missing == i) && parseTimeText(text, value, midnight)) {
                c.kind = Kind::Time;
                c.allMidnight = c.allMidnight && midnight;
                c.values[i] = value;
                return;
            }
            c.becomeText(i);
        }
        c.texts.emplace_back(text);
    }

    void endRow() {
        if (failed()) return;
        if (row == 0) {
            if (!textPass) allocate(header.size(), rowBound(data, size, header.size()));
        } else if (field != columns.size()) {
            raggedRow = row;
            raggedFields = field;
        }
        ++row;
        field = 0;
    }

    void allocate(std::size_t count, long long capacity) {
        rowCapacity = capacity;
        columns.resize(count);
        for (Column& c : columns) c.values.reset(new double[static_cast<std::size_t>(capacity)]);
    }

    static void onCell(void* text, std::size_t length, void* self) {
        static_cast<Reader*>(self)->cell(
            std::string_view(text ? static_cast<const char*>(text) : "", length));
    }
    static void onRowEnd(int, void* self) { static_cast<Reader*>(self)->endRow(); }
};

enum class PassResult { Done, Ragged, Malformed };

// Blanks around unquoted fields are dropped; in tab-separated text the tab
// is the delimiter, not a blank.
int isBlank(unsigned char c) { return c == ' '; }

// afterHeader, when given, runs once the header row has been read.
PassResult parsePass(const char* data, std::size_t size, Reader& reader, std::string& error,
                     const std::function<void()>& afterHeader = {}) {
    bool headerSeen = false;
    csv_parser parser;
    // Tab-separated text keeps quotes inside unquoted fields as they are, so
    // it is parsed leniently; scanTabQuotes has refused what strict parsing
    // would refuse in quoted fields.
    const bool tabs = reader.delimiter == '\t';
    if (csv_init(&parser, tabs ? 0 : CSV_STRICT | CSV_STRICT_FINI) != 0) {
        error = "parser not available";
        return PassResult::Malformed;
    }
    if (tabs) {
        csv_set_delim(&parser, '\t');
        csv_set_space_func(&parser, isBlank);
    }
    PassResult result = PassResult::Done;
    for (std::size_t offset = 0; offset < size && !reader.failed();) {
        const std::size_t length = std::min(chunkSize, size - offset);
        if (csv_parse(&parser, data + offset, length, Reader::onCell, Reader::onRowEnd, &reader) !=
            length) {
            // Strict mode refuses a quote inside an unquoted field or text after a closing quote.
            const int code = csv_error(&parser);
            error = code == CSV_EPARSE ? "misplaced quote" : csv_strerror(code);
            result = PassResult::Malformed;
            break;
        }
        offset += length;
        if (!reader.textPass) addLoadParsed(length);
        if (afterHeader && !headerSeen && reader.row > 0 && !reader.failed()) {
            headerSeen = true;
            afterHeader();
        }
    }
    if (result == PassResult::Done && !reader.failed() &&
        csv_fini(&parser, Reader::onCell, Reader::onRowEnd, &reader) != 0) {
        // The only error the strict end reports is a quote left open.
        error = "unterminated quote";
        result = PassResult::Malformed;
    }
    csv_free(&parser);
    if (result == PassResult::Done && reader.failed()) result = PassResult::Ragged;
    return result;
}

// A quote opens a quoted field only where the field begins, after blanks.
bool opensField(const char* data, std::size_t at) {
    while (at > 0 && data[at - 1] == ' ') --at;
    return at == 0 || data[at - 1] == '\t' || data[at - 1] == '\n' || data[at - 1] == '\r';
}

// Checks the quoted fields of tab-separated text, where a quote elsewhere is
// an ordinary character: a closing quote must be followed by blanks and the
// field's end, and every quoted field must end. Also finds where a large
// text is cut in two (see splitPoint): the first line end past the middle
// outside every quoted field. Empty, or what is wrong.
std::string scanTabQuotes(const char* data, std::size_t size, std::size_t& split) {
    split = size;
    const std::size_t cutFrom = size < parallelSize ? size : size / 2;
    bool quoted = false;
    for (std::size_t from = 0;;) {
        const char* found = static_cast<const char*>(std::memchr(data + from, '"', size - from));
        const std::size_t at = found != nullptr ? static_cast<std::size_t>(found - data) : size;
        if (!quoted && split == size && at > cutFrom) {
            const std::size_t start = std::max(from, cutFrom);
            const char* end = static_cast<const char*>(std::memchr(data + start, '\n', at - start));
            if (end != nullptr) split = static_cast<std::size_t>(end - data) + 1;
        }
        if (at == size) return quoted ? "unterminated quote" : "";
        from = at + 1;
        if (!quoted) {
            quoted = opensField(data, at);
        } else if (from < size && data[from] == '"') {
            ++from;  // a doubled quote stands for one
        } else {
            std::size_t next = from;
            while (next < size && data[next] == ' ') ++next;
            if (next < size && data[next] != '\t' && data[next] != '\n' && data[next] != '\r')
                return "misplaced quote";
            quoted = false;
        }
    }
}

// Where a large text is cut in two for two parsers: the first line end past
// the middle with an even number of quotes before it, which lies outside
// every quoted field. size when the text is small or no such point exists.
std::size_t splitPoint(const char* data, std::size_t size) {
    if (size < parallelSize) return size;
    std::size_t quotes = countOf(data, data + size / 2, '"');
    for (std::size_t from = size / 2; from < size;) {
        const char* end = static_cast<const char*>(std::memchr(data + from, '\n', size - from));
        if (end == nullptr) return size;
        const std::size_t at = static_cast<std::size_t>(end - data);
        quotes += countOf(data + from, end, '"');
        if (quotes % 2 == 0) return at + 1;
        from = at + 1;
    }
    return size;
}

// Appends the rows b read, after the header, to a's rows.
void appendRows(Reader& a, Reader& b) {
    const long long aRows = a.row - 1;
    const long long bRows = b.row - 1;
    if (!a.failed() && b.failed()) {
        a.overflow = b.overflow;
        a.raggedRow = b.raggedRow == 0 ? 0 : aRows + b.raggedRow;
        a.raggedFields = b.raggedFields;
    }
    if (a.failed()) return;
    if (aRows + bRows > a.rowCapacity) {
        a.overflow = true;
        return;
    }
    for (std::size_t j = 0; j < a.columns.size(); ++j) {
        Column& ca = a.columns[j];
        Column& cb = b.columns[j];
        // A half without any value takes the other half's kind, as one
        // parser reading both would.
        const bool aEmpty = ca.kind == Kind::Numeric && ca.missing == aRows;
        const bool bEmpty = cb.kind == Kind::Numeric && cb.missing == bRows;
        const bool numeric = ca.kind == Kind::Numeric && cb.kind == Kind::Numeric;
        const bool time = (ca.kind == Kind::Time || aEmpty) && (cb.kind == Kind::Time || bEmpty);
        if (numeric || time) {
            std::copy(cb.values.get(), cb.values.get() + bRows, ca.values.get() + aRows);
            ca.missing += cb.missing;
            if (!numeric) ca.kind = Kind::Time;
            ca.allMidnight = ca.allMidnight && cb.allMidnight;
        } else if (ca.kind == Kind::Text && cb.kind == Kind::Text && ca.firstTextRow == 0 &&
                   cb.firstTextRow == 0) {
            ca.texts.insert(ca.texts.end(), std::make_move_iterator(cb.texts.begin()),
                            std::make_move_iterator(cb.texts.end()));
        } else {
            // Texts after numbers or times: the text pass reads the column again.
            ca.becomeText(std::max<long long>(aRows, 1));
            ca.texts.clear();
        }
    }
    a.row += bRows;
}

// Binary files hold NUL bytes or control characters near their start.
bool looksBinary(const char* data, std::size_t size) {
    if (std::memchr(data, '\0', size) != nullptr) return true;
    const std::size_t head = std::min<std::size_t>(size, 1 << 16);
    for (std::size_t i = 0; i < head; ++i) {
        const unsigned char c = static_cast<unsigned char>(data[i]);
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != '\v') return true;
    }
    return false;
}

// Names must be unique for the label sections to find their dimension.
std::string uniqueName(std::string name, std::unordered_set<std::string>& used) {
    if (used.insert(name).second) return name;
    for (int n = 2;; ++n) {
        std::string candidate = name + "_" + std::to_string(n);
        if (used.insert(candidate).second) return candidate;
    }
}

std::string timeText(double seconds, ValueFormat format) {
    char text[40];
    formatTime(seconds, format == ValueFormat::Date, text, sizeof text);
    return text;
}

// The distinct texts of a category column with their label tokens, in the
// order of the codes: by token ignoring ASCII case, then by the token's
// bytes, then by the text's (two texts may give the same token).
std::vector<std::pair<std::string, std::string_view>> categoryOrder(
    const std::unordered_map<std::string_view, int>& texts) {
    std::vector<std::pair<std::string, std::string_view>> order;
    order.reserve(texts.size());
    for (const auto& entry : texts) order.emplace_back(tokenFrom(entry.first), entry.first);
    // Negative, zero or positive as a sorts before, with or after b ignoring ASCII case.
    const auto compareIgnoringCase = [](const std::string& a, const std::string& b) {
        for (std::size_t k = 0; k < a.size() && k < b.size(); ++k) {
            const auto lower = [](char c) {
                return static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
            };
            if (lower(a[k]) != lower(b[k])) return lower(a[k]) < lower(b[k]) ? -1 : 1;
        }
        return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
    };
    std::sort(order.begin(), order.end(), [&](const auto& a, const auto& b) {
        const int byCase = compareIgnoringCase(a.first, b.first);
        if (byCase != 0) return byCase < 0;
        return a.first != b.first ? a.first < b.first : a.second < b.second;
    });
    return order;
}

void refuse(TableContent& content, const std::string& why) {
    content = TableContent();
    trace(" bad csv, ", why, ", file not loaded");
}

}  // namespace

char delimiterForPath(const char* path) {
    const std::size_t length = std::strlen(path);
    const std::string_view extension = length >= 4 ? std::string_view(path + length - 4, 4) : "";
    if (equalsIgnoringCase(extension, ".csv")) return ',';
    if (equalsIgnoringCase(extension, ".tsv") || equalsIgnoringCase(extension, ".tab")) return '\t';
    return 0;
}

CsvResult readCsv(const char* data, std::size_t size, TableContent& content, char delimiter) {
    content = TableContent();
    if (size == 0) {
        refuse(content, "no header row");
        return CsvResult::Refused;
    }
    if (size >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0) {
        data += 3;
        size -= 3;
    }
    if (looksBinary(data, size)) {
        refuse(content, "binary data");
        return CsvResult::Refused;
    }

    // A large text is read as two halves at once; the cut is always made the
    // same way, so the table does not depend on how many cores there are.
    std::size_t split = size;
    if (delimiter == '\t') {
        const std::string wrong = scanTabQuotes(data, size, split);
        if (!wrong.empty()) {
            refuse(content, wrong);
            return CsvResult::Refused;
        }
    } else {
        split = splitPoint(data, size);
    }
    Reader reader;
    reader.data = data;
    reader.size = size;  // its arrays take the rows of both halves
    reader.delimiter = delimiter;
    Reader second;
    second.delimiter = delimiter;
    second.data = data + split;
    second.size = size - split;
    second.row = 1;  // its header is the first half's
    std::string error, secondError;
    PassResult secondPass = PassResult::Done;
    std::exception_ptr secondFailure;
    std::thread worker;
    std::size_t fields = 0;
    auto readSecondHalf = [&] {
        try {
            second.allocate(fields, rowBound(second.data, second.size, fields));
            secondPass = parsePass(second.data, second.size, second, secondError);
        } catch (...) {
            secondFailure = std::current_exception();
        }
    };
    bool secondStarted = false;
    auto startSecondHalf = [&] {
        if (split >= size) return;
        secondStarted = true;
        fields = reader.header.size();
        worker = std::thread(readSecondHalf);
    };
    PassResult pass = PassResult::Done;
    {
        struct Joiner {
            std::thread& t;
            ~Joiner() {
                if (t.joinable()) t.join();
            }
        } joiner{worker};
        pass = parsePass(data, split, reader, error, startSecondHalf);
    }
    if (secondFailure) std::rethrow_exception(secondFailure);
    if (pass == PassResult::Done && secondStarted) {
        pass = secondPass;
        error = secondError;
        if (pass != PassResult::Malformed) {
            appendRows(reader, second);
            if (reader.failed()) pass = PassResult::Ragged;
        }
    }
    if (pass == PassResult::Done && reader.row == 0) {
        refuse(content, "no header row");
        return CsvResult::Refused;
    }
    if (pass == PassResult::Ragged && reader.overflow) {
        refuse(content, "more rows than lines");
        return CsvResult::Refused;
    }
    if (pass == PassResult::Ragged) {
        refuse(content, "row " + std::to_string(reader.raggedRow) + " has " +
                            std::to_string(reader.raggedFields) + " fields, the header " +
                            std::to_string(reader.columns.size()));
        return CsvResult::Refused;
    }
    if (pass == PassResult::Malformed) {
        refuse(content, error);
        return CsvResult::Refused;
    }
    const long long records = reader.row - 1;
    if (records > std::numeric_limits<int>::max() - 100) {
        refuse(content, "too many rows");
        return CsvResult::Refused;
    }

    // Columns that met text only after numbers need their earlier texts.
    bool needTexts = false;
    for (Column& c : reader.columns) {
        if (c.kind == Kind::Text && c.firstTextRow > 0) {
            c.texts.clear();
            c.rereadTexts = true;
            needTexts = true;
        }
    }
    if (needTexts) {
        reader.textPass = true;
        reader.row = 0;
        reader.field = 0;
        reader.header.clear();
        parsePass(data, size, reader, error);
    }

    content.recordCount = static_cast<int>(records);
    const std::size_t rows = static_cast<std::size_t>(records);
    std::unordered_set<std::string> usedNames;
    std::vector<std::string> names;
    for (const std::string& raw : reader.header) names.push_back(tokenFrom(raw));

    for (std::size_t j = 0; j < reader.columns.size(); ++j) {
        Column& c = reader.columns[j];
        const std::string& name = names[j];
        if (c.kind != Kind::Text) {
            if (rows > 0 && static_cast<std::size_t>(c.missing) == rows) {
                trace(" csv column ", name, " left out: no values");
                continue;
            }
            // Decided from the cells read, before missing cells get a value.
            const ValueFormat format = c.kind == Kind::Numeric ? ValueFormat::Number
                                       : c.allMidnight       ? ValueFormat::Date
                                                             : ValueFormat::DateTime;
            double low = std::numeric_limits<double>::infinity();
            double high = -low;
            for (std::size_t i = 0; i < rows; ++i) {
                if (std::isnan(c.values[i])) continue;
                low = std::min(low, c.values[i]);
                high = std::max(high, c.values[i]);
            }
            if (format != ValueFormat::Number)
                trace(" csv column ", name, ": time axis from ", timeText(low, format), " to ",
                      timeText(high, format));
            double missingValue = NAN;
            if (c.missing > 0) {
                // Below the range, so the axis stays numeric and the cells stay visible.
                missingValue = high > low ? low - 0.1 * (high - low) : low - 1.0;
                for (std::size_t i = 0; i < rows; ++i)
                    if (std::isnan(c.values[i])) c.values[i] = missingValue;
                if (format == ValueFormat::Number)
                    trace(" csv column ", name, ": ", c.missing, " missing values drawn at ",
                          missingValue, ", below the range");
                else
                    trace(" csv column ", name, ": ", c.missing, " missing values drawn at ",
                          timeText(missingValue, format), ", below the range");
            }
            content.names.push_back(uniqueName(name, usedNames));
            content.columns.push_back(std::move(c.values));
            content.formats.push_back(format);
            content.missingValues.push_back(missingValue);
            continue;
        }
        std::unordered_map<std::string_view, int> codes;
        for (const std::string& text : c.texts) codes.emplace(text, 0);
        const std::size_t distinct = codes.size();
        if (distinct <= static_cast<std::size_t>(maxCategories) && distinct * 2 < rows) {
            const std::vector<std::pair<std::string, std::string_view>> order = categoryOrder(codes);
            LabelSection section;
            section.dimension = static_cast<int>(content.names.size());
            section.entries.resize(distinct);
            for (std::size_t k = 0; k < distinct; ++k) {
                codes[order[k].second] = static_cast<int>(k);
                section.entries[k].value = static_cast<double>(k);
                section.entries[k].text = order[k].first;
            }
            std::unique_ptr<double[]> values(new double[rows]);
            for (std::size_t i = 0; i < rows; ++i) values[i] = codes[c.texts[i]];
            content.names.push_back(uniqueName(name, usedNames));
            content.columns.push_back(std::move(values));
            content.formats.push_back(ValueFormat::Number);
            content.missingValues.push_back(NAN);
            content.sections.push_back(std::move(section));
        } else if (distinct == rows && !content.hasLabels) {
            content.hasLabels = true;
            content.labelColumnName = name;
            content.labels.reserve(rows);
            for (const std::string& text : c.texts) content.labels.push_back(tokenFrom(text));
        } else if (distinct == rows) {
            trace(" csv column ", name, " left out: distinct texts, labels come from ",
                  content.labelColumnName);
        } else {
            trace(" csv column ", name, " left out: ", distinct, " distinct texts, too many for categories");
        }
    }
    if (content.names.size() >= static_cast<std::size_t>(maxSlots)) {
        trace(" too many axis");
        content = TableContent();
        return CsvResult::TooManyDimensions;
    }
    if (!content.hasLabels) content.labelColumnName = "id";
    content.shownCount = static_cast<int>(content.names.size());
    return CsvResult::Read;
}
