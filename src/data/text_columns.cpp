#include "data/text_columns.h"

#define XXH_INLINE_ALL
#include <xxhash.h>

#include <sys/mman.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <unordered_set>

#include "base/platform.h"
#include "data/csv_table.h"
#include "data/table_content.h"
#include "data/time_text.h"

namespace {

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();

std::string timeText(double seconds, ValueFormat format) {
    char text[40];
    formatTime(seconds, format == ValueFormat::Date, text, sizeof text);
    return text;
}

// Names must be unique for the label sections to find their dimension.
std::string uniqueName(const std::string& name, std::unordered_set<std::string>& used) {
    if (used.insert(name).second) return name;
    for (int n = 2;; ++n) {
        std::string candidate = name + "_" + std::to_string(n);
        if (used.insert(candidate).second) return candidate;
    }
}

// Negative, zero or positive as a sorts before, with or after b ignoring ASCII case.
int compareIgnoringCase(const std::string& a, const std::string& b) {
    const auto lower = [](char c) { return static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); };
    for (std::size_t k = 0; k < a.size() && k < b.size(); ++k)
        if (lower(a[k]) != lower(b[k])) return lower(a[k]) < lower(b[k]) ? -1 : 1;
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

// A column's distinct texts over all its pieces: each piece's codes mapped
// to codes of the whole column, first appearance first.
struct JoinedTexts {
    std::vector<std::string_view> texts;            // by column code; empty when counted by hash
    std::vector<std::vector<std::uint32_t>> codes;  // per piece: its code -> column code
    std::size_t distinct = 0;
    LoadCharge charge;
};

JoinedTexts joinTexts(const ColumnPieces& column) {
    JoinedTexts joined;
    bool byText = true;
    std::size_t total = 0;
    for (const ColumnPiece* piece : column.pieces) {
        byText = byText && piece->texts.keepsTexts();
        total += piece->texts.size();
    }
    std::size_t capacity = 16;
    while (capacity < 2 * total) capacity *= 2;
    // The slots, and per text its hash, origin, code and view.
    joined.charge.take(capacity * sizeof(std::uint32_t) +
                       total * (sizeof(std::uint64_t) + sizeof(std::pair<std::size_t, std::uint32_t>) +
                                sizeof(std::uint32_t) + (byText ? sizeof(std::string_view) : 0)));
    std::vector<std::uint32_t> slots(capacity, 0);  // column code + 1
    std::vector<std::uint64_t> hashes;
    std::vector<std::pair<std::size_t, std::uint32_t>> origin;  // piece, its code
    joined.codes.resize(column.pieces.size());
    for (std::size_t p = 0; p < column.pieces.size(); ++p) {
        const TextDictionary& texts = column.pieces[p]->texts;
        joined.codes[p].resize(texts.size());
        for (std::uint32_t k = 0; k < texts.size(); ++k) {
            const std::uint64_t hash = texts.hash(k);
            std::size_t slot = static_cast<std::size_t>(hash) & (capacity - 1);
            for (;; slot = (slot + 1) & (capacity - 1)) {
                const std::uint32_t found = slots[slot];
                if (found == 0) {
                    slots[slot] = static_cast<std::uint32_t>(hashes.size()) + 1;
                    joined.codes[p][k] = static_cast<std::uint32_t>(hashes.size());
                    hashes.push_back(hash);
                    origin.emplace_back(p, k);
                    break;
                }
                const auto [q, m] = origin[found - 1];
                if (hashes[found - 1] == hash &&
                    (!byText || column.pieces[q]->texts.text(m) == texts.text(k))) {
                    joined.codes[p][k] = found - 1;
                    break;
                }
            }
        }
    }
    joined.distinct = hashes.size();
    if (byText) {
        joined.texts.reserve(origin.size());
        for (const auto& [p, k] : origin) joined.texts.push_back(column.pieces[p]->texts.text(k));
    }
    return joined;
}

// The order of the category codes: by token ignoring ASCII case, then by the
// token's bytes, then by the text's (two texts may give the same token).
std::vector<std::uint32_t> categoryOrder(const std::vector<std::string_view>& texts,
                                         std::vector<std::string>& tokens) {
    tokens.clear();
    for (std::string_view text : texts) tokens.push_back(tokenFrom(text));
    std::vector<std::uint32_t> order(texts.size());
    for (std::uint32_t k = 0; k < order.size(); ++k) order[k] = k;
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        const int byCase = compareIgnoringCase(tokens[a], tokens[b]);
        if (byCase != 0) return byCase < 0;
        return tokens[a] != tokens[b] ? tokens[a] < tokens[b] : texts[a] < texts[b];
    });
    return order;
}

// The n <= 8 bytes at p as a little-endian number, through loads of a fixed
// size (overlapping where n is not 4 or 8: the bytes they share agree).
std::uint64_t packedBytes(const char* p, std::size_t n) {
    if (n >= 4) {
        std::uint32_t low = 0, high = 0;
        std::memcpy(&low, p, 4);
        std::memcpy(&high, p + n - 4, 4);
        return low | static_cast<std::uint64_t>(high) << (8 * (n - 4));
    }
    if (n == 0) return 0;
    const auto byte = [&](std::size_t i) { return static_cast<std::uint64_t>(static_cast<unsigned char>(p[i])) << (8 * i); };
    return byte(0) | byte(n / 2) | byte(n - 1);
}

// Most texts of a category column are short: compared in place rather than
// through a call.
bool sameText(const char* kept, std::string_view text) {
    const std::size_t length = text.size();
    if (length <= 16) {
        for (std::size_t i = 0; i < length; ++i)
            if (kept[i] != text[i]) return false;
        return true;
    }
    return std::memcmp(kept, text.data(), length) == 0;
}

}  // namespace

std::uint32_t TextDictionary::code(std::string_view text) {
    if (slots_.empty()) {
        charge_.take(64 * sizeof(std::uint32_t));
        slots_.assign(64, 0);
    }
    // A text of up to 8 bytes is its own hash: its bytes and its length tell
    // it apart from every other, and it is compared without a look at them.
    const bool shortText = text.size() <= 8;
    std::uint64_t hash = 0;
    if (shortText) {
        hash = packedBytes(text.data(), text.size());
        // A bijective mix (MurmurHash3's finaliser) spreads the bytes over the slots.
        hash ^= hash >> 33;
        hash *= 0xff51afd7ed558ccdULL;
        hash ^= hash >> 33;
        hash *= 0xc4ceb9fe1a85ec53ULL;
        hash ^= hash >> 33;
    } else {
        hash = XXH3_64bits(text.data(), text.size());
    }
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t slot = static_cast<std::size_t>(hash) & mask;; slot = (slot + 1) & mask) {
        const std::uint32_t found = slots_[slot];
        if (found == 0) {
            const auto code = static_cast<std::uint32_t>(entries_.size());
            reserveCharged(entries_, entries_.size() + 1, charge_);
            entries_.push_back(Entry{hash, bytes_.size(), static_cast<std::uint32_t>(text.size())});
            if (keepsTexts_) {
                reserveCharged(bytes_, bytes_.size() + text.size(), charge_);
                bytes_.insert(bytes_.end(), text.begin(), text.end());
            }
            slots_[slot] = code + 1;
            if (2 * entries_.size() > slots_.size()) grow();
            forgetTextsIfHopeless();
            return code;
        }
        const Entry& entry = entries_[found - 1];
        if (entry.hash == hash && entry.length == text.size() &&
            (shortText || !keepsTexts_ || sameText(bytes_.data() + entry.offset, text))) {
            sawRepeat_ = true;
            forgetTextsIfHopeless();
            return found - 1;
        }
    }
}

void TextDictionary::forgetTextsIfHopeless() {
    // Neither labels (a text came again) nor categories: the texts are no
    // longer needed, only their count.
    if (keepsTexts_ && sawRepeat_ && entries_.size() > static_cast<std::size_t>(maxCategories)) {
        keepsTexts_ = false;
        charge_.give(bytes_.capacity());
        std::vector<char>().swap(bytes_);
    }
}

void TextDictionary::grow() {
    charge_.take(slots_.size() * 2 * sizeof(std::uint32_t));
    std::vector<std::uint32_t> slots(slots_.size() * 2, 0);
    const std::size_t mask = slots.size() - 1;
    for (std::uint32_t code = 0; code < entries_.size(); ++code) {
        std::size_t slot = static_cast<std::size_t>(entries_[code].hash) & mask;
        while (slots[slot] != 0) slot = (slot + 1) & mask;
        slots[slot] = code + 1;
    }
    slots_.swap(slots);
    charge_.give(slots.size() * sizeof(std::uint32_t));
}

void TextDictionary::clear() { *this = TextDictionary(); }

std::unique_ptr<double[]> newValues(std::size_t n, bool hugePages) {
    std::unique_ptr<double[]> values(new double[std::max<std::size_t>(n, 1)]);
    constexpr std::uintptr_t hugePage = std::uintptr_t(2) << 20;
    const auto begin = reinterpret_cast<std::uintptr_t>(values.get());
    const std::uintptr_t first = (begin + hugePage - 1) & ~(hugePage - 1);
    const std::uintptr_t last = (begin + n * sizeof(double)) & ~(hugePage - 1);
    // A hint: without huge pages it works as before.
    if (hugePages && last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
    return values;
}

bool equalsIgnoringCase(std::string_view a, std::string_view lower) {
    if (a.size() != lower.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
        if (x != lower[i]) return false;
    }
    return true;
}

bool isMissingCell(std::string_view cell) {
    if (cell.size() > 4) return false;
    return cell.empty() || cell == "?" || equalsIgnoringCase(cell, "na") || equalsIgnoringCase(cell, "nan") ||
           equalsIgnoringCase(cell, "null");
}

NumberRead readOutOfRange(const char* first, const char* last, double& out) {
    // from_chars has read the whole text as a number out of range: strtod
    // tells an underflow (zero with its sign) from an overflow (infinite).
    char buffer[64];
    std::string copy;
    const std::size_t length = static_cast<std::size_t>(last - first);
    const char* text = buffer;
    if (length < sizeof buffer) {
        std::memcpy(buffer, first, length);
        buffer[length] = '\0';
    } else {
        copy.assign(first, last);
        text = copy.c_str();
    }
    out = std::strtod(text, nullptr);
    return out == 0.0 ? NumberRead::Number : NumberRead::OutOfRange;
}

ColumnRules ColumnRules::ofVersion(int version) {
    ColumnRules rules;
    rules.monthNameDates = rules.groupedNumbers = version >= 2;
    return rules;
}

bool readGroupedNumber(std::string_view cell, double& out, int& separators) {
    // No such number is longer: anything longer is a text.
    char digits[64];
    if (cell.size() >= sizeof digits) return false;
    std::size_t at = 0, length = 0;
    if (at < cell.size() && (cell[at] == '-' || cell[at] == '+')) digits[length++] = cell[at++];
    const auto digit = [&](std::size_t i) { return i < cell.size() && cell[i] >= '0' && cell[i] <= '9'; };
    std::size_t lead = 0;
    while (digit(at) && lead < 4) {
        digits[length++] = cell[at++];
        ++lead;
    }
    if (lead < 1 || lead > 3) return false;
    separators = 0;
    while (at < cell.size() && cell[at] == ',') {
        if (!digit(at + 1) || !digit(at + 2) || !digit(at + 3) || digit(at + 4)) return false;
        std::memcpy(digits + length, cell.data() + at + 1, 3);
        length += 3;
        at += 4;
        ++separators;
    }
    if (separators == 0) return false;
    if (at < cell.size() && cell[at] == '.') {
        digits[length++] = cell[at++];
        if (!digit(at)) return false;
        while (digit(at)) digits[length++] = cell[at++];
    }
    if (at != cell.size()) return false;
    const char* first = digits[0] == '+' ? digits + 1 : digits;
    return readNumberCell(std::string_view(first, static_cast<std::size_t>(digits + length - first)), out) ==
           NumberRead::Number;
}

void ColumnPiece::addOther(long long row, std::string_view cell, double& out) {
    if (isMissingCell(cell)) {
        addMissing(out);
        return;
    }
    // A column holds times when every cell that is not missing is one: a
    // number before the first time makes it text.
    double value = 0.0;
    bool midnight = false;
    if ((kind == CellKind::Time || valueCount == 0) && parseTimeText(cell, value, midnight, rules.monthNameDates)) {
        addTime(value, midnight, out);
        return;
    }
    int separators = 0;
    if (kind == CellKind::Numeric && rules.groupedNumbers && readGroupedNumber(cell, value, separators)) {
        grouped = true;
        groupedTwice = groupedTwice || separators >= 2;
        addNumber(value, out);
        return;
    }
    kind = CellKind::Text;
    firstTextRow = row;
    out = static_cast<double>(texts.code(cell));
}

void ColumnPiece::addTime(double seconds, bool midnight, double& out) {
    kind = CellKind::Time;
    allMidnight = allMidnight && midnight;
    addNumber(seconds, out);
}

void ColumnPiece::addMissing(double& out) {
    ++missing;
    out = notANumber;
}

void ColumnPiece::restartAsText() {
    const ColumnRules kept = rules;
    *this = ColumnPiece();
    rules = kept;
    kind = CellKind::Text;
    firstTextRow = 0;
}

CellKind joinedKind(const ColumnPieces& column) {
    bool numbers = false, times = false, grouped = false, groupedTwice = false;
    for (const ColumnPiece* piece : column.pieces) {
        if (piece->kind == CellKind::Text) return CellKind::Text;
        grouped = grouped || piece->grouped;
        groupedTwice = groupedTwice || piece->groupedTwice;
        if (piece->valueCount == 0) continue;
        (piece->kind == CellKind::Time ? times : numbers) = true;
    }
    if (numbers && times) return CellKind::Text;
    // One comma in every grouped number may be a decimal comma ("1,500"):
    // only a number with two of them proves the commas group thousands.
    if (grouped && !groupedTwice) return CellKind::Text;
    return times ? CellKind::Time : CellKind::Numeric;
}

void finishColumns(std::vector<ColumnPieces>& columns, std::vector<std::unique_ptr<double[]>>& storage,
                   long long rowCount, const char* formatName, TableContent& content) {
    const std::size_t rows = static_cast<std::size_t>(rowCount);
    const std::string prefix = std::string(" ") + formatName + " column ";
    std::unordered_set<std::string> usedNames;
    std::vector<std::string> tokens;
    content.recordCount = static_cast<int>(rowCount);
    for (std::size_t j = 0; j < columns.size(); ++j) {
        ColumnPieces& column = columns[j];
        const std::string& name = column.name;
        if (column.nested) {
            trace(prefix, name, " left out: nested values");
            continue;
        }
        double* values = storage[j].get();
        const CellKind kind = joinedKind(column);
        if (kind != CellKind::Text) {
            long long missing = 0, valueCount = 0;
            bool allMidnight = true;
            double low = std::numeric_limits<double>::infinity();
            double high = -low;
            for (const ColumnPiece* piece : column.pieces) {
                missing += piece->missing;
                allMidnight = allMidnight && piece->allMidnight;
                if (piece->valueCount == 0) continue;
                valueCount += piece->valueCount;
                low = std::min(low, piece->low);
                high = std::max(high, piece->high);
            }
            if (rows > 0 && valueCount == 0) {
                trace(prefix, name, " left out: no values");
                storage[j].reset();
                continue;
            }
            // Decided from the cells read, before missing cells get a value.
            const ValueFormat format = kind == CellKind::Numeric ? ValueFormat::Number
                                       : allMidnight              ? ValueFormat::Date
                                                                  : ValueFormat::DateTime;
            if (format != ValueFormat::Number)
                trace(prefix, name, ": time axis from ", timeText(low, format), " to ", timeText(high, format));
            if (std::any_of(column.pieces.begin(), column.pieces.end(), [](const ColumnPiece* p) { return p->grouped; }))
                trace(prefix, name, ": numbers with thousands separators");
            double missingValue = NAN;
            if (missing > 0) {
                // Below the range, so the axis stays numeric and the cells stay visible.
                missingValue = high > low ? low - 0.1 * (high - low) : low - 1.0;
                for (std::size_t i = 0; i < rows; ++i)
                    if (std::isnan(values[i])) values[i] = missingValue;
                if (format == ValueFormat::Number)
                    trace(prefix, name, ": ", missing, " missing values drawn at ", missingValue, ", below the range");
                else
                    trace(prefix, name, ": ", missing, " missing values drawn at ", timeText(missingValue, format),
                          ", below the range");
            }
            content.names.push_back(uniqueName(name, usedNames));
            content.columns.push_back(std::move(storage[j]));
            content.formats.push_back(format);
            content.missingValues.push_back(missingValue);
            content.extremes.push_back({missing > 0 ? missingValue : low, high});
            continue;
        }
        const JoinedTexts joined = joinTexts(column);
        const std::size_t distinct = joined.distinct;
        if (distinct <= static_cast<std::size_t>(maxCategories) && distinct * 2 < rows) {
            const std::vector<std::uint32_t> order = categoryOrder(joined.texts, tokens);
            std::vector<double> codeOf(distinct);
            LabelSection section;
            section.dimension = static_cast<int>(content.names.size());
            section.entries.resize(distinct);
            for (std::size_t k = 0; k < distinct; ++k) {
                codeOf[order[k]] = static_cast<double>(k);
                section.entries[k].value = static_cast<double>(k);
                section.entries[k].text = tokens[order[k]];
            }
            // Counted as they are coded, while the values are at hand: each
            // piece's codes go to the column's through one table.
            section.records.assign(distinct, 0);
            std::vector<double> finalOf;
            std::vector<int> counts;
            std::size_t first = 0;
            for (std::size_t p = 0; p < column.pieces.size(); ++p) {
                const std::vector<std::uint32_t>& codes = joined.codes[p];
                finalOf.resize(codes.size());
                counts.assign(codes.size(), 0);
                for (std::size_t k = 0; k < codes.size(); ++k) finalOf[k] = codeOf[codes[k]];
                const std::size_t last = first + static_cast<std::size_t>(column.rows[p]);
                for (std::size_t i = first; i < last; ++i) {
                    const auto k = static_cast<std::uint32_t>(values[i]);
                    values[i] = finalOf[k];
                    ++counts[k];
                }
                for (std::size_t k = 0; k < codes.size(); ++k)
                    section.records[static_cast<std::size_t>(finalOf[k])] += counts[k];
                first = last;
            }
            content.names.push_back(uniqueName(name, usedNames));
            content.columns.push_back(std::move(storage[j]));
            content.formats.push_back(ValueFormat::Number);
            content.missingValues.push_back(NAN);
            content.extremes.push_back({0.0, static_cast<double>(distinct) - 1.0});
            content.sections.push_back(std::move(section));
        } else if (distinct == rows && !content.hasLabels) {
            content.hasLabels = true;
            content.labelColumnName = name;
            // The labels stay in the table: taken for good. A text longer
            // than a string holds in place takes its bytes beside it.
            std::size_t heap = 0;
            for (const ColumnPiece* piece : column.pieces)
                for (std::uint32_t k = 0; k < piece->texts.size(); ++k)
                    if (piece->texts.text(k).size() >= sizeof(std::string) / 2) heap += piece->texts.text(k).size() + 1;
            takeLoadMemory(rows * sizeof(std::string) + heap);
            content.labels.reserve(rows);
            std::size_t first = 0;
            for (std::size_t p = 0; p < column.pieces.size(); ++p) {
                const TextDictionary& texts = column.pieces[p]->texts;
                const std::size_t last = first + static_cast<std::size_t>(column.rows[p]);
                for (std::size_t i = first; i < last; ++i)
                    content.labels.push_back(tokenFrom(texts.text(static_cast<std::uint32_t>(values[i]))));
                first = last;
            }
            storage[j].reset();
        } else if (distinct == rows) {
            trace(prefix, name, " left out: distinct texts, labels come from ", content.labelColumnName);
            storage[j].reset();
        } else if (distinct == 1) {
            trace(prefix, name, " left out: a single text");
            storage[j].reset();
        } else {
            trace(prefix, name, " left out: ", distinct, " distinct texts, too many for categories");
            storage[j].reset();
        }
    }
}
