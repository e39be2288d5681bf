#include "data/table_writer.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include <string_view>

#include "app/platform.h"
#include "data/dimension.h"
#include "data/table.h"
#include "data/table_content.h"
#include "plot/plot.h"

namespace {

// Shortest text that reads back as the same double.
void appendNumber(std::string& out, double value) {
    char buffer[32];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    out.append(buffer, end);
}

void appendToken(std::string& out, std::string_view text) {
    if (text.empty()) {
        out += '_';
        return;
    }
    for (char c : text) out += std::isspace(static_cast<unsigned char>(c)) ? '_' : c;
}

// Appends record i's line.
void appendRecord(std::string& out, const TableContent& content, std::size_t i) {
    if (content.hasLabels) {
        appendToken(out, content.labels[i]);
        out += ' ';
    }
    for (std::size_t j = 0; j < content.columns.size(); ++j) {
        if (j > 0) out += ' ';
        appendNumber(out, content.columns[j][i]);
    }
    out += '\n';
}

void appendHeader(std::string& out, const TableContent& content) {
    out += std::to_string(content.recordCount) + ' ' + std::to_string(content.names.size()) + ' ' +
           std::to_string(content.shownCount) + ' ' + (content.hasLabels ? "1" : "0") + '\n';
    appendToken(out, content.labelColumnName);
    for (const std::string& name : content.names) {
        out += ' ';
        appendToken(out, name);
    }
    out += '\n';
}

void appendSections(std::string& out, const TableContent& content) {
    for (const LabelSection& section : content.sections) {
        out += "label ";
        appendToken(out, content.names[static_cast<std::size_t>(section.dimension)]);
        out += ' ' + std::to_string(section.entries.size());
        for (const LabelEntry& entry : section.entries) {
            out += ' ';
            appendNumber(out, entry.value);
            out += ' ';
            appendToken(out, entry.text);
        }
        out += '\n';
    }
}

}  // namespace

std::string tokenFrom(std::string_view text) {
    std::string token;
    appendToken(token, text);
    return token;
}

std::string tableText(const TableContent& content) {
    std::string out;
    appendHeader(out, content);
    for (std::size_t i = 0; i < static_cast<std::size_t>(content.recordCount); ++i)
        appendRecord(out, content, i);
    appendSections(out, content);
    return out;
}

bool writeTableFile(const TableContent& content, const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    // Written in slices so a large table never needs a second copy as text.
    std::string out;
    appendHeader(out, content);
    bool ok = true;
    for (std::size_t i = 0; i < static_cast<std::size_t>(content.recordCount) && ok; ++i) {
        appendRecord(out, content, i);
        if (out.size() >= (1u << 20)) {
            ok = std::fwrite(out.data(), 1, out.size(), file) == out.size();
            out.clear();
        }
    }
    appendSections(out, content);
    ok = ok && std::fwrite(out.data(), 1, out.size(), file) == out.size();
    ok = std::fclose(file) == 0 && ok;
    if (!ok) std::remove(path.c_str());  // a cut-off table would load as a different one
    return ok;
}

TableContent selectedRecords() {
    TableContent content;
    if (plot == nullptr) return content;
    std::vector<std::size_t> chosen;
    for (int i = 0; i < recordCount; ++i)
        if (plot->recordSelection[i] > 0.99999) chosen.push_back(static_cast<std::size_t>(i));
    content.recordCount = static_cast<int>(chosen.size());
    content.shownCount = shownDimensionCount;
    content.hasLabels = hasRecordLabels;
    content.labelColumnName = plot->labelColumnName;
    for (int j = 0; j < dimensionCount; ++j) {
        const Dimension& dimension = *dimensionTable[j];
        content.names.push_back(dimension.name);
        std::unique_ptr<double[]> values(new double[chosen.size()]);
        for (std::size_t k = 0; k < chosen.size(); ++k) values[k] = rawValues[j][chosen[k]];
        content.columns.push_back(std::move(values));
        if (dimension.labelCount > 0)
            content.sections.push_back(LabelSection{
                j, {dimension.labels.begin(), dimension.labels.begin() + dimension.labelCount}});
    }
    if (hasRecordLabels)
        for (std::size_t i : chosen) content.labels.push_back(recordLabels[i]);
    return content;
}

bool exportSelectedRecordsTo(const std::string& path) {
    const TableContent content = selectedRecords();
    if (!writeTableFile(content, path)) {
        trace(" could not write ", path, ", records not exported");
        return false;
    }
    trace(" exported ", content.recordCount, " records to ", path);
    return true;
}
