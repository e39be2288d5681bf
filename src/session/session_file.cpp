#include "session/session_file.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "base/textures.h"
#include "data/table.h"

using nlohmann::json;
// Written in the order of its fields, the file reads top down.
using ordered = nlohmann::ordered_json;

namespace {

constexpr const char* formatName = "korvelline session";
// How an axis places its values, by name.
constexpr const char* scaleNames[] = {"linear", "log", "symlog"};
constexpr int formatVersion = 1;
// Brush geometry is stored relative to its axes; far beyond the view is nonsense.
constexpr double geometryLimit = 1e6;

ordered pointJson(Point p) { return ordered::array({p.x, p.y}); }

ordered columnJson(ordered values, const IndexedColumn& column) {
    ordered out{{"values", std::move(values)}};
    if (column.bits == IndexedColumn::runBits) {
        out["encoding"] = "runs";
    } else {
        out["encoding"] = "packed";
        out["bits"] = column.bits;
    }
    out["data"] = toBase64(column.bytes);
    return out;
}

// Walks a parsed session and keeps its first fault, named by where it lies
// ("axes[2].position out of range").
class Checker {
public:
    explicit Checker(std::string& why) : why_(why) {}

    bool fail(const std::string& what) {
        if (why_.empty()) why_ = where_ + what;
        return false;
    }

    // Names the member being read in every fault found meanwhile.
    class Scope {
    public:
        Scope(Checker& checker, const std::string& name) : checker_(checker), saved_(checker.where_) {
            checker.where_ += name + ".";
        }
        ~Scope() { checker_.where_ = saved_; }

    private:
        Checker& checker_;
        std::string saved_;
    };

    const json* member(const json& object, const char* key, bool (json::*is)() const noexcept,
                       const char* kind) {
        const auto at = object.find(key);
        if (at == object.end() || !((*at).*is)()) {
            fail(std::string(key) + " missing or not " + kind);
            return nullptr;
        }
        return &*at;
    }
    const json* object(const json& o, const char* key) { return member(o, key, &json::is_object, "an object"); }
    const json* list(const json& o, const char* key) { return member(o, key, &json::is_array, "a list"); }

    bool number(const json& o, const char* key, double& out, double lo, double hi) {
        const json* v = member(o, key, &json::is_number, "a number");
        if (v == nullptr) return false;
        return inRange(v->get<double>(), key, out, lo, hi);
    }
    bool inRange(double value, const std::string& name, double& out, double lo, double hi) {
        if (!(value >= lo && value <= hi)) return fail(name + " out of range");
        out = value;
        return true;
    }
    bool integer(const json& o, const char* key, long long& out, long long lo, long long hi) {
        const json* v = member(o, key, &json::is_number_integer, "an integer");
        if (v == nullptr) return false;
        return integerValue(*v, key, out, lo, hi);
    }
    bool integerValue(const json& v, const std::string& name, long long& out, long long lo, long long hi) {
        if (!v.is_number_integer()) return fail(name + " not an integer");
        // Unsigned values beyond every signed one are out of range anyway.
        const bool huge =
            v.is_number_unsigned() && v.get<std::uint64_t>() > static_cast<std::uint64_t>(LLONG_MAX);
        const long long value = huge ? LLONG_MAX : v.get<long long>();
        if (value < lo || value > hi) return fail(name + " out of range");
        out = value;
        return true;
    }
    template <class Int>
    bool index(const json& o, const char* key, Int& out, long long lo, long long hi) {
        long long value = 0;
        if (!integer(o, key, value, lo, hi)) return false;
        out = static_cast<Int>(value);
        return true;
    }
    bool flag(const json& o, const char* key, bool& out) {
        const json* v = member(o, key, &json::is_boolean, "true or false");
        if (v != nullptr) out = v->get<bool>();
        return v != nullptr;
    }
    bool text(const json& o, const char* key, std::string& out) {
        const json* v = member(o, key, &json::is_string, "text");
        if (v != nullptr) out = v->get<std::string>();
        return v != nullptr;
    }
    // A list of count numbers in [lo, hi], such as a colour or a point.
    bool numbers(const json& v, const std::string& name, const char* what, double* out, std::size_t count,
                 double lo, double hi) {
        if (!v.is_array() || v.size() != count) return fail(name + " not " + what);
        for (std::size_t k = 0; k < count; ++k) {
            if (!v[k].is_number()) return fail(name + " not " + what);
            if (!inRange(v[k].get<double>(), name, out[k], lo, hi)) return false;
        }
        return true;
    }
    bool pointValue(const json& v, const std::string& name, Point& out) {
        double xy[2] = {0.0, 0.0};
        if (!numbers(v, name, "a point", xy, 2, -geometryLimit, geometryLimit)) return false;
        out = {xy[0], xy[1]};
        return true;
    }
    bool point(const json& o, const char* key, Point& out) {
        const json* v = list(o, key);
        return v != nullptr && pointValue(*v, key, out);
    }
    bool colorValue(const json& v, const std::string& name, Rgba& out) {
        return numbers(v, name, "a colour", out.data(), 4, 0.0, 1.0);
    }
    // A per-record column: its distinct values (read by readValue, which
    // faults itself) and the indices of all records.
    template <class Value, class ReadValue>
    bool column(const json& o, const char* key, std::size_t records, std::vector<Value>& values,
                IndexedColumn& out, ReadValue&& readValue) {
        const json* c = object(o, key);
        if (c == nullptr) return false;
        Scope scope(*this, key);
        const json* list = this->list(*c, "values");
        std::string encoding, data;
        if (list == nullptr || !text(*c, "encoding", encoding) || !text(*c, "data", data)) return false;
        if (list->size() > records || list->size() >= UINT32_MAX) return fail("values more than records");
        values.assign(list->size(), Value{});
        for (std::size_t k = 0; k < list->size(); ++k)
            if (!readValue((*list)[k], "values[" + std::to_string(k) + "]", values[k])) return false;
        if (encoding == "runs") {
            out.bits = IndexedColumn::runBits;
        } else if (encoding != "packed" || !index(*c, "bits", out.bits, 0, 32)) {
            return fail("encoding unknown");
        }
        if (!fromBase64(data, out.bytes)) return fail("data not base64");
        const auto distinct = static_cast<std::uint32_t>(values.size());
        if (!decodeIndices(out, records, distinct, [](std::size_t, std::size_t, std::uint32_t) {}))
            return fail("data does not match the records");
        return true;
    }

private:
    std::string& why_;
    std::string where_;
};

bool readHash(Checker& check, const json& table, std::uint64_t& out) {
    std::string hex;
    if (!check.text(table, "xxh3", hex)) return false;
    if (hex.size() != 16 || !std::all_of(hex.begin(), hex.end(),
                                         [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
        return check.fail("xxh3 not 16 hexadecimal digits");
    out = std::strtoull(hex.c_str(), nullptr, 16);
    return true;
}

bool readTable(Checker& check, const json& root, SessionFile& s) {
    const json* table = check.object(root, "table");
    if (table == nullptr) return false;
    Checker::Scope scope(check, "table");
    long long bytes = 0;
    if (!check.text(*table, "path", s.tablePath) || !check.integer(*table, "bytes", bytes, 1, LLONG_MAX) ||
        !readHash(check, *table, s.tableHash) || !check.index(*table, "records", s.records, 0, INT_MAX - 100) ||
        !check.index(*table, "dimensions", s.dimensions, 0, maxSlots - 1))
        return false;
    s.tableBytes = static_cast<std::uint64_t>(bytes);
    if (table->contains("columnRules") && !check.index(*table, "columnRules", s.columnRules, 1, columnRulesVersion))
        return false;
    if (s.tablePath.empty() || s.tablePath.size() >= static_cast<std::size_t>(dataFileNameSize) ||
        s.tablePath.find('\0') != std::string::npos)
        return check.fail("path unusable");
    return true;
}

bool readMds(Checker& check, const json& mds, int axisCount, SavedAxis& axis) {
    Checker::Scope scope(check, "mds");
    const json* members = check.list(mds, "members");
    const json* active = check.list(mds, "active");
    if (members == nullptr || active == nullptr) return false;
    if (members->size() < 2 || members->size() > static_cast<std::size_t>(axisCount) ||
        active->size() != members->size())
        return check.fail("members and active do not match");
    std::vector<bool> seen(static_cast<std::size_t>(axisCount), false);
    for (std::size_t k = 0; k < members->size(); ++k) {
        long long d = 0;
        if (!check.integerValue((*members)[k], "members", d, 0, axisCount - 1)) return false;
        if (seen[static_cast<std::size_t>(d)]) return check.fail("members repeat a dimension");
        seen[static_cast<std::size_t>(d)] = true;
        if (!(*active)[k].is_boolean()) return check.fail("active not true or false");
        const bool on = (*active)[k].get<bool>();
        if (k < 2 && !on) return check.fail("base pair switched off");
        axis.mdsMembers.push_back(static_cast<int>(d));
        axis.mdsActive.push_back(on);
    }
    return true;
}

// An axis's flip and scale: both may be left out (upright, linear).
bool readPlacement(Checker& check, const json& a, SavedAxis& axis) {
    if (a.contains("flipped") && !check.flag(a, "flipped", axis.flipped)) return false;
    if (!a.contains("scale")) return true;
    std::string name;
    if (!check.text(a, "scale", name)) return false;
    for (int k = 0; k < 3; ++k)
        if (name == scaleNames[k]) {
            axis.scale = static_cast<AxisScale>(k);
            return true;
        }
    return check.fail("scale not linear, log or symlog");
}

bool readAxes(Checker& check, const json& root, SessionFile& s) {
    const json* axes = check.list(root, "axes");
    if (axes == nullptr) return false;
    if (axes->size() > static_cast<std::size_t>(s.dimensions)) return check.fail("axes more than dimensions");
    const int n = static_cast<int>(axes->size());
    std::vector<bool> seen(static_cast<std::size_t>(n), false);
    s.axes.assign(static_cast<std::size_t>(n), SavedAxis{});
    for (int i = 0; i < n; ++i) {
        const json& a = (*axes)[static_cast<std::size_t>(i)];
        SavedAxis& axis = s.axes[static_cast<std::size_t>(i)];
        Checker::Scope scope(check, "axes[" + std::to_string(i) + "]");
        if (!check.index(a, "dimension", axis.dimension, 0, n - 1) ||
            !check.number(a, "position", axis.position, 0.0, 1.0) ||
            !check.flag(a, "selected", axis.selected) ||
            !check.flag(a, "indicatorSelected", axis.indicatorSelected) ||
            !check.flag(a, "scatterplot", axis.scatter) ||
            !check.number(a, "curveOpacity", axis.curveOpacity, 0.0, geometryLimit) ||
            !check.number(a, "pointOpacity", axis.pointOpacity, 0.0, geometryLimit) ||
            !readPlacement(check, a, axis))
            return false;
        if (seen[static_cast<std::size_t>(axis.dimension)]) return check.fail("dimension shown twice");
        seen[static_cast<std::size_t>(axis.dimension)] = true;
        const auto mds = a.find("mds");
        if (mds != a.end() &&
            !(mds->is_object() ? readMds(check, *mds, n, axis) : check.fail("mds not an object")))
            return false;
    }
    return true;
}

bool readView(Checker& check, const json& root, SessionFile& s) {
    const json* view = check.object(root, "view");
    if (view == nullptr) return false;
    Checker::Scope scope(check, "view");
    const json& v = *view;
    const long long axisCount = static_cast<long long>(s.axes.size());
    if (!check.flag(v, "straightLines", s.straightLines) || !check.flag(v, "histograms", s.showHistograms) ||
        !check.flag(v, "colorBySelection", s.colorBySelection) ||
        !check.flag(v, "antialiasingOff", s.antialiasingOff) ||
        !check.flag(v, "densityShading", s.densityShading) || !check.flag(v, "hoverFading", s.hoverFading) ||
        !check.index(v, "strokeTexture", s.strokeTexture, 0, textureSlots - 1) ||
        !check.number(v, "pointSize", s.pointSize, 0.1, 1000.0) ||
        !check.number(v, "curveLineWidth", s.curveLineWidth, 0.1, 1000.0) ||
        !check.number(v, "axisLineWidth", s.axisLineWidth, 0.1, 1000.0) ||
        !check.index(v, "colorDimension", s.colorDimension, 0, axisCount > 0 ? axisCount - 1 : 0))
        return false;
    const json* box = check.list(v, "viewBox");
    if (box == nullptr || !check.numbers(*box, "viewBox", "four numbers", s.viewBox.data(), 4, -10.0, 10.0))
        return false;
    if (!(s.viewBox[0] < s.viewBox[1] && s.viewBox[2] < s.viewBox[3])) return check.fail("viewBox empty");
    const auto highlighted = v.find("highlighted");
    if (highlighted == v.end()) return check.fail("highlighted missing");
    long long record = -1;
    if (!highlighted->is_null() && !check.integerValue(*highlighted, "highlighted", record, 0, s.records - 1LL))
        return false;
    s.highlightedRecord = static_cast<int>(record);
    return true;
}

bool readPalette(Checker& check, const json& root, SessionFile& s) {
    const json* palette = check.object(root, "palette");
    if (palette == nullptr) return false;
    Checker::Scope scope(check, "palette");
    const auto color = palette->find("color");
    return check.flag(*palette, "paint", s.paintMode) &&
           check.number(*palette, "colorLevel", s.colorLevel, 0.0, 1.0) &&
           check.number(*palette, "transparencyLevel", s.transparencyLevel, 0.0, 1.0) &&
           (color != palette->end() ? check.colorValue(*color, "color", s.paintColor)
                                    : check.fail("color missing"));
}

// Reads each entry of the list key of brushes with read(entry, brush).
template <class Brush, class Read>
bool readBrushList(Checker& check, const json& brushes, const char* key, std::vector<Brush>& out, Read&& read) {
    const json* list = check.list(brushes, key);
    if (list == nullptr) return false;
    for (std::size_t k = 0; k < list->size(); ++k) {
        Checker::Scope scope(check, std::string(key) + "[" + std::to_string(k) + "]");
        Brush brush;
        if (!check.flag((*list)[k], "inverted", brush.inverted) || !read((*list)[k], brush)) return false;
        out.push_back(std::move(brush));
    }
    return true;
}

bool readBrushes(Checker& check, const json& root, SessionFile& s) {
    const json* brushes = check.object(root, "brushes");
    if (brushes == nullptr) return false;
    Checker::Scope scope(check, "brushes");
    const long long last = static_cast<long long>(s.axes.size()) - 1;
    const double g = geometryLimit;
    return readBrushList(check, *brushes, "axis", s.axisBrushes,
                         [&](const json& b, SavedAxisBrush& brush) {
                             return check.index(b, "axis", brush.axis, 0, last) &&
                                    check.number(b, "low", brush.low, -g, g) &&
                                    check.number(b, "high", brush.high, -g, g);
                         }) &&
           readBrushList(check, *brushes, "angular", s.angularBrushes,
                         [&](const json& b, SavedAngularBrush& brush) {
                             return check.index(b, "apexAxis", brush.apexAxis, 0, last) &&
                                    check.index(b, "farAxis", brush.farAxis, 0, last) &&
                                    (brush.apexAxis != brush.farAxis || check.fail("apexAxis is farAxis")) &&
                                    check.flag(b, "apexOnLeft", brush.apexOnLeft) &&
                                    check.number(b, "upperBound", brush.upperBound, -g, g) &&
                                    check.number(b, "lowerBound", brush.lowerBound, -g, g) &&
                                    check.point(b, "apex", brush.apex) &&
                                    check.point(b, "upperEnd", brush.upperEnd) &&
                                    check.point(b, "lowerEnd", brush.lowerEnd);
                         }) &&
           readBrushList(check, *brushes, "scatterplot", s.scatterPlotBrushes,
                         [&](const json& b, SavedScatterPlotBrush& brush) {
                             const json* outline = nullptr;
                             if (!check.index(b, "leftAxis", brush.leftAxis, 0, last) ||
                                 !check.index(b, "rightAxis", brush.rightAxis, 0, last) ||
                                 (outline = check.list(b, "outline")) == nullptr)
                                 return false;
                             if (brush.leftAxis == brush.rightAxis) return check.fail("leftAxis is rightAxis");
                             brush.outline.resize(outline->size());
                             for (std::size_t k = 0; k < outline->size(); ++k)
                                 if (!check.pointValue((*outline)[k], "outline", brush.outline[k]))
                                     return false;
                             return true;
                         });
}

bool readRecords(Checker& check, const json& root, SessionFile& s) {
    const json* records = check.object(root, "records");
    if (records == nullptr) return false;
    Checker::Scope scope(check, "records");
    const auto n = static_cast<std::size_t>(s.records);
    return check.column(*records, "selection", n, s.selectionValues, s.selection,
                        [&](const json& v, const std::string& name, double& out) {
                            return v.is_number() ? check.inRange(v.get<double>(), name, out, 0.0, 1.0)
                                                 : check.fail(name + " not a number");
                        }) &&
           check.column(*records, "colors", n, s.colorValues, s.colors,
                        [&](const json& v, const std::string& name, std::optional<Rgba>& out) {
                            if (v.is_null()) return true;
                            out.emplace();
                            return check.colorValue(v, name, *out);
                        });
}

// Optional: sessions saved before the records window existed have none.
bool readRecordsWindow(Checker& check, const json& root, SessionFile& s) {
    const auto at = root.find("recordsWindow");
    if (at == root.end()) return true;
    if (!at->is_object()) return check.fail("recordsWindow not an object");
    Checker::Scope scope(check, "recordsWindow");
    SessionFile::RecordsWindow w;
    const auto by = at->find("sortBy");
    if (by == at->end()) return check.fail("sortBy missing");
    long long dimension = -1;
    if (by->is_string() && by->get<std::string>() == "label")
        dimension = -2;
    else if (!by->is_null() && !check.integerValue(*by, "sortBy", dimension, 0, s.dimensions - 1LL))
        return false;
    w.sortBy = static_cast<int>(dimension);
    if (!check.flag(*at, "open", w.open) || !check.flag(*at, "descending", w.descending)) return false;
    s.recordsWindow = w;
    return true;
}

}  // namespace

std::string writeSessionJson(const SessionFile& s) {
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(s.tableHash));
    ordered root{{"format", formatName}, {"version", formatVersion}};
    root["table"] = {{"path", s.tablePath},
                     {"bytes", s.tableBytes},
                     {"xxh3", hash},
                     {"records", s.records},
                     {"dimensions", s.dimensions},
                     {"columnRules", s.columnRules}};
    ordered axes = ordered::array();
    for (const SavedAxis& a : s.axes) {
        ordered axis{{"dimension", a.dimension},      {"position", a.position},
                     {"selected", a.selected},        {"indicatorSelected", a.indicatorSelected},
                     {"scatterplot", a.scatter},      {"curveOpacity", a.curveOpacity},
                     {"pointOpacity", a.pointOpacity}};
        // Only what differs from an upright linear axis.
        if (a.flipped) axis["flipped"] = true;
        if (a.scale != AxisScale::Linear) axis["scale"] = scaleNames[static_cast<int>(a.scale)];
        if (!a.mdsMembers.empty()) axis["mds"] = {{"members", a.mdsMembers}, {"active", a.mdsActive}};
        axes.push_back(std::move(axis));
    }
    root["axes"] = std::move(axes);
    root["locked"] = s.axesLocked;
    root["view"] = {
        {"straightLines", s.straightLines},
        {"histograms", s.showHistograms},
        {"colorBySelection", s.colorBySelection},
        {"antialiasingOff", s.antialiasingOff},
        {"densityShading", s.densityShading},
        {"hoverFading", s.hoverFading},
        {"strokeTexture", s.strokeTexture},
        {"viewBox", s.viewBox},
        {"pointSize", s.pointSize},
        {"curveLineWidth", s.curveLineWidth},
        {"axisLineWidth", s.axisLineWidth},
        {"colorDimension", s.colorDimension},
        {"highlighted", s.highlightedRecord >= 0 ? ordered(s.highlightedRecord) : ordered(nullptr)}};
    if (const auto& w = s.recordsWindow)
        root["recordsWindow"] = {
            {"open", w->open},
            {"sortBy", w->sortBy >= 0 ? ordered(w->sortBy) : w->sortBy == -2 ? ordered("label") : ordered(nullptr)},
            {"descending", w->descending}};
    root["palette"] = {{"paint", s.paintMode},
                       {"colorLevel", s.colorLevel},
                       {"transparencyLevel", s.transparencyLevel},
                       {"color", s.paintColor}};
    ordered axisBrushes = ordered::array(), angular = ordered::array(), scatter = ordered::array();
    for (const SavedAxisBrush& b : s.axisBrushes)
        axisBrushes.push_back({{"axis", b.axis}, {"low", b.low}, {"high", b.high}, {"inverted", b.inverted}});
    for (const SavedAngularBrush& b : s.angularBrushes)
        angular.push_back({{"apexAxis", b.apexAxis},
                           {"farAxis", b.farAxis},
                           {"apexOnLeft", b.apexOnLeft},
                           {"upperBound", b.upperBound},
                           {"lowerBound", b.lowerBound},
                           {"apex", pointJson(b.apex)},
                           {"upperEnd", pointJson(b.upperEnd)},
                           {"lowerEnd", pointJson(b.lowerEnd)},
                           {"inverted", b.inverted}});
    for (const SavedScatterPlotBrush& b : s.scatterPlotBrushes) {
        ordered outline = ordered::array();
        for (Point p : b.outline) outline.push_back(pointJson(p));
        scatter.push_back({{"leftAxis", b.leftAxis},
                           {"rightAxis", b.rightAxis},
                           {"outline", std::move(outline)},
                           {"inverted", b.inverted}});
    }
    root["brushes"] = {
        {"axis", std::move(axisBrushes)}, {"angular", std::move(angular)}, {"scatterplot", std::move(scatter)}};
    ordered colors = ordered::array();
    for (const std::optional<Rgba>& c : s.colorValues) colors.push_back(c ? ordered(*c) : ordered(nullptr));
    root["records"] = {{"selection", columnJson(s.selectionValues, s.selection)},
                       {"colors", columnJson(std::move(colors), s.colors)}};
    try {
        return root.dump(1) + "\n";
    } catch (const ordered::type_error&) {
        return {};  // JSON holds UTF-8 text only: a table path in another encoding
    }
}

namespace {

// Follows the events of a session's JSON: where its table states its record
// count, and what each value would take once parsed (a value of 16 bytes,
// texts and keys beside it, a list's room to grow, an object's tree).
class ScanHandler : public json::json_sax_t {
public:
    SessionScan scan;

    bool null() override { return value(); }
    bool boolean(bool) override { return value(); }
    bool number_integer(number_integer_t n) override { return count(static_cast<long long>(n)); }
    bool number_unsigned(number_unsigned_t n) override {
        return count(n > static_cast<number_unsigned_t>(LLONG_MAX) ? LLONG_MAX : static_cast<long long>(n));
    }
    bool number_float(number_float_t, const string_t&) override { return value(); }
    bool string(string_t& text) override {
        scan.parsedBytes += sizeof(std::string) + text.size();
        return value();
    }
    bool binary(binary_t& bytes) override {
        scan.parsedBytes += bytes.size();
        return value();
    }
    bool start_object(std::size_t) override {
        scan.parsedBytes += 48;
        open(false);
        return true;
    }
    bool key(string_t& name) override {
        scan.parsedBytes += 64 + sizeof(std::string) + name.size();
        const std::size_t depth = arrays_.size();
        recordsNext_ = tableDepth_ != 0 && depth == tableDepth_ && name == "records";
        tableNext_ = depth == 1 && name == "table";
        return true;
    }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override {
        scan.parsedBytes += 24;
        open(true);
        return true;
    }
    bool end_array() override { return close(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

private:
    bool value() {
        // A list's values may have twice their room while it grows.
        scan.parsedBytes += !arrays_.empty() && arrays_.back() ? 32 : 16;
        recordsNext_ = tableNext_ = false;
        return true;
    }
    bool count(long long n) {
        if (recordsNext_ && scan.records < 0) scan.records = n;
        return value();
    }
    void open(bool array) {
        const bool table = tableNext_;
        value();
        arrays_.push_back(array);
        if (table && !array && tableDepth_ == 0) tableDepth_ = arrays_.size();
    }
    bool close() {
        if (tableDepth_ == arrays_.size()) tableDepth_ = ~std::size_t(0);  // only the first table counts
        arrays_.pop_back();
        return true;
    }

    std::vector<bool> arrays_;  // per open value: a list (or an object)
    std::size_t tableDepth_ = 0;
    bool recordsNext_ = false, tableNext_ = false;
};

}  // namespace

SessionScan scanSessionJson(const char* text, std::size_t size) {
    ScanHandler handler;
    json::sax_parse(text, text + size, &handler);
    return handler.scan;
}

bool readSessionJson(const std::string& text, SessionFile& session, std::string& why) {
    why.clear();
    session = SessionFile();
    const json root = json::parse(text, nullptr, false);
    if (root.is_discarded()) {
        why = "not JSON";
        return false;
    }
    Checker check(why);
    std::string format;
    long long version = 0;
    if (!root.is_object() || !root.contains("format") || !check.text(root, "format", format) ||
        format != formatName) {
        why = "not a session";
        return false;
    }
    if (!check.integer(root, "version", version, LLONG_MIN, LLONG_MAX)) return false;
    if (version != formatVersion) {
        why = "version " + std::to_string(version) + " not supported";
        return false;
    }
    return readTable(check, root, session) && readAxes(check, root, session) &&
           check.flag(root, "locked", session.axesLocked) && readView(check, root, session) &&
           readPalette(check, root, session) && readBrushes(check, root, session) &&
           readRecords(check, root, session) && readRecordsWindow(check, root, session);
}
