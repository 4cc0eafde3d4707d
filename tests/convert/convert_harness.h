#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "convert/convert_engine.h"

namespace paginor::testing {

// Runs a shell command (an independent consumer such as xmllint); its output, or the
// exit status and output when it failed.
inline std::string runCommand(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return "popen failed";
    }
    char buffer[4096];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        output.append(buffer, n);
    }
    const int status = pclose(pipe);
    return status == 0 ? output : "status " + std::to_string(status) + ": " + output;
}

// What a reader of its own (check_package.py: the zip layer byte by byte, zipfile, unzip -t and an
// XML parser over every part) finds wrong in a workbook package, one fault a line; empty when the
// package is sound. zipOnly checks the zip layer of any archive.
inline std::string packageFaults(const std::string& path, bool zipOnly = false) {
    return runCommand("/usr/bin/python3 " + std::string(PAGINOR_TESTS_DIR) +
                      "/convert/write/check_package.py " + (zipOnly ? "--zip '" : "'") + path +
                      "' 2>&1");
}

// A file's bytes; empty when it cannot be read.
inline std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A test with a folder of its own under /tmp, removed with everything in it when the test ends.
class ScratchFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        char folder[] = "/tmp/paginor-convert-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        m_dir = folder;
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    // The names in a folder, sorted.
    static std::vector<std::string> files(const std::filesystem::path& folder) {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    std::vector<std::string> files() const { return files(m_dir); }

    std::filesystem::path m_dir;
};

inline std::string readFixture(const std::string& name) {
    std::ifstream in(std::string(PAGINOR_CONVERT_FIXTURES) + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A batch: the pages joined, each page's offset at its start.
struct Batch {
    std::string html;
    std::vector<std::int64_t> offsets;
};

inline Batch makeBatch(const std::vector<std::string>& pages, const std::string& prologue = "") {
    Batch batch;
    batch.html = prologue;
    for (const auto& page : pages) {
        batch.offsets.push_back(static_cast<std::int64_t>(batch.html.size()));
        batch.html += page;
    }
    return batch;
}

// Pages of a fixture file are cut at the page-head marks.
inline Batch batchFromFixture(const std::string& name) {
    Batch batch;
    batch.html = readFixture(name);
    const std::string mark = "<!--9876543210_PageMark_Head-->";
    for (std::size_t at = batch.html.find(mark); at != std::string::npos;
         at = batch.html.find(mark, at + 1)) {
        batch.offsets.push_back(static_cast<std::int64_t>(at));
    }
    return batch;
}

// An HTMLCSS fixture: its pages start at "<!--PAGE-->", the text before the first one is the head.
struct CssReport {
    std::string head;
    Batch batch;
};

inline CssReport splitCssReport(const std::string& html) {
    const std::string mark = "<!--PAGE-->";
    const std::size_t first = html.find(mark);
    CssReport report;
    report.head = html.substr(0, first);
    if (first == std::string::npos) {
        return report;
    }
    report.batch.html = html.substr(first);
    for (std::size_t at = 0; at != std::string::npos; at = report.batch.html.find(mark, at + 1)) {
        report.batch.offsets.push_back(static_cast<std::int64_t>(at));
    }
    return report;
}

struct RunOptions {
    std::int32_t kind = kOutputDelimited;
    bool colour = false;
    bool font = false;
    bool pageBreakLines = false;
    bool keepFirst = true;
    bool keepLast = true;
    bool headerFooter = false;
    std::int32_t firstPageIndex = 0;
    bool lastBatch = true;
    bool dropEmpty = false;
    std::int32_t engineNumber = 0;
};

struct RunResult {
    std::string text;
    std::vector<tagOutputCellInfo> records;
    std::vector<tagOutputPageInfo> pages;
    std::int32_t columns = 0;
    std::uint8_t colour = 0;
    tagOutputBatchInfo batch;
    std::string step;
    std::uint8_t driverFlag = 1;  // cleared when the batch was laid out side by side
    // Records point into the input and into the engine: both live as long as the result.
    std::shared_ptr<const Batch> input;
    std::shared_ptr<CConvertEngine> engine;
};

inline RunResult run(CConvertEngine& engine, const Batch& source, const RunOptions& o = {}) {
    RunResult r;
    r.input = std::make_shared<const Batch>(source);
    const Batch& batch = *r.input;
    r.pages.resize(batch.offsets.size());
    r.batch.pages = r.pages.data();
    r.colour = o.colour ? 1 : 0;
    const void* output = nullptr;
    std::int64_t length = 0;
    std::int32_t records = 0;
    engine.GetCSVOutput104(batch.html.data(), static_cast<std::int64_t>(batch.html.size()),
                           batch.offsets.data(), static_cast<std::int32_t>(batch.offsets.size()),
                           &output, &length, &r.columns, &records, o.kind, &r.colour, o.font,
                           &r.batch, o.pageBreakLines, o.keepFirst, o.keepLast, &r.driverFlag,
                           o.engineNumber, o.headerFooter, o.firstPageIndex, o.lastBatch,
                           o.dropEmpty, false, &r.step);
    if (o.kind == kOutputDelimited && output != nullptr) {
        r.text.assign(static_cast<const char*>(output), static_cast<std::size_t>(length));
    } else if (output != nullptr) {
        const auto* first = static_cast<const tagOutputCellInfo*>(output);
        r.records.assign(first, first + records);
    }
    return r;
}

inline RunResult runHtml(const Batch& batch, const RunOptions& o = {}, bool rightToLeft = false) {
    auto engine = std::make_shared<CConvertEngine>();
    engine->Init(nullptr, kFormatHtml, nullptr, 0, rightToLeft);
    RunResult r = run(*engine, batch, o);
    r.engine = engine;
    return r;
}

// A field of delimited text as its cell text: a quoted field without its quotes, the doubled
// ones single.
inline std::string delimitedCellText(const std::string& field) {
    if (field.size() < 2 || field.front() != '"' || field.back() != '"') {
        return field;
    }
    std::string cell;
    for (std::size_t i = 1; i + 1 < field.size(); ++i) {
        cell.push_back(field[i]);
        i += field[i] == '"' ? 1 : 0;
    }
    return cell;
}

// The complete lines of delimited text as rows of cell texts.
inline std::vector<std::vector<std::string>> delimitedCells(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    for (std::size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos;
         start = end + 2) {
        const std::string line = text.substr(start, end - start);
        std::vector<std::string> cells;
        for (std::size_t at = 0, tab;; at = tab + 1) {
            tab = line.find('\t', at);
            cells.push_back(
                delimitedCellText(line.substr(at, tab == std::string::npos ? tab : tab - at)));
            if (tab == std::string::npos) {
                break;
            }
        }
        rows.push_back(std::move(cells));
    }
    return rows;
}

// Delimited text as "r0|a|b|\n": TABs shown as '|', quoted fields as their text, each line
// numbered.
inline std::string dumpText(const std::string& text) {
    std::string out;
    int row = 0;
    for (const auto& cells : delimitedCells(text)) {
        out += "r" + std::to_string(row++) + "|";
        for (std::size_t c = 0; c < cells.size(); ++c) {
            out += (c > 0 ? "|" : "") + cells[c];
        }
        out += "|\n";
    }
    const std::size_t rest = text.rfind("\r\n");
    const std::size_t end = rest == std::string::npos ? 0 : rest + 2;
    return out + (end < text.size() ? "rest:" + text.substr(end) : "");
}

// One line per record: page, row, column, spans, kind and text.
inline std::string dumpRecords(const std::vector<tagOutputCellInfo>& records) {
    std::string out;
    for (const auto& r : records) {
        out +=
            "p" + std::to_string(r.page) + " r" + std::to_string(r.row) + " c" +
            std::to_string(r.column) + " " + std::to_string(r.rowSpan) + "x" +
            std::to_string(r.columnSpan) + " k" + std::to_string(r.kind) + " '" +
            (r.text != nullptr ? std::string(r.text, static_cast<std::size_t>(r.textLength)) : "") +
            "'\n";
    }
    return out;
}

}  // namespace paginor::testing
