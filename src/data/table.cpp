#include "data/table.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string_view>
#include <type_traits>

#include "app/platform.h"
#include "data/csv_table.h"
#include "data/dimension.h"
#include "data/table_content.h"
#include "plot/axis.h"
#include "plot/plot.h"
#include "shapes/shape.h"

char dataFileName[dataFileNameSize] = "";
int recordCount = 0;
int dimensionCount = 0;
int shownDimensionCount = 0;
bool hasRecordLabels = false;
std::vector<std::string> recordLabels;
std::array<std::unique_ptr<double[]>, maxSlots> rawValues;
std::array<Dimension*, maxSlots> dimensionTable{};

namespace {

// Values beyond this magnitude would overflow the range arithmetic.
constexpr double largestValue = 1e300;

// Whitespace-separated tokens of a file held in memory. Like a text stream,
// a failed read makes every later read fail and leave its target unchanged.
class TokenReader {
public:
    TokenReader() = default;
    TokenReader(const char* begin, const char* end) : cursor_(begin), end_(end), failed_(false) {}

    bool failed() const { return failed_; }
    void fail() { failed_ = true; }
    size_t remainingBytes() const { return static_cast<size_t>(end_ - cursor_); }

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
    // The separators of a text stream: blank, tab, line feed, vertical tab, form feed, return.
    static bool isSpace(char c) {
        const unsigned char u = static_cast<unsigned char>(c);
        return u == ' ' || (u >= '\t' && u <= '\r');
    }

    bool next(std::string_view& token) {
        if (failed_) return false;
        const char* p = cursor_;
        while (p != end_ && isSpace(*p)) ++p;
        if (p == end_) {
            cursor_ = p;
            failed_ = true;
            return false;
        }
        const char* start = p;
        while (p != end_ && !isSpace(*p)) ++p;
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

bool readWholeFile(const char* path, std::vector<char>& buffer) {
    if (path[0] == '\0') return false;
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return false;
    bool ok = std::fseek(file, 0, SEEK_END) == 0;
    const long size = ok ? std::ftell(file) : -1;
    ok = ok && size >= 0 && std::fseek(file, 0, SEEK_SET) == 0;
    if (ok) {
        buffer.resize(static_cast<size_t>(size));
        ok = std::fread(buffer.data(), 1, buffer.size(), file) == buffer.size();
    }
    std::fclose(file);
    return ok;
}

void releaseTable() {
    recordLabels.clear();
    recordLabels.shrink_to_fit();
    for (auto& slot : rawValues) slot.reset();
}

// Builds the plot and its dimensions over whatever the table holds now.
void buildPlot(const std::vector<std::string>& names) {
    const long long requested = static_cast<long long>(recordCount) + 100;
    plot = new PCPlot(static_cast<int>(std::min<long long>(requested, INT_MAX)));
    plot->labelColumnName = names.empty() ? std::string() : names[0];
    plot->recordLabels = &recordLabels;
    for (int j = 0; j < dimensionCount; ++j) {
        const size_t nameIndex = static_cast<size_t>(j) + 1;
        const std::string& name = nameIndex < names.size() ? names[nameIndex] : std::string();
        dimensionTable[j] = new Dimension(name, *plot, rawValues[j].get(), 0.0, 0.0);
    }
}

void finishPlot() {
    resetPlot();
    plot->colorBySelection = true;
}

// The empty table: no records, no dimensions, a fresh plot.
void loadEmptyTable() {
    releasePlot();
    releaseTable();
    recordCount = dimensionCount = shownDimensionCount = 0;
    hasRecordLabels = false;
    buildPlot({});
    finishPlot();
}

// Reads the label sections of the trailer until the file ends.
void readTrailer(TokenReader& reader) {
    std::string token;
    std::string name;
    std::vector<LabelEntry> entries;
    while (reader.readText(token)) {
        if (token != "label") continue;
        long long count = 0;
        if (!reader.readText(name) || !reader.readInteger(count)) break;
        // Each entry takes two tokens of at least one character and a separator.
        if (count < 0 || static_cast<unsigned long long>(count) > (reader.remainingBytes() + 1) / 4) {
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
        for (int j = 0; j < dimensionCount; ++j) {
            if (dimensionTable[j]->name == name) {
                dimensionTable[j]->setLabels(static_cast<int>(count), entries.data());
                break;
            }
        }
    }
}

enum class LoadResult { Loaded, Refused, Empty };

LoadResult loadFromBuffer(const std::vector<char>& buffer, bool opened) {
    TokenReader reader = opened ? TokenReader(buffer.data(), buffer.data() + buffer.size())
                                : TokenReader();
    long long header[4] = {0, 0, 0, 0};
    for (long long& value : header) reader.readInteger(value);
    if (reader.failed()) {
        // An unopenable file or an empty path is no news; a broken header is.
        if (opened) trace(" bad header, file not loaded");
        return LoadResult::Empty;
    }
    const long long records = header[0];
    const long long dimensions = header[1];
    long long shown = header[2];
    if (dimensions >= maxSlots) {
        trace(" too many axis");
        return LoadResult::Refused;
    }
    if (records < 0 || dimensions < 0 || records > INT_MAX - 100) {
        trace(" bad header, file not loaded");
        return LoadResult::Empty;
    }
    const bool labelled = header[3] != 0;
    // Every value or label is a token of at least one character plus a separator,
    // so a count the file cannot hold is refused before anything is allocated.
    const long long tokensPerRecord = dimensions + (labelled ? 1 : 0);
    const long long available = static_cast<long long>(reader.remainingBytes()) + 1;
    if (tokensPerRecord > 0 ? records > available / 2 / tokensPerRecord : records > available) {
        trace(" record count exceeds the file, file not loaded");
        return LoadResult::Empty;
    }
    if (shown < 0 || shown > dimensions) {
        shown = std::clamp(shown, 0LL, dimensions);
        trace(" shown dimensions clamped to ", shown);
    }

    recordCount = static_cast<int>(records);
    dimensionCount = static_cast<int>(dimensions);
    shownDimensionCount = static_cast<int>(shown);
    hasRecordLabels = labelled;
    recordLabels.assign(static_cast<size_t>(recordCount), std::string());
    // Filled by the reads below; whatever they leave unread is zeroed after them.
    for (int j = 0; j < dimensionCount; ++j)
        rawValues[j].reset(new double[static_cast<size_t>(recordCount)]);

    std::vector<std::string> names(static_cast<size_t>(dimensionCount) + 1);
    for (std::string& name : names) reader.readText(name);

    for (int i = 0; i < recordCount; ++i) {
        if (hasRecordLabels) reader.readText(recordLabels[i]);
        for (int j = 0; j < dimensionCount; ++j) {
            double& value = rawValues[j][i];
            if (!reader.readNumber(value)) {
                // The plot is still built; the values not read are 0.
                for (int k = j; k < dimensionCount; ++k) rawValues[k][i] = 0.0;
                for (int k = 0; k < dimensionCount; ++k)
                    std::fill(rawValues[k].get() + i + 1, rawValues[k].get() + recordCount, 0.0);
                break;
            }
            if (!std::isfinite(value) || std::fabs(value) > largestValue) {
                trace(" bad value in record ", i + 1, ", file not loaded");
                return LoadResult::Empty;
            }
        }
        if (reader.failed()) {
            trace(" malformed or missing number in record ", i + 1);
            break;
        }
    }

    buildPlot(names);
    readTrailer(reader);
    finishPlot();
    return LoadResult::Loaded;
}

// A CSV file goes to its own reader and is installed whole.
LoadResult loadCsv(const std::vector<char>& buffer) {
    TableContent content;
    const CsvResult result = readCsv(buffer.data(), buffer.size(), content);
    if (result == CsvResult::TooManyDimensions) return LoadResult::Refused;
    if (result == CsvResult::Refused) return LoadResult::Empty;
    installTable(content);
    return LoadResult::Loaded;
}

}  // namespace

void installTable(TableContent& content) {
    releasePlot();
    releaseTable();
    recordCount = content.recordCount;
    dimensionCount = static_cast<int>(content.names.size());
    shownDimensionCount = content.shownCount;
    hasRecordLabels = content.hasLabels;
    if (hasRecordLabels)
        recordLabels = std::move(content.labels);
    else
        recordLabels.assign(static_cast<size_t>(recordCount), std::string());
    for (int j = 0; j < dimensionCount; ++j) rawValues[j] = std::move(content.columns[j]);
    std::vector<std::string> names{content.labelColumnName};
    names.insert(names.end(), content.names.begin(), content.names.end());
    buildPlot(names);
    for (const LabelSection& section : content.sections)
        dimensionTable[section.dimension]->setLabels(static_cast<int>(section.entries.size()),
                                                     section.entries.data());
    finishPlot();
}

bool setDataFileName(const char* path) {
    const size_t length = std::strlen(path);
    if (length >= dataFileNameSize) return false;
    std::memcpy(dataFileName, path, length + 1);
    return true;
}

void releasePlot() {
    // Shapes point at the plot's axes: they go first.
    clearShapes();
    delete plot;
    plot = nullptr;
    for (Dimension*& dimension : dimensionTable) {
        delete dimension;
        dimension = nullptr;
    }
}

void loadDataFile() {
    releasePlot();
    std::vector<char> buffer;
    const bool opened = readWholeFile(dataFileName, buffer);
    LoadResult result = LoadResult::Empty;
    try {
        result = opened && isCsvPath(dataFileName) ? loadCsv(buffer) : loadFromBuffer(buffer, opened);
    } catch (const std::bad_alloc&) {
        trace(" out of memory, file not loaded");
        result = LoadResult::Empty;
    }
    if (result == LoadResult::Refused) {
        // No plot until the next load; the old table goes with it.
        releasePlot();
        releaseTable();
        recordCount = dimensionCount = shownDimensionCount = 0;
        hasRecordLabels = false;
    } else if (result == LoadResult::Empty) {
        loadEmptyTable();
    }
}
