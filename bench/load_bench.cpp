// Times loading a large table against a floor measured in the same run: the
// bare read of the same file plus one number parse per token. The csv case
// loads the same values written as CSV and is judged against the whitespace
// loader's time on them. The csv-dates case loads rows of a date-time and an
// integer as CSV against the same rows with the date written as its seconds,
// zero-padded to the same width, so that both files have the same bytes.
// The csv-flights and parquet-flights cases load a flights-shaped table and
// print DuckDB reading the same file beside them (its full load, the same
// without insertion order, its streaming fetch and its scan alone).
//
//   load_bench [records] [dimensions] [repeats] [date rows] [flights rows]
//   (defaults 1000000 10 5 3000000 3000000; 0 skips a case)
//   load_bench --peak <table>    (one load, its time and peak memory)
//   load_bench --peer <table> [repeats]   (a real file against DuckDB reading it)
//   load_bench --hostile <dir>   (writes the files bench/hostile.sh refuses)
//
// Case names carry the record count (text-1000000, csv-1000000).

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <ctime>
#include <string>
#include <vector>

#include <duckdb.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <thread>

#include "data/table.h"
#include "plot/plot.h"
#include "session/saved_view.h"
#include "session/session.h"
#include "bench_support.h"
#include "flights.h"

namespace {

using bench::nowMs;
using bench::splitmix;
using bench::writeTable;

// rows of "when,delay": the time as "2014-07-09 13:45:07" or, for the
// floor, as its seconds padded with zeros to the same 19 characters.
void writeDates(const std::string& path, long rows, bool asSeconds) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::perror(path.c_str());
        std::exit(1);
    }
    std::string text = "when,delay\n";
    std::uint64_t state = 7;
    char line[64];
    for (long i = 0; i < rows; ++i) {
        // Ten years from 2010-01-01 00:00 UTC.
        const long long seconds = 1262304000LL + static_cast<long long>(splitmix(state) % 315532800ULL);
        const int delay = static_cast<int>(splitmix(state) % 400) - 60;
        int length = 0;
        if (asSeconds) {
            length = std::snprintf(line, sizeof line, "%019lld,%d\n", seconds, delay);
        } else {
            const std::time_t t = static_cast<std::time_t>(seconds);
            std::tm parts{};
            gmtime_r(&t, &parts);
            length = std::snprintf(line, sizeof line, "%04d-%02d-%02d %02d:%02d:%02d,%d\n", parts.tm_year + 1900,
                                   parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                                   delay);
        }
        text.append(line, static_cast<std::size_t>(length));
        if (text.size() > (1 << 20)) {
            std::fwrite(text.data(), 1, text.size(), file);
            text.clear();
        }
    }
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
}

long fileSize(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    std::fseek(file, 0, SEEK_END);
    const long size = std::ftell(file);
    std::fclose(file);
    return size;
}

// The floor: read the whole file, then parse every whitespace-separated token
// once as a number (names fail quickly and are counted like the rest).
double floorRun(const std::string& path, double& checksum) {
    const double start = nowMs();
    std::FILE* file = std::fopen(path.c_str(), "rb");
    std::fseek(file, 0, SEEK_END);
    const long size = std::ftell(file);
    std::fseek(file, 0, SEEK_SET);
    std::vector<char> buffer(static_cast<size_t>(size));
    if (std::fread(buffer.data(), 1, buffer.size(), file) != buffer.size()) std::exit(1);
    std::fclose(file);
    const char* p = buffer.data();
    const char* end = p + buffer.size();
    double sum = 0.0;
    while (p != end) {
        while (p != end && (*p == ' ' || *p == '\n')) ++p;
        const char* token = p;
        while (p != end && *p != ' ' && *p != '\n') ++p;
        if (token == p) break;
        double value = 0.0;
        std::from_chars(token, p, value);
        sum += value;
    }
    checksum = sum;
    return nowMs() - start;
}

double loadRun(const std::string& path) {
    setDataFileName(path.c_str());
    const double start = nowMs();
    loadDataFile();
    const double elapsed = nowMs() - start;
    if (plot == nullptr || recordCount == 0) {
        std::fprintf(stderr, "load failed\n");
        std::exit(1);
    }
    return elapsed;
}

// One load of an existing table, in a process that has done nothing else,
// so the peak resident size is the load's.
int peakRun(const char* path) {
    const double elapsed = loadRun(path);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double peakMb = static_cast<double>(usage.ru_maxrss) / 1024.0;
    const double tableMb = static_cast<double>(tableBytes(recordCount, dimensionCount, hasRecordLabels)) / 1048576.0;
    std::printf("%s: %d records x %d dimensions loaded in %.1f ms; peak resident %.0f MB, table estimate %.0f MB\n",
                path, recordCount, dimensionCount, elapsed, peakMb, tableMb);
    return 0;
}

void runTables(long records, int dimensions, int repeats) {
    const std::string path = "load_bench_table.txt";
    const std::string csvPath = "load_bench_table.csv";
    writeTable(path, records, dimensions, false);
    writeTable(csvPath, records, dimensions, true);
    const double megabytes = fileSize(path) / 1e6;

    // Interleaved runs so that both see the same cache and machine load; the
    // best of each is reported.
    double bestFloor = 1e300;
    double bestLoad = 1e300;
    double bestCsv = 1e300;
    double checksum = 0.0;
    for (int r = 0; r < repeats; ++r) {
        bestFloor = std::min(bestFloor, floorRun(path, checksum));
        bestLoad = std::min(bestLoad, loadRun(path));
        bestCsv = std::min(bestCsv, loadRun(csvPath));
    }
    std::remove(path.c_str());
    std::remove(csvPath.c_str());

    std::printf("table: %ld records x %d dimensions, %.1f MB (checksum %.3g)\n", records,
                dimensions, megabytes, checksum);
    std::printf("| case | best of %d (ms) | ratio to floor |\n|---|---|---|\n", repeats);
    std::printf("| floor: read + from_chars per token | %.1f | 1.00 |\n", bestFloor);
    std::printf("| loadDataFile | %.1f | %.2f |\n", bestLoad, bestLoad / bestFloor);
    std::printf("| loadDataFile, the same values as CSV | %.1f | %.2f |\n", bestCsv, bestCsv / bestFloor);
    std::printf("bench=load case=text-%ld ms=%.1f floor_ms=%.1f ratio=%.2f\n", records, bestLoad, bestFloor,
                bestLoad / bestFloor);
    // The CSV loader is judged against the whitespace loader on the same values.
    std::printf("bench=load case=csv-%ld ms=%.1f floor_ms=%.1f ratio=%.2f parse_floor_ms=%.1f\n", records,
                bestCsv, bestLoad, bestCsv / bestLoad, bestFloor);
}

void runDates(long rows, int repeats) {
    const std::string datesPath = "load_bench_dates.csv";
    const std::string secondsPath = "load_bench_seconds.csv";
    writeDates(datesPath, rows, false);
    writeDates(secondsPath, rows, true);
    const double megabytes = fileSize(datesPath) / 1e6;
    if (fileSize(datesPath) != fileSize(secondsPath)) {
        std::fprintf(stderr, "the two date files differ in size\n");
        std::exit(1);
    }
    double bestDates = 1e300;
    double bestSeconds = 1e300;
    for (int r = 0; r < repeats; ++r) {
        bestSeconds = std::min(bestSeconds, loadRun(secondsPath));
        bestDates = std::min(bestDates, loadRun(datesPath));
    }
    std::remove(datesPath.c_str());
    std::remove(secondsPath.c_str());
    std::printf("dates: %ld rows, %.1f MB in each file\n", rows, megabytes);
    std::printf("bench=load case=csv-dates ms=%.1f floor_ms=%.1f ratio=%.2f\n", bestDates, bestSeconds,
                bestDates / bestSeconds);
}

// An in-memory DuckDB with two threads, the peer of every DuckDB case.
struct Duck {
    duckdb_database database = nullptr;
    duckdb_connection connection = nullptr;
    Duck() {
        duckdb_config config = nullptr;
        duckdb_create_config(&config);
        duckdb_set_config(config, "threads", "2");
        if (duckdb_open_ext(nullptr, &database, config, nullptr) == DuckDBError ||
            duckdb_connect(database, &connection) == DuckDBError) {
            std::fprintf(stderr, "DuckDB did not open\n");
            std::exit(1);
        }
        duckdb_destroy_config(&config);
    }
    ~Duck() {
        duckdb_disconnect(&connection);
        duckdb_close(&database);
    }
    void run(const std::string& sql) {
        duckdb_result result;
        if (duckdb_query(connection, sql.c_str(), &result) == DuckDBError) {
            std::fprintf(stderr, "%s: %s\n", sql.c_str(), duckdb_result_error(&result));
            std::exit(1);
        }
        duckdb_destroy_result(&result);
    }
    // Fetches every chunk of the query's streaming result, converting nothing.
    long long fetchAll(const std::string& sql) {
        duckdb_prepared_statement prepared = nullptr;
        duckdb_pending_result pending = nullptr;
        duckdb_result result;
        if (duckdb_prepare(connection, sql.c_str(), &prepared) == DuckDBError ||
            duckdb_pending_prepared_streaming(prepared, &pending) == DuckDBError ||
            duckdb_execute_pending(pending, &result) == DuckDBError) {
            std::fprintf(stderr, "%s failed\n", sql.c_str());
            std::exit(1);
        }
        long long rows = 0;
        while (duckdb_data_chunk chunk = duckdb_fetch_chunk(result)) {
            rows += static_cast<long long>(duckdb_data_chunk_get_size(chunk));
            duckdb_destroy_data_chunk(&chunk);
        }
        duckdb_destroy_result(&result);
        duckdb_destroy_pending(&pending);
        duckdb_destroy_prepare(&prepared);
        return rows;
    }
};

// DuckDB doing the same job four ways on the same file, each in a fresh
// in-memory database: its full load into a table (CREATE TABLE AS, which
// also compresses and keeps the rows in order), the same without keeping the
// order, its streaming fetch of every chunk (converting nothing), and its
// scan alone (every row read and converted, then dropped: nothing kept or
// handed over).
struct DuckTimes {
    double ctas = 1e300, unordered = 1e300, fetch = 1e300, scan = 1e300;
};

// The scan alone: DuckDB runs the whole query and drops its rows.
std::string scanQuery(const std::string& source) { return "EXPLAIN ANALYZE SELECT * FROM " + source; }

void duckdbRuns(const std::string& source, const std::string& scan, DuckTimes& best) {
    const auto timed = [](const std::function<void(Duck&)>& work) {
        Duck duck;
        const double start = nowMs();
        work(duck);
        return nowMs() - start;
    };
    best.ctas = std::min(best.ctas, timed([&](Duck& d) { d.run("CREATE TABLE t AS SELECT * FROM " + source); }));
    best.unordered = std::min(best.unordered, timed([&](Duck& d) {
                                  d.run("SET preserve_insertion_order = false");
                                  d.run("CREATE TABLE t AS SELECT * FROM " + source);
                              }));
    best.fetch = std::min(best.fetch, timed([&](Duck& d) {
                              if (d.fetchAll("SELECT * FROM " + source) <= 0) std::exit(1);
                          }));
    best.scan = std::min(best.scan, timed([&](Duck& d) { d.run(scan); }));
}

void printPeers(const DuckTimes& t, double ms) {
    std::printf(" duckdb_ctas_ms=%.1f duckdb_unordered_ms=%.1f duckdb_fetch_ms=%.1f duckdb_scan_ms=%.1f fetch_ratio=%.2f\n",
                t.ctas, t.unordered, t.fetch, t.scan, ms / t.fetch);
}

// The source DuckDB reads a file by, from its name.
std::string duckSource(const std::string& path) {
    const auto endsWith = [&](const char* suffix) {
        const std::size_t n = std::strlen(suffix);
        return path.size() >= n && path.compare(path.size() - n, n, suffix) == 0;
    };
    if (endsWith(".parquet")) return "read_parquet('" + path + "')";
    if (endsWith(".json")) return "read_json('" + path + "')";
    if (endsWith(".tsv") || endsWith(".tab")) return "read_csv('" + path + "', delim = '\t')";
    return "read_csv('" + path + "')";
}

// The floor of a CSV load: the file read in 4 MB blocks by two threads, one
// per half (cut at a line end), split at commas and line ends, and one
// from_chars per token of the numeric columns.
double csvFloorRun(const std::string& path, const std::vector<bool>& numeric, double& checksum) {
    const double start = nowMs();
    const int fd = ::open(path.c_str(), O_RDONLY);
    const long long size = ::lseek(fd, 0, SEEK_END);
    const auto half = [&](long long from, long long to, double& sum) {
        std::vector<char> block;
        std::string carry;
        std::size_t column = 0;
        bool header = from == 0;
        for (long long at = from; at < to;) {
            const long long n = std::min<long long>(4 << 20, to - at);
            block.assign(carry.begin(), carry.end());
            const std::size_t kept = block.size();
            block.resize(kept + static_cast<std::size_t>(n));
            if (::pread(fd, block.data() + kept, static_cast<std::size_t>(n), at) != n) std::exit(1);
            at += n;
            std::size_t end = block.size();
            if (at < to)
                while (end > 0 && block[end - 1] != '\n') --end;
            carry.assign(block.begin() + static_cast<std::ptrdiff_t>(end), block.end());
            const char* p = block.data();
            const char* stop = p + end;
            while (p < stop) {
                const char* token = p;
                while (p < stop && *p != ',' && *p != '\n') ++p;
                if (!header && column < numeric.size() && numeric[column]) {
                    double value = 0.0;
                    std::from_chars(token, p, value);
                    sum += value;
                }
                if (p < stop && *p == '\n') {
                    column = 0;
                    header = false;
                } else {
                    ++column;
                }
                ++p;
            }
        }
    };
    // The second half starts after the first line end past the middle.
    long long middle = size / 2;
    {
        char c = 0;
        while (middle < size && ::pread(fd, &c, 1, middle) == 1 && c != '\n') ++middle;
        ++middle;
    }
    double first = 0.0, second = 0.0;
    std::thread worker([&] { half(middle, size, second); });
    half(0, std::min(middle, size), first);
    worker.join();
    ::close(fd);
    checksum = first + second;
    return nowMs() - start;
}

void runFlights(long rows, int repeats) {
    const std::string csvPath = "load_bench_flights.csv";
    const std::string parquetPath = "load_bench_flights.parquet";
    std::FILE* file = std::fopen(csvPath.c_str(), "wb");
    if (file == nullptr || !bench::writeFlights(file, rows, 1) || std::fclose(file) != 0) {
        std::perror(csvPath.c_str());
        std::exit(1);
    }
    {
        Duck duck;
        duck.run("COPY (SELECT * FROM read_csv('" + csvPath + "')) TO '" + parquetPath + "' (FORMAT parquet)");
    }
    // time, delay, distance, origin, destination: the two in the middle are numbers.
    const std::vector<bool> numeric = {false, true, true, false, false};
    const std::string csvSource = duckSource(csvPath), parquetSource = duckSource(parquetPath);
    const std::string csvScan = scanQuery(csvSource), parquetScan = scanQuery(parquetSource);
    double csvMs = 1e300, csvFloor = 1e300, parquetMs = 1e300;
    DuckTimes csvPeers, parquetPeers;
    double checksum = 0.0;
    for (int r = 0; r < repeats; ++r) {
        csvMs = std::min(csvMs, loadRun(csvPath));
        csvFloor = std::min(csvFloor, csvFloorRun(csvPath, numeric, checksum));
        duckdbRuns(csvSource, csvScan, csvPeers);
        parquetMs = std::min(parquetMs, loadRun(parquetPath));
        duckdbRuns(parquetSource, parquetScan, parquetPeers);
    }
    std::printf("flights: %ld rows, %.1f MB as CSV, %.1f MB as Parquet (checksum %.6g), %u cores\n", rows,
                fileSize(csvPath) / 1e6, fileSize(parquetPath) / 1e6, checksum, std::thread::hardware_concurrency());
    std::remove(csvPath.c_str());
    std::remove(parquetPath.c_str());
    std::printf("bench=load case=csv-flights ms=%.1f floor_ms=%.1f ratio=%.2f", csvMs, csvFloor, csvMs / csvFloor);
    printPeers(csvPeers, csvMs);
    // The Parquet load is built on DuckDB's streaming fetch: that is its floor.
    std::printf("bench=load case=parquet-flights ms=%.1f floor_ms=%.1f ratio=%.2f", parquetMs, parquetPeers.fetch,
                parquetMs / parquetPeers.fetch);
    printPeers(parquetPeers, parquetMs);
}

// A real file against DuckDB reading it: our load until the table is in,
// and DuckDB's four ways, interleaved, best of each.
int peerRun(const std::string& path, int repeats) {
    const std::string source = duckSource(path);
    const std::string scan = scanQuery(source);
    double ms = 1e300;
    DuckTimes peers;
    for (int r = 0; r < repeats; ++r) {
        ms = std::min(ms, loadRun(path));
        duckdbRuns(source, scan, peers);
    }
    std::printf("peer: %s, %.1f MB, %d records x %d dimensions, %u cores\n", path.c_str(), fileSize(path) / 1e6,
                recordCount, dimensionCount, std::thread::hardware_concurrency());
    std::printf("bench=load case=peer ms=%.1f floor_ms=%.1f ratio=%.2f", ms, peers.fetch, ms / peers.fetch);
    printPeers(peers, ms);
    return 0;
}

// The inputs made to exhaust a reader's memory (bench/hostile.sh runs the
// converter and the viewer on them under memory limits).
void writeRepeated(const std::string& path, const std::string& head, const std::string& row, std::size_t bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::perror(path.c_str());
        std::exit(1);
    }
    std::string block;
    while (bytes > 0 && block.size() < (1u << 20)) block += row;
    std::fwrite(head.data(), 1, head.size(), file);
    for (std::size_t written = 0; written < bytes; written += block.size()) std::fwrite(block.data(), 1, block.size(), file);
    std::fclose(file);
}

int writeHostile(const std::string& dir) {
    const auto wide = [&](const char* name, int columns, int rows) {
        std::string header = "c0", row = "1";
        for (int j = 1; j < columns; ++j) {
            header += ",c" + std::to_string(j);
            row += ",1";
        }
        writeRepeated(dir + "/" + name, header + "\n", row + "\n", 0);
        std::FILE* file = std::fopen((dir + "/" + name).c_str(), "ab");
        for (int i = 0; i < rows; ++i) std::fprintf(file, "%s\n", row.c_str());
        std::fclose(file);
    };
    wide("wide200k.csv", 200000, 50);  // 21 MB
    wide("wide1m.csv", 1000000, 2);    // 12 MB
    // The first megabyte of rows of 2,000 bytes, then 250 MB of "a,1".
    std::string longRows = "name,value\n";
    while (longRows.size() < (1u << 20)) longRows += std::string(1996, 'x') + ",1\n";
    writeRepeated(dir + "/longshort.csv", longRows, "a,1\n", std::size_t(240000000));
    writeRepeated(dir + "/cr.csv", "a,b\r", "1,2\r3,4\r", std::size_t(250000000));  // carriage returns only
    // A gigabyte of zeros costs no disk: a sparse file.
    if (std::FILE* file = std::fopen((dir + "/sparse.csv").c_str(), "wb")) {
        std::fclose(file);
        if (::truncate((dir + "/sparse.csv").c_str(), 1LL << 30) != 0) std::perror("truncate");
    }
    std::string keys = "[";
    for (int r = 0; r < 3; ++r) {
        keys += r ? ",\n{" : "{";
        for (int j = 0; j < 100000; ++j) keys += (j ? ", \"k" : "\"k") + std::to_string(j) + "\": " + std::to_string(j);
        keys += "}";
    }
    writeRepeated(dir + "/keys.json", keys + "]\n", "", 0);  // 3 records x 100,000 keys
    writeRepeated(dir + "/longfirst.json", "{\"a\": 1, \"t\": \"" + std::string(2 << 20, 'y') + "\"}\n",
                  "{\"a\": 2, \"t\": \"z\"}\n", std::size_t(240000000));
    {
        Duck duck;  // 1,000,000 distinct texts of 1 KB: 3 MB as Parquet
        duck.run("COPY (SELECT repeat('x', 1016) || lpad(range::VARCHAR, 8, '0') AS label, range AS x FROM range(1000000)) TO '" +
                 dir + "/labels.parquet' (COMPRESSION zstd)");
    }
    // A session of a small table with a list of 60,000,000 numbers added.
    writeRepeated(dir + "/small.csv", "x,y\n1,2\n3,4\n", "", 0);
    setDataFileName((dir + "/small.csv").c_str());
    loadDataFile();
    if (!saveSessionTo(dir + "/small.korvelline", true)) return 1;
    std::FILE* in = std::fopen((dir + "/small.korvelline").c_str(), "rb");
    std::string session(1 << 16, '\0');
    session.resize(std::fread(&session[0], 1, session.size(), in));
    std::fclose(in);
    session.erase(session.rfind('}'));
    writeRepeated(dir + "/big.korvelline", session + ",\n \"extra\": [0", ",0", std::size_t(120) << 20);
    std::FILE* out = std::fopen((dir + "/big.korvelline").c_str(), "ab");
    std::fputs("]\n}\n", out);
    std::fclose(out);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    installSessionHooks();
    if (argc == 3 && std::string(argv[1]) == "--peak") return peakRun(argv[2]);
    if (argc == 3 && std::string(argv[1]) == "--hostile") return writeHostile(argv[2]);
    if (argc >= 3 && std::string(argv[1]) == "--peer") return peerRun(argv[2], argc > 3 ? std::max(1, std::atoi(argv[3])) : 5);
    const long records = argc > 1 ? std::atol(argv[1]) : 1000000;
    const int dimensions = argc > 2 ? std::atoi(argv[2]) : 10;
    const int repeats = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
    const long dateRows = argc > 4 ? std::atol(argv[4]) : 3000000;
    const long flightRows = argc > 5 ? std::atol(argv[5]) : 3000000;
    if (records > 0) runTables(records, dimensions, repeats);
    if (dateRows > 0) runDates(dateRows, repeats);
    if (flightRows > 0) runFlights(flightRows, repeats);
    return 0;
}
