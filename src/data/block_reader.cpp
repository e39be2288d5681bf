#include "data/block_reader.h"

#define XXH_INLINE_ALL
#include <xxhash.h>

#include <emmintrin.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "data/data_file.h"
#include "data/load_progress.h"

struct PieceReader::HashState {
    XXH3_state_t state;
};

ByteSource::ByteSource(const DataFile& file) : file_(&file), size_(file.size()) {}

ByteSource::ByteSource(const char* data, std::size_t size) : data_(data), size_(size) {}

bool ByteSource::read(std::uint64_t offset, std::size_t n, Bytes& out) const {
    if (offset >= size_) return true;
    n = static_cast<std::size_t>(std::min<std::uint64_t>(n, size_ - offset));
    if (file_ != nullptr) return file_->readAt(offset, n, out);
    out.insert(out.end(), data_ + offset, data_ + offset + n);
    return true;
}

PieceReader::PieceReader(const ByteSource& source, std::uint64_t start)
    : source_(source), offset_(start), carryOffset_(start), hash_(std::make_unique<HashState>()) {
    XXH3_64bits_reset(&hash_->state);
}

PieceReader::~PieceReader() = default;

bool PieceReader::next(Piece& piece, std::size_t blockSize, const PieceCut& cut) {
    if (atEnd()) return false;
    piece.bytes.swap(carry_);
    carry_.clear();
    piece.offset = carryOffset_;
    std::size_t want = blockSize;
    for (;;) {
        const std::size_t before = piece.bytes.size();
        if (before < want && offset_ < source_.size()) {
            if (!source_.read(offset_, want - before, piece.bytes)) throw std::runtime_error("read error");
            const std::size_t got = piece.bytes.size() - before;
            XXH3_64bits_update(&hash_->state, piece.bytes.data() + before, got);
            offset_ += got;
            addLoadRead(got);
            // A file that shrank meanwhile ends here.
            if (got == 0) offset_ = source_.size();
        }
        const bool atEnd = offset_ >= source_.size();
        const std::size_t length = cut(piece.bytes.data(), piece.bytes.size(), atEnd);
        if (length > 0 || atEnd) {
            piece.length = atEnd ? piece.bytes.size() : length;
            carry_.assign(piece.bytes.begin() + static_cast<std::ptrdiff_t>(piece.length), piece.bytes.end());
            carryOffset_ = piece.offset + piece.length;
            piece.last = atEnd && carry_.empty();
            piece.index = pieces_++;
            return true;
        }
        // No place to cut yet: a longer piece, up to a bound.
        if (piece.bytes.size() >= maxPieceBytes) throw PieceTooLong();
        want = std::min(std::max(want, piece.bytes.size()) * 2, maxPieceBytes);
        // The piece and, later, the bytes it carries over may both be this long.
        if (2 * want > grown_.bytes()) grown_.take(2 * want - grown_.bytes());
    }
}

ByteCounts countBytes(const char* data, std::size_t size, char a, char b, char c, char d) {
    ByteCounts counts;
    const __m128i va = _mm_set1_epi8(a), vb = _mm_set1_epi8(b), vc = _mm_set1_epi8(c), vd = _mm_set1_epi8(d);
    const __m128i zero = _mm_setzero_si128();
    const auto total = [&](__m128i bytes) {
        const __m128i sums = _mm_sad_epu8(bytes, zero);
        return static_cast<std::size_t>(_mm_cvtsi128_si64(sums)) +
               static_cast<std::size_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
    };
    std::size_t i = 0;
    while (size - i >= 16) {
        // Byte counters hold up to 255 matches: add them up every 255 steps.
        const std::size_t steps = std::min<std::size_t>((size - i) / 16, 255);
        __m128i sa = zero, sb = zero, sc = zero, sd = zero;
        for (std::size_t k = 0; k < steps; ++k, i += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
            sa = _mm_sub_epi8(sa, _mm_cmpeq_epi8(v, va));
            sb = _mm_sub_epi8(sb, _mm_cmpeq_epi8(v, vb));
            sc = _mm_sub_epi8(sc, _mm_cmpeq_epi8(v, vc));
            sd = _mm_sub_epi8(sd, _mm_cmpeq_epi8(v, vd));
        }
        counts.a += total(sa);
        counts.b += total(sb);
        counts.c += total(sc);
        counts.d += total(sd);
    }
    for (; i < size; ++i) {
        counts.a += data[i] == a;
        counts.b += data[i] == b;
        counts.c += data[i] == c;
        counts.d += data[i] == d;
    }
    return counts;
}

std::uint64_t PieceReader::hash() const { return XXH3_64bits_digest(&hash_->state); }

void parsePieces(PieceReader& reader, std::size_t blockSize, const PieceCut& cut, int threads,
                 const std::function<void(Piece&)>& parse) {
    std::mutex mutex;
    std::exception_ptr failure;
    auto lane = [&] {
        Piece piece;
        for (;;) {
            try {
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    if (failure || !reader.next(piece, blockSize, cut)) return;
                }
                parse(piece);
                addLoadParsed(piece.length);
            } catch (...) {
                std::lock_guard<std::mutex> lock(mutex);
                if (!failure) failure = std::current_exception();
                return;
            }
        }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; ++t) {
        try {
            pool.emplace_back(lane);
        } catch (const std::system_error&) {
            break;  // fewer threads read the same pieces
        }
    }
    lane();
    for (std::thread& thread : pool) thread.join();
    if (failure) std::rethrow_exception(failure);
}
