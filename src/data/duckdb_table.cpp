#include "data/duckdb_table.h"

#include <duckdb.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/platform.h"
#include "base/types.h"
#include "data/block_reader.h"
#include "data/data_file.h"
#include "data/load_progress.h"
#include "data/table.h"
#include "data/table_content.h"
#include "data/text_columns.h"
#include "data/time_text.h"

namespace {

bool endsWithIgnoringCase(std::string_view path, std::string_view suffix) {
    return path.size() >= suffix.size() && equalsIgnoringCase(path.substr(path.size() - suffix.size()), suffix);
}

// What DuckDB said, on one line, naming the file as the user did.
class Refusal : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::string oneLine(std::string text, const std::string& alias, const std::string& path) {
    // DuckDB quotes our query after its message; the file is what matters.
    const std::size_t query = text.find("\nLINE ");
    if (query != std::string::npos) text.erase(query);
    for (std::size_t at = 0; (at = text.find(alias, at)) != std::string::npos; at += path.size())
        text.replace(at, alias.size(), path);
    std::string line;
    for (char c : text) {
        const bool blank = c == '\n' || c == '\r' || c == '\t' || c == ' ';
        if (blank && (line.empty() || line.back() == ' ')) continue;
        line += blank ? ' ' : c;
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line.empty() ? "unknown error" : line;
}

std::string quotedName(const std::string& name) {
    std::string quoted = "\"";
    for (char c : name) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + '"';
}

// How a column's values arrive from the query: numbers as they are stored
// (Native) or cast to doubles by DuckDB (Number, for the types a double
// cannot simply take), times as counts of their unit, texts.
enum class Arrival { Native, Number, Days, Seconds, Milliseconds, Microseconds, Nanoseconds, Text, Json, Nested };

Arrival arrivalOf(duckdb_type type) {
    switch (type) {
    case DUCKDB_TYPE_BOOLEAN:
    case DUCKDB_TYPE_TINYINT:
    case DUCKDB_TYPE_SMALLINT:
    case DUCKDB_TYPE_INTEGER:
    case DUCKDB_TYPE_BIGINT:
    case DUCKDB_TYPE_UTINYINT:
    case DUCKDB_TYPE_USMALLINT:
    case DUCKDB_TYPE_UINTEGER:
    case DUCKDB_TYPE_UBIGINT:
    case DUCKDB_TYPE_FLOAT:
    case DUCKDB_TYPE_DOUBLE:
        return Arrival::Native;
    case DUCKDB_TYPE_HUGEINT:
    case DUCKDB_TYPE_UHUGEINT:
    case DUCKDB_TYPE_DECIMAL:
    case DUCKDB_TYPE_BIGNUM:
        return Arrival::Number;
    case DUCKDB_TYPE_DATE: return Arrival::Days;
    case DUCKDB_TYPE_TIMESTAMP_S: return Arrival::Seconds;
    case DUCKDB_TYPE_TIMESTAMP_MS: return Arrival::Milliseconds;
    case DUCKDB_TYPE_TIMESTAMP:
    case DUCKDB_TYPE_TIMESTAMP_TZ: return Arrival::Microseconds;
    case DUCKDB_TYPE_TIMESTAMP_NS: return Arrival::Nanoseconds;
    case DUCKDB_TYPE_LIST:
    case DUCKDB_TYPE_STRUCT:
    case DUCKDB_TYPE_MAP:
    case DUCKDB_TYPE_ARRAY:
    case DUCKDB_TYPE_UNION: return Arrival::Nested;
    default: return Arrival::Text;  // texts, and whatever else DuckDB can write as text
    }
}

// The expression that brings a column as it arrives. A JSON field whose
// values differ in type comes as JSON text: its strings are unquoted, so
// "NA" is a missing cell and "Adelie" a category, as in CSV.
std::string selected(const std::string& name, Arrival arrival) {
    switch (arrival) {
    case Arrival::Number: return "CAST(" + quotedName(name) + " AS DOUBLE)";
    case Arrival::Text: return "CAST(" + quotedName(name) + " AS VARCHAR)";
    case Arrival::Json: return "json_extract_string(" + quotedName(name) + ", '$')";
    default: return quotedName(name);
    }
}

// An open in-memory database, closed on every way out.
class Database {
public:
    explicit Database(bool json) {
        duckdb_config config = nullptr;
        if (duckdb_create_config(&config) == DuckDBError) throw Refusal("DuckDB is not available");
        const std::string threads = std::to_string(std::max(1u, std::min(16u, std::thread::hardware_concurrency())));
        duckdb_set_config(config, "threads", threads.c_str());
        // Nothing is fetched from the network, nothing is written to disk.
        duckdb_set_config(config, "autoinstall_known_extensions", "false");
        duckdb_set_config(config, "autoload_known_extensions", "false");
        duckdb_set_config(config, "enable_progress_bar", "false");
        // DuckDB's own buffers stay within a share the load keeps for them.
        const std::string memory = std::to_string(duckdbMemoryLimit(json) >> 20) + "MB";
        duckdb_set_config(config, "memory_limit", memory.c_str());
        char* error = nullptr;
        const duckdb_state state = duckdb_open_ext(nullptr, &database_, config, &error);
        duckdb_destroy_config(&config);
        if (state == DuckDBError) {
            const std::string why = error != nullptr ? error : "DuckDB did not open";
            duckdb_free(error);
            throw Refusal(why);
        }
        if (duckdb_connect(database_, &connection_) == DuckDBError) {
            duckdb_close(&database_);
            throw Refusal("DuckDB did not connect");
        }
    }
    ~Database() {
        duckdb_disconnect(&connection_);
        duckdb_close(&database_);
    }
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;
    duckdb_connection connection() const { return connection_; }

private:
    duckdb_database database_ = nullptr;
    duckdb_connection connection_ = nullptr;
};

// One query's result, fetched chunk by chunk as DuckDB produces it.
class Query {
public:
    Query(const Database& database, const std::string& sql) {
        if (duckdb_prepare(database.connection(), sql.c_str(), &prepared_) == DuckDBError) {
            const std::string why = duckdb_prepare_error(prepared_);
            duckdb_destroy_prepare(&prepared_);
            throw Refusal(why);
        }
    }
    ~Query() {
        if (started_) duckdb_destroy_result(&result_);
        duckdb_destroy_prepare(&prepared_);
    }
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    std::size_t columns() const { return duckdb_prepared_statement_column_count(prepared_); }
    std::string name(std::size_t column) const {
        const char* text = duckdb_prepared_statement_column_name(prepared_, column);
        std::string name = text != nullptr ? text : "";
        duckdb_free(const_cast<char*>(text));
        return name;
    }
    duckdb_type type(std::size_t column) const { return duckdb_prepared_statement_column_type(prepared_, column); }
    // The type's alias ("JSON" for JSON text), empty when it has none.
    std::string alias(std::size_t column) const {
        duckdb_logical_type type = duckdb_prepared_statement_column_logical_type(prepared_, column);
        char* text = type != nullptr ? duckdb_logical_type_get_alias(type) : nullptr;
        const std::string alias = text != nullptr ? text : "";
        duckdb_free(text);
        duckdb_destroy_logical_type(&type);
        return alias;
    }

    // The next chunk, or null at the end.
    duckdb_data_chunk next() {
        if (!started_) {
            duckdb_pending_result pending = nullptr;
            // Streaming: DuckDB never holds the whole result beside ours.
            if (duckdb_pending_prepared_streaming(prepared_, &pending) == DuckDBError) {
                const std::string why = pending != nullptr ? duckdb_pending_error(pending) : "query failed";
                duckdb_destroy_pending(&pending);
                throw Refusal(why);
            }
            const duckdb_state state = duckdb_execute_pending(pending, &result_);
            duckdb_destroy_pending(&pending);
            started_ = true;
            if (state == DuckDBError) throw Refusal(error());
        }
        duckdb_data_chunk chunk = duckdb_fetch_chunk(result_);
        if (chunk == nullptr && duckdb_result_error(&result_) != nullptr) throw Refusal(error());
        return chunk;
    }

private:
    std::string error() {
        const char* why = duckdb_result_error(&result_);
        return why != nullptr ? why : "query failed";
    }

    duckdb_prepared_statement prepared_ = nullptr;
    duckdb_result result_{};
    bool started_ = false;
};

struct Chunk {
    duckdb_data_chunk chunk;
    LoadCharge charge;  // what it holds, while it waits to be converted
    explicit Chunk(duckdb_data_chunk c) : chunk(c) {}
    ~Chunk() { duckdb_destroy_data_chunk(&chunk); }
    Chunk(const Chunk&) = delete;
    Chunk& operator=(const Chunk&) = delete;
};

std::string_view textOf(const duckdb_string_t& s) {
    const std::uint32_t length = s.value.inlined.length;
    return length <= 12 ? std::string_view(s.value.inlined.inlined, length) : std::string_view(s.value.pointer.ptr, length);
}

// Bytes a chunk holds: per column, its values (widths[in] bytes each, 0 for
// a text: 16 bytes and what does not fit in place) and their validity.
std::size_t chunkBytes(duckdb_data_chunk chunk, const std::vector<int>& widths) {
    const std::size_t n = duckdb_data_chunk_get_size(chunk);
    std::size_t bytes = 0;
    for (std::size_t in = 0; in < widths.size(); ++in) {
        bytes += n / 8 + 8;
        if (widths[in] > 0) {
            bytes += n * static_cast<std::size_t>(widths[in]);
            continue;
        }
        bytes += n * sizeof(duckdb_string_t);
        const auto* strings =
            static_cast<const duckdb_string_t*>(duckdb_vector_get_data(duckdb_data_chunk_get_vector(chunk, in)));
        for (std::size_t i = 0; i < n; ++i)
            if (strings[i].value.inlined.length > 12) bytes += strings[i].value.inlined.length;
    }
    return bytes;
}

// Bytes a value of the type takes in a chunk; 0 for a text.
int widthOf(duckdb_type type) {
    switch (type) {
    case DUCKDB_TYPE_BOOLEAN:
    case DUCKDB_TYPE_TINYINT:
    case DUCKDB_TYPE_UTINYINT: return 1;
    case DUCKDB_TYPE_SMALLINT:
    case DUCKDB_TYPE_USMALLINT: return 2;
    case DUCKDB_TYPE_INTEGER:
    case DUCKDB_TYPE_UINTEGER:
    case DUCKDB_TYPE_FLOAT:
    case DUCKDB_TYPE_DATE: return 4;
    case DUCKDB_TYPE_VARCHAR: return 0;
    default: return 8;
    }
}

// A query's chunks fetched on a thread of their own, so DuckDB goes on
// producing while the chunks before are converted.
class ChunkPipe {
public:
    // widths: the bytes a value of each of the query's columns takes (0 for a text).
    ChunkPipe(Query& query, std::vector<int> widths)
        : widths_(std::move(widths)), fetcher_([this, &query] { fetch(query); }) {}
    ~ChunkPipe() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopped_ = true;
        }
        changed_.notify_all();
        fetcher_.join();
    }
    ChunkPipe(const ChunkPipe&) = delete;
    ChunkPipe& operator=(const ChunkPipe&) = delete;

    // The next chunk, or null at the end; throws what the fetching threw.
    std::unique_ptr<Chunk> next() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return !chunks_.empty() || done_; });
        if (chunks_.empty()) {
            if (failure_) std::rethrow_exception(failure_);
            return nullptr;
        }
        std::unique_ptr<Chunk> chunk = std::move(chunks_.front());
        chunks_.pop_front();
        changed_.notify_all();
        return chunk;
    }

private:
    // A few chunks ahead at most: the converted rows are what the memory is for.
    static constexpr std::size_t ahead = 16;

    void fetch(Query& query) {
        try {
            while (duckdb_data_chunk chunk = query.next()) {
                auto holder = std::make_unique<Chunk>(chunk);
                holder->charge.take(chunkBytes(chunk, widths_));
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] { return chunks_.size() < ahead || stopped_; });
                if (stopped_) break;
                chunks_.push_back(std::move(holder));
                changed_.notify_all();
            }
        } catch (...) {
            std::lock_guard<std::mutex> lock(mutex_);
            failure_ = std::current_exception();
        }
        std::lock_guard<std::mutex> lock(mutex_);
        done_ = true;
        changed_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::unique_ptr<Chunk>> chunks_;
    std::exception_ptr failure_;
    bool done_ = false, stopped_ = false;
    const std::vector<int> widths_;
    std::thread fetcher_;
};

// The codes of the short texts of a text column, by the 16 bytes DuckDB
// holds such a text in (its length and up to 12 bytes): the cells of a text
// column mostly repeat a few texts, which then skip the dictionary. A slot
// keeps the last text that fell into it.
class ShortTextCodes {
public:
    bool find(const duckdb_string_t& text, double& code) const {
        if (slots_.empty()) return false;
        const Slot& slot = slots_[slotOf(text)];
        std::uint64_t words[2];
        std::memcpy(words, &text, sizeof words);
        if (slot.code < 0.0 || slot.words[0] != words[0] || slot.words[1] != words[1]) return false;
        code = slot.code;
        return true;
    }
    void keep(const duckdb_string_t& text, double code) {
        if (slots_.empty()) slots_.resize(slotCount);
        Slot& slot = slots_[slotOf(text)];
        std::memcpy(slot.words, &text, sizeof slot.words);
        slot.code = code;
    }
    void clear() { slots_.clear(); }
    static bool holds(const duckdb_string_t& text) { return text.value.inlined.length <= 12; }

private:
    static constexpr std::size_t slotCount = 4096;
    struct Slot {
        std::uint64_t words[2] = {0, 0};
        double code = -1.0;  // none
    };
    static std::size_t slotOf(const duckdb_string_t& text) {
        std::uint64_t words[2];
        std::memcpy(words, &text, sizeof words);
        return static_cast<std::size_t>((words[0] * 0x9E3779B97F4A7C15ULL ^ words[1] * 0xC2B2AE3D27D4EB4FULL) >> 52);
    }
    std::vector<Slot> slots_;
};

// One column being read: its rules, its values so far and where they go.
struct TypedColumn {
    std::size_t in = 0;  // its place among the columns the query brings
    Arrival arrival = Arrival::Number;
    duckdb_type type = DUCKDB_TYPE_DOUBLE;  // as it arrives, for Native
    ColumnPiece piece;
    ShortTextCodes shortTexts;  // while piece holds texts
    std::unique_ptr<double[]> values;
};

// Whether row i is not NULL (validity as DuckDB keeps it: a bit per row,
// none at all when every row is valid).
inline bool validRow(const std::uint64_t* validity, std::size_t i) {
    return validity == nullptr || ((validity[i >> 6] >> (i & 63)) & 1) != 0;
}

template <class T>
void addNumbers(const void* data, const std::uint64_t* validity, std::size_t n, ColumnPiece& piece, double* out) {
    const T* numbers = static_cast<const T*>(data);
    for (std::size_t i = 0; i < n; ++i) {
        if (validRow(validity, i))
            piece.addNumber(static_cast<double>(numbers[i]), out[i]);
        else
            piece.addMissing(out[i]);
    }
}

// Times as counts of days (PerSecond 0) or of a unit since 1970. The
// infinite dates and times DuckDB knows are missing. Whole seconds and the
// fraction are taken apart as integers, as a CSV reader reads them.
template <class Count, long long PerSecond>
void addTimes(const void* data, const std::uint64_t* validity, std::size_t n, ColumnPiece& piece, double* out) {
    const Count* counts = static_cast<const Count*>(data);
    constexpr Count infinity = std::numeric_limits<Count>::max();
    for (std::size_t i = 0; i < n; ++i) {
        const Count count = counts[i];
        if (!validRow(validity, i) || count >= infinity || count <= -infinity) {
            piece.addMissing(out[i]);
        } else if constexpr (PerSecond == 0) {
            piece.addTime(static_cast<double>(count) * 86400.0, true, out[i]);
        } else {
            long long whole = count / PerSecond;
            long long fraction = count % PerSecond;
            if (fraction < 0) {
                --whole;
                fraction += PerSecond;
            }
            piece.addTime(secondsAndFraction(whole, fraction, PerSecond), fraction == 0 && whole % 86400 == 0,
                          out[i]);
        }
    }
}

// Appends a chunk's rows of column `in` to column at rows [row, row + n).
void readChunkColumn(duckdb_data_chunk chunk, std::size_t in, TypedColumn& column, long long row) {
    const duckdb_vector vector = duckdb_data_chunk_get_vector(chunk, in);
    const std::size_t n = duckdb_data_chunk_get_size(chunk);
    const void* data = duckdb_vector_get_data(vector);
    const std::uint64_t* validity = duckdb_vector_get_validity(vector);
    double* out = column.values.get() + row;
    const auto valid = [&](std::size_t i) { return validRow(validity, i); };
    ColumnPiece& piece = column.piece;
    if (column.arrival == Arrival::Text || column.arrival == Arrival::Json) {
        const auto* texts = static_cast<const duckdb_string_t*>(data);
        for (std::size_t i = 0; i < n; ++i) {
            const long long at = row + static_cast<long long>(i);
            // NULL is an empty cell: missing among numbers, a text of its own among texts.
            if (!valid(i)) {
                piece.add(at, std::string_view(), out[i]);
                continue;
            }
            // Once the column holds texts, every cell is its text's code.
            if (piece.kind == CellKind::Text && ShortTextCodes::holds(texts[i])) {
                if (column.shortTexts.find(texts[i], out[i])) continue;
                piece.add(at, textOf(texts[i]), out[i]);
                column.shortTexts.keep(texts[i], out[i]);
                continue;
            }
            piece.add(at, textOf(texts[i]), out[i]);
        }
        return;
    }
    if (column.arrival == Arrival::Native || column.arrival == Arrival::Number) {
        switch (column.arrival == Arrival::Number ? DUCKDB_TYPE_DOUBLE : column.type) {
        case DUCKDB_TYPE_BOOLEAN: return addNumbers<bool>(data, validity, n, piece, out);
        case DUCKDB_TYPE_TINYINT: return addNumbers<std::int8_t>(data, validity, n, piece, out);
        case DUCKDB_TYPE_SMALLINT: return addNumbers<std::int16_t>(data, validity, n, piece, out);
        case DUCKDB_TYPE_INTEGER: return addNumbers<std::int32_t>(data, validity, n, piece, out);
        case DUCKDB_TYPE_BIGINT: return addNumbers<std::int64_t>(data, validity, n, piece, out);
        case DUCKDB_TYPE_UTINYINT: return addNumbers<std::uint8_t>(data, validity, n, piece, out);
        case DUCKDB_TYPE_USMALLINT: return addNumbers<std::uint16_t>(data, validity, n, piece, out);
        case DUCKDB_TYPE_UINTEGER: return addNumbers<std::uint32_t>(data, validity, n, piece, out);
        case DUCKDB_TYPE_UBIGINT: return addNumbers<std::uint64_t>(data, validity, n, piece, out);
        case DUCKDB_TYPE_FLOAT: return addNumbers<float>(data, validity, n, piece, out);
        default: return addNumbers<double>(data, validity, n, piece, out);
        }
    }
    // Times: days, or an instant since 1970 in some unit.
    switch (column.arrival) {
    case Arrival::Days: return addTimes<std::int32_t, 0>(data, validity, n, piece, out);
    case Arrival::Seconds: return addTimes<std::int64_t, 1>(data, validity, n, piece, out);
    case Arrival::Milliseconds: return addTimes<std::int64_t, 1000>(data, validity, n, piece, out);
    case Arrival::Microseconds: return addTimes<std::int64_t, 1000000>(data, validity, n, piece, out);
    default: return addTimes<std::int64_t, 1000000000>(data, validity, n, piece, out);
    }
}

// Grows every column's values to hold at least rows (at least one, so an
// empty table has arrays too). The arrays are charged for good: they become
// the table's, and the arrays they replace are given back.
void reserveRows(std::vector<TypedColumn>& columns, long long& capacity, long long rows) {
    if (rows <= capacity && capacity > 0) return;
    const long long grown = std::max<long long>({rows, capacity + capacity / 2 + 4096 * (capacity > 0), 1});
    for (TypedColumn& column : columns) {
        if (column.arrival == Arrival::Nested) continue;
        takeLoadMemory(sizeof(double) * static_cast<std::size_t>(grown));
        // No huge pages: filled while DuckDB allocates and frees beside
        // them, they make a fault cost a gathering of 2 MB.
        std::unique_ptr<double[]> values = newValues(static_cast<std::size_t>(grown), false);
        if (column.values) {
            std::copy(column.values.get(), column.values.get() + capacity, values.get());
            giveLoadMemory(sizeof(double) * static_cast<std::size_t>(capacity));
        }
        column.values = std::move(values);
    }
    capacity = grown;
}

// Records of a JSON file in its first megabyte, either newline-delimited
// objects or the objects of one array, and the bytes they took: enough to
// estimate how many the file holds. keys: the most keys one record has
// among them (a record cut off at the end counts too).
void sampleJsonRecords(const Bytes& head, long long& records, std::size_t& bytes, std::size_t& keys) {
    int depth = 0;
    bool inString = false, escaped = false;
    records = 0;
    bytes = 0;
    keys = 0;
    std::size_t recordKeys = 0;
    int recordDepth = -1;
    for (std::size_t i = 0; i < head.size(); ++i) {
        const char c = head[i];
        if (inString) {
            if (escaped) escaped = false;
            else if (c == '\\') escaped = true;
            else if (c == '"') inString = false;
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == ':' && depth == recordDepth + 1) {
            keys = std::max(keys, ++recordKeys);
        } else if (c == '{' || c == '[') {
            if (recordDepth < 0 && c == '{') recordDepth = depth;
            ++depth;
        } else if (c == '}' || c == ']') {
            --depth;
            if (c == '}' && depth == recordDepth) {
                ++records;
                bytes = i + 1;
                recordKeys = 0;
            }
        }
    }
}

// Whether a JSON file holds one array: its text begins with '[' (after a
// byte-order mark and blanks).
bool holdsOneArray(const Bytes& head) {
    std::size_t at = head.size() >= 3 && std::memcmp(head.data(), "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
    while (at < head.size() && (head[at] == ' ' || head[at] == '\t' || head[at] == '\n' || head[at] == '\r')) ++at;
    return at < head.size() && head[at] == '[';
}

// The values of a JSON file's one array, one to a line, in a file in memory
// that DuckDB reads instead: DuckDB's reader of one array does not keep to
// its memory limit, its reader of lines does. The copy takes about the
// file's size, charged to the load.
class LinesOfArray {
public:
    explicit LinesOfArray(const DataFile& file) : charge_(file.size()) {
        fd_ = ::memfd_create("korvelline-json", MFD_CLOEXEC);
        if (fd_ < 0) throw std::runtime_error("read error");
        Bytes in;
        std::string out;
        for (std::uint64_t offset = 0; offset < file.size(); offset += in.size()) {
            in.clear();
            if (!file.readAt(offset, pieceBytes, in) || in.empty()) throw std::runtime_error("read error");
            out.clear();
            for (const char c : in) copy(c, out);
            if (!writeAll(out)) throw std::runtime_error("read error");
        }
    }
    ~LinesOfArray() {
        if (fd_ >= 0) ::close(fd_);
    }
    LinesOfArray(const LinesOfArray&) = delete;
    LinesOfArray& operator=(const LinesOfArray&) = delete;
    std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }

private:
    // Brackets and commas of the array become line ends; line ends within
    // a value become blanks (a string holds none unescaped); a byte-order
    // mark and the blanks between values go.
    void copy(char c, std::string& out) {
        if (inString_) {
            out += c;
            if (escaped_) escaped_ = false;
            else if (c == '\\') escaped_ = true;
            else if (c == '"') inString_ = false;
            return;
        }
        const bool blank = c == ' ' || c == '\t' || c == '\n' || c == '\r';
        if (depth_ <= 1) {
            if (blank || (depth_ == 0 && static_cast<unsigned char>(c) >= 0x80)) return;
            if (c == '[' && depth_ == 0) {
                depth_ = 1;
                return;
            }
            if (c == ',' && depth_ == 1) {
                out += '\n';
                return;
            }
            if (c == ']' && depth_ == 1) {
                depth_ = 0;
                out += '\n';
                return;
            }
        }
        if (c == '"') inString_ = true;
        if (c == '{' || c == '[') ++depth_;
        if ((c == '}' || c == ']') && depth_ > 1) --depth_;
        out += c == '\n' || c == '\r' ? ' ' : c;
    }
    bool writeAll(const std::string& text) {
        for (std::size_t done = 0; done < text.size();) {
            const ssize_t wrote = ::write(fd_, text.data() + done, text.size() - done);
            if (wrote < 0 && errno == EINTR) continue;
            if (wrote <= 0) return false;
            done += static_cast<std::size_t>(wrote);
        }
        return true;
    }

    LoadCharge charge_;
    int fd_ = -1;
    int depth_ = 0;
    bool inString_ = false, escaped_ = false;
};

// A column name as the table shows it: a token, with control characters
// (which DuckDB lets a JSON key hold, even NUL) made safe like blanks.
std::string safeName(const std::string& name) {
    std::string safe = tokenFrom(name);
    for (char& c : safe)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '_';
    return safe;
}

// A JSON file's rows, estimated from its first megabyte. A little room
// beyond the estimate spares growing the arrays for a file whose rows run a
// little shorter than the first ones.
long long jsonRowEstimate(long long sampledRecords, std::size_t sampledBytes, std::uint64_t fileSize) {
    return sampledBytes == 0 ? 0
                             : static_cast<long long>(static_cast<double>(sampledRecords) *
                                                      static_cast<double>(fileSize) /
                                                      static_cast<double>(sampledBytes) * 1.02) +
                                   16;
}

// The rows a Parquet file says it holds.
long long parquetRows(const Database& database, const std::string& source) {
    Query count(database, "SELECT count(*)::DOUBLE FROM " + source);
    if (duckdb_data_chunk chunk = count.next()) {
        Chunk holder(chunk);
        return static_cast<long long>(
            static_cast<const double*>(duckdb_vector_get_data(duckdb_data_chunk_get_vector(chunk, 0)))[0]);
    }
    return 0;
}

// Every byte of a file hashed on a thread of its own while DuckDB reads it.
// A refusal has no use for the rest of the hash: going, it stops the thread.
class BackgroundHash {
public:
    explicit BackgroundHash(const DataFile& file) : bytes_(file), reader_(bytes_, 0), thread_([this] { run(); }) {}
    ~BackgroundHash() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    BackgroundHash(const BackgroundHash&) = delete;
    BackgroundHash& operator=(const BackgroundHash&) = delete;

    // Waits for the whole file.
    std::uint64_t hash() {
        thread_.join();
        thread_ = std::thread();
        if (failure_) std::rethrow_exception(failure_);
        return reader_.hash();
    }

private:
    void run() {
        try {
            Piece piece;
            while (!stop_ && reader_.next(piece, pieceBytes, [](const char*, std::size_t size, bool) { return size; })) {
            }
        } catch (...) {
            failure_ = std::current_exception();
        }
    }

    const ByteSource bytes_;
    PieceReader reader_;
    std::exception_ptr failure_;
    std::atomic<bool> stop_{false};
    std::thread thread_;  // last: it starts once the rest is in place
};

// The columns of a query over the file, and how the rows query brings them.
struct QueryColumns {
    std::vector<TypedColumn> columns;
    std::vector<std::string> names;
    std::string from;  // the source with its columns named by place
    std::string list;  // what the rows query selects
    std::vector<int> widths;  // of the columns brought, as ChunkPipe takes them
    std::size_t brought = 0;  // columns that are not nested
};

QueryColumns describeColumns(const Query& query, const std::string& source, ColumnRules rules) {
    QueryColumns q;
    for (std::size_t k = 0; k < query.columns(); ++k) {
        Arrival arrival = arrivalOf(query.type(k));
        if (arrival == Arrival::Text && query.alias(k) == "JSON") arrival = Arrival::Json;
        TypedColumn column;
        column.arrival = arrival;
        column.type = query.type(k);
        column.piece.rules = rules;
        q.columns.push_back(std::move(column));
        q.names.push_back(query.name(k));
    }
    // The columns by place, whatever their names hold (a JSON key may
    // hold quotes or NUL, which no query can name).
    std::string places;
    for (std::size_t k = 0; k < q.columns.size(); ++k) places += (k ? ", c" : "c") + std::to_string(k);
    q.from = source + (q.columns.empty() ? "" : " AS t(" + places + ")");
    for (std::size_t k = 0; k < q.columns.size(); ++k) {
        TypedColumn& column = q.columns[k];
        if (column.arrival == Arrival::Nested) continue;
        column.in = q.brought++;
        q.list += (q.list.empty() ? "" : ", ") + selected("c" + std::to_string(k), column.arrival);
        const bool text = column.arrival == Arrival::Text || column.arrival == Arrival::Json;
        q.widths.push_back(text ? 0 : column.arrival == Arrival::Native ? widthOf(column.type) : 8);
    }
    if (q.brought == 0) q.list = "NULL";
    return q;
}

// Reads every row the query brings into the columns; returns how many.
long long readRows(Query& rows, QueryColumns& q, long long estimate, std::uint64_t fileSize) {
    long long capacity = 0, count = 0;
    reserveRows(q.columns, capacity, estimate);
    const double parsedPerRow = estimate > 0 ? static_cast<double>(fileSize) / static_cast<double>(estimate) : 0.0;
    double reported = 0.0;
    ChunkPipe pipe(rows, q.widths);
    while (std::unique_ptr<Chunk> holder = pipe.next()) {
        const duckdb_data_chunk chunk = holder->chunk;
        const long long n = static_cast<long long>(duckdb_data_chunk_get_size(chunk));
        if (count + n > std::numeric_limits<int>::max() - 100) throw Refusal("too many rows");
        reserveRows(q.columns, capacity, count + n);
        for (TypedColumn& column : q.columns)
            if (column.arrival != Arrival::Nested) readChunkColumn(chunk, column.in, column, count);
        count += n;
        const double parsed = std::min(static_cast<double>(fileSize), parsedPerRow * static_cast<double>(count));
        addLoadParsed(static_cast<std::size_t>(parsed - reported));
        reported = static_cast<double>(static_cast<std::size_t>(parsed));
    }
    return count;
}

// Text columns whose texts came after numbers (or whose numbers turn out to
// be texts) read their texts again.
void readTextsAgain(const Database& database, QueryColumns& q, const std::vector<ColumnPieces>& pieces,
                    long long count) {
    for (std::size_t c = 0; c < q.columns.size(); ++c) {
        TypedColumn& column = q.columns[c];
        if (pieces[c].nested || joinedKind(pieces[c]) != CellKind::Text || !column.piece.needsTextsAgain())
            continue;
        column.piece.restartAsText();
        column.shortTexts.clear();
        Query again(database, "SELECT " + selected("c" + std::to_string(c), column.arrival) + " FROM " + q.from);
        long long row = 0;
        while (duckdb_data_chunk chunk = again.next()) {
            Chunk holder(chunk);
            const long long n = static_cast<long long>(duckdb_data_chunk_get_size(chunk));
            if (row + n > count) throw Refusal("the file changed while it was read");
            readChunkColumn(chunk, 0, column, row);
            row += n;
        }
    }
}

// readTypedFile's work; DuckDB's refusals come out as Refusal. alias: the
// name DuckDB knows the file by; linesAlias: set to its name for a copy.
TableRead readThroughDuckdb(const DataFile& file, const std::string& alias, std::string& linesAlias,
                            const char* format, TableContent& content, ColumnRules rules) {
    const bool parquet = std::strcmp(format, "parquet") == 0;
    // The first megabyte for a JSON estimate.
    Bytes head;
    if (!file.readAt(0, 1 << 20, head)) throw std::runtime_error("read error");
    long long sampledRecords = 0;
    std::size_t sampledBytes = 0, keys = 0;
    if (!parquet) {
        sampleJsonRecords(head, sampledRecords, sampledBytes, keys);
        // A record of more keys than a table has columns is refused
        // before DuckDB learns its fields, which takes long for many.
        if (keys > maxSlots) return refuseTooManyDimensions(content);
    }
    // A JSON file of one array is read as its values one to a line (with
    // or without a byte-order mark, alike). A JSON object of many fields
    // still gives one column per field, never one map column (DuckDB's
    // guess from 200 fields on).
    std::unique_ptr<LinesOfArray> lines;
    if (!parquet && holdsOneArray(head)) {
        lines = std::make_unique<LinesOfArray>(file);
        linesAlias = lines->path();
    }
    const std::string source =
        parquet ? "read_parquet('" + alias + "')"
        : lines ? "read_json('" + lines->path() + "', map_inference_threshold = -1, format = 'newline_delimited')"
                : "read_json('" + alias + "', map_inference_threshold = -1)";
    BackgroundHash hash(file);

    const LoadCharge duckdbCharge(duckdbMemoryCharge(!parquet));
    Database database(!parquet);
    Query query(database, "SELECT * FROM " + source);
    // More columns than a table may have: refused before any is read.
    if (query.columns() > maxSlots) return refuseTooManyDimensions(content);
    QueryColumns q = describeColumns(query, source, rules);

    // Judged before it is read: Parquet says how many rows it holds; a
    // JSON file's rows are estimated from its first megabyte.
    const long long estimate =
        parquet ? parquetRows(database, source) : jsonRowEstimate(sampledRecords, sampledBytes, file.size());
    const unsigned long long reading = sizeof(double) * q.brought * static_cast<unsigned long long>(estimate);
    if (std::max<unsigned long long>(reading, tableBytes(estimate, static_cast<long long>(q.brought), false)) >
        loadMemoryLimit()) {
        content = TableContent();
        traceRefusal(" table too large for memory, file not loaded");
        return TableRead::Refused;
    }

    Query rows(database, "SELECT " + q.list + " FROM " + q.from);
    const long long count = readRows(rows, q, estimate, file.size());
    std::vector<ColumnPieces> pieces(q.columns.size());
    for (std::size_t c = 0; c < q.columns.size(); ++c) {
        pieces[c].name = safeName(q.names[c]);
        pieces[c].nested = q.columns[c].arrival == Arrival::Nested;
        pieces[c].pieces.push_back(&q.columns[c].piece);
        pieces[c].rows.push_back(count);
    }
    readTextsAgain(database, q, pieces, count);

    std::vector<std::unique_ptr<double[]>> storage;
    for (TypedColumn& column : q.columns) storage.push_back(std::move(column.values));
    return finishTable(pieces, storage, count, format, content, file.size(), [&hash] { return hash.hash(); });
}

}  // namespace

const char* typedFormatForPath(const char* path) {
    if (endsWithIgnoringCase(path, ".parquet")) return "parquet";
    if (endsWithIgnoringCase(path, ".json")) return "json";
    return nullptr;
}

TableRead readTypedFile(const DataFile& file, const char* path, const char* format, TableContent& content,
                        ColumnRules rules) {
    content = TableContent();
    // DuckDB opens the file this reader opened and judged, by its
    // descriptor: no other file, and no name DuckDB would take as a pattern.
    const std::string alias = "/proc/self/fd/" + std::to_string(file.descriptor());
    std::string linesAlias;  // DuckDB's name for a copy of the file, in its messages
    try {
        return readThroughDuckdb(file, alias, linesAlias, format, content, rules);
    } catch (const Refusal& refusal) {
        content = TableContent();
        std::string why = oneLine(refusal.what(), alias, path);
        if (!linesAlias.empty()) why = oneLine(why, linesAlias, path);
        // DuckDB's own buffers ran out within their share.
        if (why.find("Out of Memory") != std::string::npos) throw LoadTooLarge();
        traceRefusal(" bad ", format, ", ", why, ", file not loaded");
        return TableRead::Refused;
    }
}
