#include "data/table_writer.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include <string_view>

#include "data/table_content.h"

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
