#include "convert/write/spreadsheet_ml.h"
#include <stdexcept>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstddef>

#include "convert/write/character_references.h"
#include "convert/write/page_grid.h"
#include "core/report_core.h"
#include "core/text_format.h"
#include "platform/code_page_convert.h"

namespace paginor {

namespace {

constexpr std::int32_t kFirstStyleNumber = 21;
constexpr std::size_t kSheetPiece = 1 << 20;
constexpr const char kHtmlNamespace[] = "http://www.w3.org/TR/REC-html40";

// XML 1.0 allows TAB, LF and CR below the blank, and nothing of U+FFFE, U+FFFF.
bool isXmlChar(char32_t c) {
    if (c < 0x20) {
        return c == 0x09 || c == 0x0A || c == 0x0D;
    }
    return c != 0xFFFE && c != 0xFFFF;
}

// The maker's web host: the domain of the support address.
std::string makerHost() {
    const std::string& address = supportAddress();
    const auto at = address.find('@');
    return at == std::string::npos ? address : address.substr(at + 1);
}

void appendPadded(std::string& out, int value, int width) {
    std::array<char, 16> digits{};
    const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), value).ptr;
    out.append(static_cast<std::size_t>(std::max(0, width - static_cast<int>(end - digits.data()))),
               '0');
    out.append(digits.data(), end);
}

std::string formatCreated(const std::tm& t) {
    std::string text;
    appendPadded(text, t.tm_year + 1900, 4);
    text += '-';
    appendPadded(text, t.tm_mon + 1, 2);
    text += '-';
    appendPadded(text, t.tm_mday, 2);
    text += 'T';
    appendPadded(text, t.tm_hour, 2);
    text += ':';
    appendPadded(text, t.tm_min, 2);
    text += ':';
    appendPadded(text, t.tm_sec, 2);
    text += ".000";
    return text;
}

}  // namespace

void appendXmlNumber(std::string& out, std::int64_t value) {
    std::array<char, 24> digits{};
    const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), value).ptr;
    out.append(digits.data(), end);
}

void appendXmlText(std::string& out, std::u16string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const char32_t c = nextCodePoint(text, i);
        if (!isXmlChar(c)) {
            continue;
        }
        if (AppendMarkupEntity(out, c)) {
            continue;
        }
        if (c < 127) {
            out += static_cast<char>(c);
        } else {
            out += "&#";
            appendXmlNumber(out, static_cast<std::int64_t>(c));
            out += ';';
        }
    }
}

std::string FormatStyleId(std::int32_t number) {
    std::string id = "s";
    appendXmlNumber(id, number);
    return id;
}

namespace {

// A cell text of the code page made XML-safe.
void appendCellText(std::string& out, std::string_view text, std::int32_t codePage) {
    if (!AppendPlainMarkupText(out, text, codePage, "\n")) {
        appendXmlText(out, CellTextToUnicode(text, codePage));
    }
}

std::string styleBody(const tagOutputCellInfo& cell, const char* numberFormat,
                      std::int32_t codePage, std::int32_t reportFormat) {
    std::string body;
    switch (cell.alignment) {
        case 1:
            body += "<Alignment ss:Horizontal=\"Left\"/>";
            break;
        case 2:
            body += "<Alignment ss:Horizontal=\"Center\"/>";
            break;
        case 3:
            body += "<Alignment ss:Horizontal=\"Right\"/>";
            break;
        case 0:
            if (reportFormat == 2) {
                body += "<Alignment ss:Horizontal=\"Left\"/>";
            }
            break;
        default:
            break;
    }
    if (cell.framed != 0) {
        body += "<Borders>\r\n";
        for (const char* position : {"Bottom", "Left", "Right", "Top"}) {
            body += "    <Border ss:Position=\"";
            body += position;
            body += "\" ss:LineStyle=\"Continuous\" ss:Weight=\"1\" ss:Color=\"#000000\"/>\r\n";
        }
        body += "   </Borders>\r\n";
    }
    const bool hasName = cell.fontName != nullptr && cell.fontName[0] != '\0';
    if (hasName || cell.bold != 0 || cell.fontColour != 0 || cell.fontSize != 0) {
        body += "<Font ";
        if (cell.bold != 0) {
            body += "  ss:Bold=\"1\" ";
        }
        body += " ss:Color=\"" + FormatHtmlColor(cell.fontColour) + "\"";
        if (hasName) {
            body += " ss:FontName=\"";
            appendCellText(body, cell.fontName, codePage);
            body += "\"";
        }
        if (cell.fontSize != 0) {
            body += " ss:Size=\"";
            appendXmlNumber(body, cell.fontSize);
            body += "\"";
        }
        body += "/>\r\n";
    }
    if (numberFormat != nullptr && numberFormat[0] != '\0') {
        body += "<NumberFormat ss:Format=\"";
        appendXmlText(body,
                      std::u16string(numberFormat,
                                     numberFormat + std::char_traits<char>::length(numberFormat)));
        body += "\"/>\r\n";
    }
    if (cell.backgroundColour != kNoBackground) {
        body += "<Interior ss:Color=\"" + FormatHtmlColor(cell.backgroundColour) +
                "\" ss:Pattern=\"Solid\"/>\r\n";
    }
    return body;
}

// What a style body is made of; cells that share one share their body without building it.
struct StyleKey {
    std::int32_t alignment = 0;
    std::uint8_t framed = 0;
    std::uint8_t bold = 0;
    std::uint32_t fontColour = 0;
    std::int32_t fontSize = 0;
    std::uint32_t background = 0;
    std::string_view fontName;
    std::string format;

    bool operator==(const StyleKey&) const = default;
};

struct StyleKeyHash {
    std::size_t operator()(const StyleKey& key) const {
        std::size_t h = std::hash<std::string_view>()(key.fontName);
        for (const std::size_t part :
             {static_cast<std::size_t>(key.alignment), std::size_t{key.framed},
              std::size_t{key.bold}, std::size_t{key.fontColour},
              static_cast<std::size_t>(key.fontSize), std::size_t{key.background},
              std::hash<std::string>()(key.format)}) {
            h = h * 1099511628211u ^ part;
        }
        return h;
    }
};

// Makes one batch's Row elements.
class BatchMaker {
public:
    BatchMaker(const SpreadsheetMLCellSettings& settings, const tagCellDetectOptions& conventions,
               SpreadsheetMLBatch& batch)
        : m_settings(settings), m_conventions(conventions), m_batch(batch) {
        m_conventions.SetDefaults();
    }

    void cell(MarkedText& marked, const tagOutputCellInfo& cell, std::string_view text,
              std::int32_t column, bool indexed, std::int32_t pageNumber);
    void finish() { m_batch.styleBodies = m_styles.bodies(); }

private:
    std::int32_t styleNumber(const tagOutputCellInfo& cell, const std::string& format);

    const SpreadsheetMLCellSettings& m_settings;
    tagCellDetectOptions m_conventions;  // what stays undecided read by the defaults
    SpreadsheetMLBatch& m_batch;
    StyleTable m_styles;
    std::unordered_map<StyleKey, std::int32_t, StyleKeyHash> m_known;
    StyleKey m_key;
    tagCellDetectResult m_detected;
};

std::int32_t BatchMaker::styleNumber(const tagOutputCellInfo& cell, const std::string& format) {
    m_key.alignment = cell.alignment;
    m_key.framed = cell.framed;
    m_key.bold = cell.bold;
    m_key.fontColour = cell.fontColour;
    m_key.fontSize = cell.fontSize;
    m_key.background = cell.backgroundColour;
    m_key.fontName = cell.fontName != nullptr ? std::string_view(cell.fontName) : "";
    m_key.format = format;
    const auto found = m_known.find(m_key);
    if (found != m_known.end()) {
        return found->second;
    }
    const std::int32_t number =
        m_styles.Add(styleBody(cell, format.empty() ? nullptr : format.c_str(), m_settings.codePage,
                               m_settings.reportFormat));
    m_known.emplace(m_key, number);
    return number;
}

void BatchMaker::cell(MarkedText& marked, const tagOutputCellInfo& cell, std::string_view text,
                      std::int32_t column, bool indexed, std::int32_t pageNumber) {
    std::string& out = marked.text;
    const char* type = "String";
    std::string_view value = text;
    m_detected.format.clear();
    if (!text.empty() && (m_settings.convertDates || !m_settings.keepNumbersAsText)) {
        ReadCellValue(text, m_conventions, m_detected);
        const bool keep = (m_detected.kind == kCellKindDate && m_settings.convertDates) ||
                          (m_detected.kind == kCellKindNumber && !m_settings.keepNumbersAsText);
        // A date the detector could not order has no value: it stays text.
        if (keep && !m_detected.value.empty()) {
            value = m_detected.value;
            type = m_detected.kind == kCellKindDate ? "DateTime" : "Number";
        } else {
            m_detected.format.clear();
        }
    }
    const std::int32_t style = styleNumber(cell, m_detected.format);
    out += " <Cell";
    if (indexed) {
        out += " ss:Index=\"";
        appendXmlNumber(out, column + 1);
        out += "\"";
    }
    if (cell.rowSpan >= 2) {
        out += " ss:MergeDown=\"";
        appendXmlNumber(out, cell.rowSpan - 1);
        out += "\"";
    }
    if (cell.columnSpan >= 2) {
        out += " ss:MergeAcross=\"";
        appendXmlNumber(out, cell.columnSpan - 1);
        out += "\"";
    }
    out += " ss:StyleID=\"s";
    marked.appendMark(kStyleMark, style);
    out += "\"";
    if (value.empty() && pageNumber < 0) {
        out += "/>\r\n";
        return;
    }
    out += ">";
    if (pageNumber >= 0) {
        out += "<Comment ss:Author=\"tabulan\"><ss:Data   xmlns=\"";
        out += kHtmlNamespace;
        out +=
            "\"><B><Font html:Face=\"Tahoma\"  x:CharSet=\"134\" x:Family=\"Swiss\" "
            "html:Size=\"8\" html:Color=\"#000000\">Page ";
        appendXmlNumber(out, pageNumber);
        out += "</Font></B></ss:Data></Comment>";
    }
    out += "<Data ss:Type=\"";
    out += type;
    out += "\">";
    appendCellText(out, value, m_settings.codePage);
    out += "</Data></Cell>\r\n";
}

}  // namespace

std::int32_t StyleTable::Add(const std::string& body) {
    const auto [entry, added] =
        m_numbers.try_emplace(body, static_cast<std::int32_t>(m_bodies.size()));
    if (added) {
        m_bodies.push_back(body);
    }
    return entry->second;
}

CSpreadsheetMLWriter::CSpreadsheetMLWriter(std::int32_t codePage, bool keepNumbersAsText,
                                           bool convertDates, std::int32_t reportFormat)
    : m_codePage(codePage),
      m_convertDates(convertDates),
      m_keepNumbersAsText(keepNumbersAsText),
      m_reportFormat(reportFormat) {}

void CSpreadsheetMLWriter::EscapeText(std::string& out, std::string_view text) const {
    appendCellText(out, text, m_codePage);
}

void CSpreadsheetMLWriter::WriteEscapedText(std::string& rows, std::string_view text) const {
    EscapeText(rows, text);
}

std::string CSpreadsheetMLWriter::GetStyleId(const tagOutputCellInfo& cell,
                                             const char* numberFormat) {
    return FormatStyleId(m_styles.Add(styleBody(cell, numberFormat, m_codePage, m_reportFormat)) +
                         kFirstStyleNumber);
}

bool CSpreadsheetMLWriter::LearnConventions(tagCellDetectOptions& conventions, bool skipFirstPage,
                                            bool skipLastPage, std::int32_t pageCount,
                                            const tagOutputPageInfo* pages,
                                            std::int32_t recordCount) {
    if (pages == nullptr || pageCount <= 0) {
        return false;
    }
    if (conventions.IsSet()) {
        return true;
    }
    // A batch that reveals nothing leaves the decision to the batches after it.
    CCellValueDetector detector;
    tagCellDetectOptions& options = detector.options();
    options = conventions;
    const PageRecordIndex index(pages, pageCount, recordCount);
    tagCellDetectResult discarded;
    const std::int32_t e = pageCount - (skipLastPage ? 1 : 0);
    for (std::int32_t p = skipFirstPage ? 1 : 0; p < e && !options.IsSet(); ++p) {
        index.forEach(p, [&](const tagOutputCellInfo& record) {
            if (record.text != nullptr && record.textLength > 0) {
                detector.Detect({record.text, static_cast<std::size_t>(record.textLength)},
                                discarded);
            }
            return !options.IsSet();
        });
    }
    conventions = options;
    return true;
}

SpreadsheetMLCellSettings CSpreadsheetMLWriter::cellSettings() const {
    SpreadsheetMLCellSettings settings;
    settings.codePage = m_codePage;
    settings.keepNumbersAsText = m_keepNumbersAsText;
    settings.convertDates = m_convertDates;
    settings.reportFormat = m_reportFormat;
    return settings;
}

void CSpreadsheetMLWriter::MakeBatch(const SpreadsheetMLCellSettings& settings,
                                     const tagCellDetectOptions& assumed,
                                     const tagCellDetectOptions& decided,
                                     std::int32_t firstPageNumber, bool skipFirstPage,
                                     bool skipLastPage, std::int32_t pageCount,
                                     std::int32_t columnCount, const tagOutputPageInfo* pages,
                                     std::int32_t recordCount, SpreadsheetMLBatch& batch) {
    batch.pages.clear();
    batch.styleBodies.clear();
    batch.assumed = assumed;
    batch.decided = decided;
    batch.columns = std::max(columnCount, 0);
    if (pages == nullptr || pageCount <= 0) {
        return;
    }
    const std::int32_t s = skipFirstPage ? 1 : 0;
    const std::int32_t e = pageCount - (skipLastPage ? 1 : 0);
    const std::int32_t columns = batch.columns;
    const PageRecordIndex index(pages, pageCount, recordCount);
    BatchMaker maker(settings, decided, batch);
    for (std::int32_t p = s; p < e; ++p) {
        SpreadsheetMLBatch::Page& made = batch.pages.emplace_back();
        const auto rows = static_cast<std::int32_t>(
            std::min<std::uint32_t>(pages[p].rowCount, static_cast<std::uint32_t>(INT32_MAX / 2)));
        made.rows = rows;
        if (rows <= 0 || columns <= 0) {
            continue;
        }
        PageGrid grid(rows, columns);
        index.forEach(p, [&](const tagOutputCellInfo& record) {
            grid.place(record);
            return true;
        });
        const tagOutputCellInfo emptyCell;
        bool commented = false;
        for (std::int32_t r = 0; r < rows; ++r) {
            bool any = r == 0;
            for (std::int32_t c = 0; c < columns && !any; ++c) {
                any = grid.at(r, c).cell != nullptr && grid.at(r, c).rowSpan > 0;
            }
            if (!any) {
                continue;
            }
            made.xml.text += "<Row ss:Index=\"";
            made.xml.appendMark(kRowMark, r);
            made.xml.text += "\">\r\n";
            // The column after the last cell written and the columns it merges.
            std::int32_t next = 0;
            for (std::int32_t c = 0; c < columns; ++c) {
                const PageGridSlot& slot = grid.at(r, c);
                if (slot.rowSpan <= 0 || (slot.cell == nullptr && (r != 0 || c != 0))) {
                    continue;
                }
                tagOutputCellInfo cell = slot.cell != nullptr ? *slot.cell : emptyCell;
                cell.rowSpan = slot.rowSpan;
                cell.columnSpan = slot.columnSpan;
                maker.cell(made.xml, cell, SlotText(slot), c, c > next,
                           commented ? -1 : firstPageNumber + p - s);
                commented = true;
                next = c + slot.columnSpan;
            }
            made.xml.text += "</Row>\r\n";
        }
    }
    maker.finish();
}

bool CSpreadsheetMLWriter::Accepts(const SpreadsheetMLBatch& batch) const {
    return batch.assumed == m_conventions;
}

void CSpreadsheetMLWriter::WriteBatch(const SpreadsheetMLBatch& batch, std::time_t* timeOut) {
    m_conventions = batch.decided;
    m_batchStyles.clear();
    for (const std::string& body : batch.styleBodies) {
        m_batchStyles.push_back(m_styles.Add(body));
    }
    for (const SpreadsheetMLBatch::Page& page : batch.pages) {
        const std::int32_t rows = page.rows;
        if (m_rowsWritten + rows > m_rowsPerWorksheet && m_rowsWritten > 0) {
            if (!m_sheets.empty()) {
                m_sheets.back().rowCount = m_rowsWritten;
            }
            m_sheets.emplace_back();
            m_rowsWritten = 0;
        }
        tagSheetInfo& sheet = m_sheets.back();
        sheet.columnCount = std::max(sheet.columnCount, batch.columns);
        resolveMarks(sheet.rows, page.xml, [this](char kind, std::int32_t number) {
            return kind == kRowMark
                       ? m_rowsWritten + number + 1
                       : std::int64_t{m_batchStyles[static_cast<std::size_t>(number)]} +
                             kFirstStyleNumber;
        });
        m_rowsWritten += rows;
        sheet.rowCount = m_rowsWritten;
        spillRows(sheet);
        if (timeOut != nullptr) {
            *timeOut = std::time(nullptr);
        }
    }
}

void CSpreadsheetMLWriter::WriteTable(std::int32_t firstPageNumber, bool skipFirstPage,
                                      bool skipLastPage, std::int32_t pageCount,
                                      std::int32_t columnCount, const tagOutputPageInfo* pages,
                                      std::time_t* timeOut, std::int32_t recordCount) {
    tagCellDetectOptions decided = m_conventions;
    if (!LearnConventions(decided, skipFirstPage, skipLastPage, pageCount, pages, recordCount)) {
        return;
    }
    SpreadsheetMLBatch batch;
    MakeBatch(cellSettings(), m_conventions, decided, firstPageNumber, skipFirstPage, skipLastPage,
              pageCount, columnCount, pages, recordCount, batch);
    WriteBatch(batch, timeOut);
}

void CSpreadsheetMLWriter::spillRows(tagSheetInfo& sheet) {
    constexpr std::size_t kSpillBytes = 4 * 1024 * 1024;
    if (sheet.rows.size() < kSpillBytes) {
        return;
    }
    m_spill.Spill(sheet.rows, sheet.spilled);
}

void CSpreadsheetMLWriter::WriteWorkbook(const std::function<void(std::string_view)>& sink,
                                         bool rightToLeft, const std::tm& created) const {
    std::string text =
        "<?xml version=\"1.0\"?>\r\n"
        "<?mso-application progid=\"Excel.Sheet\"?>\r\n"
        "<Workbook xmlns=\"urn:schemas-microsoft-com:office:spreadsheet\"\r\n"
        " xmlns:o=\"urn:schemas-microsoft-com:office:office\"\r\n"
        " xmlns:x=\"urn:schemas-microsoft-com:office:excel\"\r\n"
        " xmlns:ss=\"urn:schemas-microsoft-com:office:spreadsheet\"\r\n"
        " xmlns:html=\"";
    text += kHtmlNamespace;
    text +=
        "\">\r\n"
        " <DocumentProperties xmlns=\"urn:schemas-microsoft-com:office:office\">\r\n"
        "  <Author>tabulan</Author>\r\n"
        "  <LastAuthor>tabulan</LastAuthor>\r\n"
        "  <Created>";
    text += formatCreated(created);
    text += "</Created>\r\n  <Company>";
    const std::string host = makerHost();
    appendXmlText(text, std::u16string(host.begin(), host.end()));
    text +=
        "</Company>\r\n"
        "  <Version>13.00</Version>\r\n"
        " </DocumentProperties>\r\n"
        " <OfficeDocumentSettings xmlns=\"urn:schemas-microsoft-com:office:office\">\r\n"
        " </OfficeDocumentSettings>\r\n"
        " <ExcelWorkbook xmlns=\"urn:schemas-microsoft-com:office:excel\">\r\n"
        "  <WindowHeight>12945</WindowHeight>\r\n"
        "  <WindowWidth>21435</WindowWidth>\r\n"
        "  <WindowTopX>360</WindowTopX>\r\n"
        "  <WindowTopY>105</WindowTopY>\r\n"
        "  <ProtectStructure>False</ProtectStructure>\r\n"
        "  <ProtectWindows>False</ProtectWindows>\r\n"
        " </ExcelWorkbook>\r\n";
    if (!m_styles.bodies().empty()) {
        text += "<Styles>\r\n";
        for (std::size_t i = 0; i < m_styles.bodies().size(); ++i) {
            text += "<Style ss:ID=\"" +
                    FormatStyleId(static_cast<std::int32_t>(i) + kFirstStyleNumber) + "\">\r\n";
            text += m_styles.bodies()[i];
            text += "</Style>\r\n";
        }
        text += "</Styles>\r\n";
    }
    sink(text);
    // A workbook needs a worksheet even when no page produced one.
    static const std::vector<tagSheetInfo> kOneEmptySheet(1);
    const std::vector<tagSheetInfo>& sheets = m_sheets.empty() ? kOneEmptySheet : m_sheets;
    for (std::size_t n = 0; n < sheets.size(); ++n) {
        const tagSheetInfo& sheet = sheets[n];
        text = "<Worksheet ss:Name=\"Sheet";
        appendXmlNumber(text, static_cast<std::int64_t>(n + 1));
        text += "\"";
        if (rightToLeft) {
            text += " ss:RightToLeft=\"1\"";
        }
        text += ">\r\n  <Table ss:ExpandedColumnCount=\"";
        appendXmlNumber(text, sheet.columnCount);
        text += "\"   ss:ExpandedRowCount=\"";
        appendXmlNumber(text, sheet.rowCount);
        text += "\" x:FullColumns=\"1\"\r\n   x:FullRows=\"1\">\r\n";
        for (std::int32_t i = 1; i <= sheet.columnCount; ++i) {
            text += " <Column ss:Index=\"";
            appendXmlNumber(text, i);
            text += "\" ss:AutoFitWidth=\"1\"/>\r\n";
        }
        sink(text);
        m_spill.ReadBack(sheet.spilled, kSheetPiece, sink);
        for (std::size_t at = 0; at < sheet.rows.size(); at += kSheetPiece) {
            sink(std::string_view(sheet.rows).substr(at, kSheetPiece));
        }
        sink(
            "  </Table>\r\n"
            "  <WorksheetOptions xmlns=\"urn:schemas-microsoft-com:office:excel\">\r\n"
            "   <Selected/>\r\n"
            "   <ProtectObjects>False</ProtectObjects>\r\n"
            "   <ProtectScenarios>False</ProtectScenarios>\r\n"
            "  </WorksheetOptions>\r\n"
            " </Worksheet>\r\n");
    }
    sink("\r\n</Workbook>\r\n");
}

}  // namespace paginor
