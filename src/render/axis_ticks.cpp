#include "render/axis_ticks.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <functional>

namespace {

// Candidate tick sets, in order of preference: the first with fewestTicks
// to mostTicks ticks that keep their distance wins; failing that, the one
// whose count comes nearest, more ticks before fewer.
struct Candidate {
    std::vector<double> values;  // ascending
    int kind = 0;                // what labels it gets, by the caller's meaning
    double step = 0.0;
};

bool keepsDistance(const std::vector<double>& values, const Placement& p, double axisPixels) {
    for (std::size_t k = 1; k < values.size(); ++k)
        if (!(std::fabs(p.position(values[k]) - p.position(values[k - 1])) * axisPixels >= tickGapPx))
            return false;
    return true;
}

int distanceFromAim(std::size_t count) {
    const int n = static_cast<int>(count);
    return n < fewestTicks ? fewestTicks - n : n > mostTicks ? n - mostTicks : 0;
}

const Candidate* choose(const std::vector<Candidate>& candidates, const Placement& p, double axisPixels) {
    const Candidate* best = nullptr;
    for (const Candidate& c : candidates) {
        if (c.values.empty() || !keepsDistance(c.values, p, axisPixels)) continue;
        if (best == nullptr) {
            best = &c;
            continue;
        }
        const int d = distanceFromAim(c.values.size()), b = distanceFromAim(best->values.size());
        if (d < b || (d == b && d > 0 && c.values.size() > best->values.size())) best = &c;
    }
    return best;
}

// Multiples of step from low to high; none when there would be more than
// a few dozen.
std::vector<double> multiples(double step, double low, double high) {
    std::vector<double> values;
    const double first = std::ceil(low / step - 1e-9), last = std::floor(high / step + 1e-9);
    if (!(last - first < 64.0)) return values;
    for (double k = first; k <= last; ++k) values.push_back(k * step);
    return values;
}

// Nice steps (1, 2 or 5 times a power of ten) fine to coarse over a span.
std::vector<Candidate> niceCandidates(double low, double high, int kind, bool integers) {
    std::vector<Candidate> out;
    const double span = high - low;
    if (!(span > 0.0) || !std::isfinite(span)) return out;
    double decade = std::pow(10.0, std::floor(std::log10(span / 40.0)));
    if (integers) decade = std::max(decade, 1.0);
    for (; decade <= span * 10.0; decade *= 10.0)
        for (double m : {1.0, 2.0, 5.0}) {
            Candidate c{multiples(m * decade, low, high), kind, m * decade};
            if (!c.values.empty()) out.push_back(std::move(c));
        }
    return out;
}

int decimalsOf(double step) { return std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9))); }

// "1.5e9": the mantissa with the given decimals.
std::string exponentLabel(double value, int decimals) {
    if (value == 0.0) return fixedLabel(0.0, decimals);
    int e = static_cast<int>(std::floor(std::log10(std::fabs(value))));
    double m = value / std::pow(10.0, e);
    const double scale = std::pow(10.0, decimals);
    m = std::round(m * scale) / scale;
    if (std::fabs(m) >= 10.0) {
        m /= 10.0;
        ++e;
    }
    char text[48];
    std::snprintf(text, sizeof text, "%.*fe%d", decimals, m, e);
    return text;
}

// Decimals the mantissas of values need (at most 3).
int mantissaDecimals(const std::vector<double>& values) {
    int most = 0;
    for (double v : values) {
        if (v == 0.0) continue;
        const double m = v / std::pow(10.0, std::floor(std::log10(std::fabs(v))));
        int need = 0;
        while (need < 3 && std::fabs(std::round(m * std::pow(10.0, need)) - m * std::pow(10.0, need)) >=
                               1e-6 * std::pow(10.0, need))
            ++need;
        most = std::max(most, need);
    }
    return most;
}

// Labels of nice multiples of step: fixed with the step's decimals, or with
// exponents where that would be long.
std::vector<std::string> numberLabels(const std::vector<double>& values, double step) {
    double largest = 0.0;
    for (double v : values) largest = std::max(largest, std::fabs(v));
    std::vector<std::string> labels;
    const bool exponent = largest >= 1e6 || step < 1e-4;
    const int decimals = exponent ? mantissaDecimals(values) : decimalsOf(step);
    for (double v : values) labels.push_back(exponent ? exponentLabel(v, decimals) : fixedLabel(v, decimals));
    return labels;
}

// Whole decades and their multiples: as integers from 1 to below a million,
// otherwise as "2e-3".
std::vector<std::string> decadeLabels(const std::vector<double>& values) {
    bool integers = true;
    for (double v : values) integers = integers && (v == 0.0 || (std::fabs(v) >= 1.0 && std::fabs(v) < 1e6));
    std::vector<std::string> labels;
    for (double v : values) labels.push_back(v == 0.0 ? "0" : integers ? fixedLabel(v, 0) : exponentLabel(v, 0));
    return labels;
}

enum Kind { Nice, Decades };

std::vector<Candidate> logCandidates(double low, double high, bool integers) {
    std::vector<Candidate> out;
    const double k0 = std::ceil(std::log10(low) - 1e-9), k1 = std::floor(std::log10(high) + 1e-9);
    if (!(k1 - k0 < 700.0)) return out;
    // Decades with 2 and 5 between them, then every decade, every second ...
    Candidate fine{{}, Decades, 0.0};
    for (double k = k0 - 1; k <= k1; ++k)
        for (double m : {1.0, 2.0, 5.0}) {
            const double v = m * std::pow(10.0, k);
            if (v >= low * (1 - 1e-12) && v <= high * (1 + 1e-12)) fine.values.push_back(v);
        }
    if (fine.values.size() < 64) out.push_back(fine);
    for (int stride : {1, 2, 3, 5, 10, 20, 50, 100}) {
        Candidate c{{}, Decades, 0.0};
        for (double k = std::ceil(k0 / stride) * stride; k <= k1; k += stride) c.values.push_back(std::pow(10.0, k));
        if (c.values.size() < 64) out.push_back(std::move(c));
    }
    // Less than a decade or two: nice values, as on a linear axis.
    for (Candidate& c : niceCandidates(low, high, Nice, integers))
        if (c.values.front() > 0.0) out.push_back(std::move(c));
    return out;
}

std::vector<Candidate> symlogCandidates(const Placement& p, double low, double high, double axisPixels,
                                        bool integers) {
    std::vector<Candidate> out;
    const double largest = std::max(std::fabs(low), std::fabs(high));
    if (!(largest > 0.0) || !std::isfinite(largest)) return out;
    const double top = std::floor(std::log10(largest) + 1e-9);
    for (int stride : {1, 2, 3, 5, 10, 20, 50, 100}) {
        // 0 first, then every stride-th decade down from the largest, each
        // kept where it stands clear of those kept before it.
        std::vector<double> order;
        if (low <= 0.0 && high >= 0.0) order.push_back(0.0);
        const double bottom = integers ? 0.0 : top - 40.0;
        for (double k = top; k >= bottom; k -= stride) {
            const double v = std::pow(10.0, k);
            if (v >= low && v <= high) order.push_back(v);
            if (-v >= low && -v <= high) order.push_back(-v);
        }
        std::vector<double> kept;
        for (double v : order) {
            bool clear = true;
            for (double w : kept) clear = clear && std::fabs(p.position(v) - p.position(w)) * axisPixels >= tickGapPx;
            if (clear) kept.push_back(v);
        }
        // A decade or two too many: the least go, on both sides alike.
        if (kept.size() > static_cast<std::size_t>(mostTicks) + 2) continue;
        while (kept.size() > static_cast<std::size_t>(mostTicks)) {
            double least = HUGE_VAL;
            for (double v : kept)
                if (v != 0.0) least = std::min(least, std::fabs(v));
            kept.erase(std::remove_if(kept.begin(), kept.end(), [&](double v) { return std::fabs(v) == least; }),
                       kept.end());
        }
        std::sort(kept.begin(), kept.end());
        out.push_back({kept, Decades, 0.0});
    }
    return out;
}

// ---- calendar steps (UTC)

enum CalendarUnit { Seconds, Minutes, Hours, Days, Weeks, Months, Years };

struct CalendarStep {
    CalendarUnit unit;
    int count;
    double seconds;  // about how long one step is
};

constexpr double day = 86400.0;
constexpr CalendarStep calendarSteps[] = {
    {Seconds, 1, 1},        {Seconds, 2, 2},        {Seconds, 5, 5},        {Seconds, 10, 10},
    {Seconds, 15, 15},      {Seconds, 30, 30},      {Minutes, 1, 60},       {Minutes, 2, 120},
    {Minutes, 5, 300},      {Minutes, 10, 600},     {Minutes, 15, 900},     {Minutes, 30, 1800},
    {Hours, 1, 3600},       {Hours, 2, 7200},       {Hours, 3, 10800},      {Hours, 6, 21600},
    {Hours, 12, 43200},     {Days, 1, day},         {Days, 2, 2 * day},     {Weeks, 1, 7 * day},
    {Months, 1, 30 * day},  {Months, 3, 91 * day},  {Months, 6, 182 * day}, {Years, 1, 365 * day},
    {Years, 2, 730 * day},  {Years, 5, 1826 * day}, {Years, 10, 3652 * day}, {Years, 20, 7305 * day},
    {Years, 50, 18262 * day}, {Years, 100, 36524 * day}, {Years, 200, 73048 * day}, {Years, 500, 182621 * day},
    {Years, 1000, 365242 * day},
};

bool civil(double seconds, std::tm& out) {
    // Beyond some million years the calendar has nothing to say.
    if (!(std::fabs(seconds) < 1e14)) return false;
    const std::time_t t = static_cast<std::time_t>(std::floor(seconds));
    return gmtime_r(&t, &out) != nullptr;
}

double secondsOf(long long year, int month, int dayOfMonth) {
    std::tm t{};
    t.tm_year = static_cast<int>(year - 1900);
    t.tm_mon = month;
    t.tm_mday = dayOfMonth;
    return static_cast<double>(timegm(&t));
}

std::vector<double> calendarTicks(const CalendarStep& s, double low, double high) {
    std::vector<double> values;
    if (!((high - low) / s.seconds <= 40.0) || !(std::fabs(low) < 1e14 && std::fabs(high) < 1e14)) return values;
    const auto add = [&](double t) {
        if (t >= low && t <= high) values.push_back(t);
    };
    std::tm first{};
    if (!civil(low, first)) return values;
    if (s.unit == Years || s.unit == Months) {
        long long year = first.tm_year + 1900LL;
        int month = s.unit == Years ? 0 : first.tm_mon;
        if (s.unit == Years) year -= ((year % s.count) + s.count) % s.count;
        month -= month % s.count;
        for (double t = secondsOf(year, month, 1); t <= high && values.size() < 64; t = secondsOf(year, month, 1)) {
            add(t);
            if (s.unit == Years) {
                year += s.count;
            } else if ((month += s.count) >= 12) {
                month -= 12;
                ++year;
            }
        }
        return values;
    }
    // Fixed lengths, counted from 1970-01-01 (a Thursday: weeks start on
    // the Monday after it, 4 days on).
    const double length = s.unit == Weeks ? 7 * day : s.seconds;
    const double offset = s.unit == Weeks ? 4 * day : 0.0;
    for (double t = std::ceil((low - offset) / length) * length + offset; t <= high && values.size() < 64; t += length)
        add(t);
    return values;
}

std::vector<std::string> calendarLabels(const std::vector<double>& values, CalendarUnit unit) {
    std::vector<std::tm> parts(values.size());
    bool oneYear = true, oneDay = true;
    for (std::size_t k = 0; k < values.size(); ++k) {
        civil(values[k], parts[k]);
        oneYear = oneYear && parts[k].tm_year == parts[0].tm_year;
        oneDay = oneDay && oneYear && parts[k].tm_yday == parts[0].tm_yday;
    }
    std::vector<std::string> labels;
    char text[64];
    for (const std::tm& t : parts) {
        const long long year = t.tm_year + 1900LL;
        const int month = t.tm_mon + 1;
        if (unit == Years) {
            std::snprintf(text, sizeof text, "%lld", year);
        } else if (unit == Months) {
            std::snprintf(text, sizeof text, "%lld-%02d", year, month);
        } else if (unit == Days || unit == Weeks) {
            if (oneYear)
                std::snprintf(text, sizeof text, "%02d-%02d", month, t.tm_mday);
            else
                std::snprintf(text, sizeof text, "%lld-%02d-%02d", year, month, t.tm_mday);
        } else {
            char clock[16];
            if (unit == Seconds)
                std::snprintf(clock, sizeof clock, "%02d:%02d:%02d", t.tm_hour, t.tm_min, t.tm_sec);
            else
                std::snprintf(clock, sizeof clock, "%02d:%02d", t.tm_hour, t.tm_min);
            if (oneDay)
                std::snprintf(text, sizeof text, "%s", clock);
            else if (oneYear)
                std::snprintf(text, sizeof text, "%02d-%02d %s", month, t.tm_mday, clock);
            else
                std::snprintf(text, sizeof text, "%lld-%02d-%02d %s", year, month, t.tm_mday, clock);
        }
        labels.push_back(text);
    }
    return labels;
}

}  // namespace

std::string fixedLabel(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    std::string s = text;
    // A value that rounds to zero is written without its sign.
    if (s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
    return s;
}

std::vector<AxisTick> axisTicks(const Placement& p, ValueFormat format, double low, double high, double axisPixels,
                                bool integers) {
    std::vector<AxisTick> ticks;
    if (!(low < high) || !std::isfinite(low) || !std::isfinite(high) || !(axisPixels > 0.0)) return ticks;
    std::vector<Candidate> candidates;
    std::vector<std::string> labels;
    if (format != ValueFormat::Number) {
        for (const CalendarStep& s : calendarSteps)
            candidates.push_back({calendarTicks(s, low, high), static_cast<int>(s.unit), s.seconds});
        const Candidate* c = choose(candidates, p, axisPixels);
        if (c == nullptr) return ticks;
        labels = calendarLabels(c->values, static_cast<CalendarUnit>(c->kind));
        candidates = {*c};
    } else {
        if (p.scale == AxisScale::Log && low > 0.0)
            candidates = logCandidates(low, high, integers);
        else if (p.scale == AxisScale::Symlog)
            candidates = symlogCandidates(p, low, high, axisPixels, integers);
        else
            candidates = niceCandidates(low, high, Nice, integers);
        const Candidate* c = choose(candidates, p, axisPixels);
        if (c == nullptr) return ticks;
        labels = c->kind == Decades ? decadeLabels(c->values) : numberLabels(c->values, c->step);
        candidates = {*c};
    }
    const std::vector<double>& values = candidates.front().values;
    for (std::size_t k = 0; k < values.size(); ++k) ticks.push_back({values[k], p.position(values[k]), labels[k]});
    return ticks;
}
