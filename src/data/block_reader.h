#pragma once
// Reading a table file in pieces: the bytes are read once, in order, in
// blocks that end where a piece may end (a line end outside quotes, a blank
// between tokens), and hashed as they are read; the pieces are then parsed
// on all cores at once. Where pieces end depends only on the bytes, so what
// is read never depends on the number of threads.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

#include "data/data_file.h"

// The bytes of a table: an open file, or text already in memory.
class ByteSource {
public:
    explicit ByteSource(const DataFile& file);
    ByteSource(const char* data, std::size_t size);
    std::uint64_t size() const { return size_; }
    // Appends up to n bytes from offset to out; false on a read error.
    bool read(std::uint64_t offset, std::size_t n, Bytes& out) const;

private:
    const DataFile* file_ = nullptr;
    const char* data_ = nullptr;
    std::uint64_t size_ = 0;
};

// One piece: its bytes (bytes[0, length)) and where they lie in the source.
struct Piece {
    std::size_t index = 0;
    std::uint64_t offset = 0;
    std::size_t length = 0;
    bool last = false;  // ends at the end of the source
    Bytes bytes;
};

// Where a piece read so far may end: its length, or 0 to read more first.
// With atEnd the piece takes all of the bytes given, whatever it returns.
// Called in order, one piece at a time, so it may count what the pieces
// before it held.
using PieceCut = std::function<std::size_t(const char* data, std::size_t size, bool atEnd)>;

class PieceReader {
public:
    PieceReader(const ByteSource& source, std::uint64_t start);
    ~PieceReader();
    PieceReader(const PieceReader&) = delete;
    PieceReader& operator=(const PieceReader&) = delete;

    // Reads the next piece of about blockSize bytes into piece (the bytes
    // after its cut are kept for the next one). False at the end; throws
    // std::runtime_error on a read error and PieceTooLong when no cut is
    // found within maxPieceBytes. Growing a piece beyond blockSize is
    // charged to the load's memory account (data/data_file.h).
    bool next(Piece& piece, std::size_t blockSize, const PieceCut& cut);
    // Whether every byte of the source was read, and the XXH3 hash of all
    // of them (from offset 0, which the reader must have started at).
    bool atEnd() const { return offset_ >= source_.size() && carry_.empty(); }
    std::uint64_t hash() const;

private:
    const ByteSource& source_;
    std::uint64_t offset_;        // next byte to read
    std::uint64_t carryOffset_;  // where the kept bytes lie
    Bytes carry_;
    std::size_t pieces_ = 0;
    LoadCharge grown_;  // for pieces (and what they carry) grown past their block size
    struct HashState;
    std::unique_ptr<HashState> hash_;
};

// Reads the remaining pieces with reader and parses each with parse(piece)
// on up to `threads` threads, reading (and cutting) under a lock and
// parsing outside it. The first exception any of them throws is rethrown
// once every thread has finished.
void parsePieces(PieceReader& reader, std::size_t blockSize, const PieceCut& cut, int threads,
                 const std::function<void(Piece&)>& parse);

constexpr std::size_t pieceBytes = 4 << 20;
// No piece grows beyond this: a row or token longer than it is refused
// rather than read whole.
constexpr std::size_t maxPieceBytes = 64 << 20;

class PieceTooLong : public std::exception {
public:
    const char* what() const noexcept override { return "piece too long"; }
};

// How often each of the bytes a, b, c, d occurs in [data, data + size), in
// one pass (16 bytes at a time).
struct ByteCounts {
    std::size_t a = 0, b = 0, c = 0, d = 0;
};
ByteCounts countBytes(const char* data, std::size_t size, char a, char b, char c, char d);
