#include "convert/write/workbook_archive.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <stdexcept>

#include "convert/write/character_references.h"
#include "convert/write/link_target.h"
#include "convert/write/number_text.h"
#include "convert/write/page_grid.h"
#include "core/mime_table.h"
#include "core/report_core.h"
#include "core/text_format.h"
#include "mail/base64.h"
#include "mail/quoted_printable.h"
#include "platform/code_page_convert.h"
#include "platform/file.h"
#include "platform/sys_error.h"

namespace paginor {

namespace {

constexpr std::size_t kSpillBytes = 1024 * 1024;
constexpr std::size_t kSheetBlock = 1 << 20;
constexpr std::size_t kImageBlock = 1026;  // 18 full lines of base64
constexpr std::int32_t kMinImageHeight = 16;
constexpr const char kCharset[] = "us-ascii";

constexpr const char kHtmlOpening[] =
    "<html xmlns:o=\"urn:schemas-microsoft-com:office:office\"\r\n"
    "xmlns:x=\"urn:schemas-microsoft-com:office:excel\"\r\n"
    "xmlns=\"http://www.w3.org/TR/REC-html40\">\r\n";

void appendNumber(std::string& out, std::int64_t value) {
    std::array<char, 24> digits{};
    const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), value).ptr;
    out.append(digits.data(), end);
}

// "sheet%03d.htm".
std::string sheetLocation(std::int32_t number) {
    std::string name = "sheet";
    std::string digits;
    appendNumber(digits, number);
    name.append(digits.size() < 3 ? 3 - digits.size() : 0, '0');
    return name + digits + ".htm";
}

// The maker's web host: the domain of the support address.
std::string makerHost() {
    const std::string& address = supportAddress();
    const auto at = address.find('@');
    return at == std::string::npos ? address : address.substr(at + 1);
}

// HTML has no place for control characters but TAB, LF and CR; a reference to one from U+0080 up
// would even be read as a Windows-1252 character.
bool isHtmlControl(char32_t c) {
    return (c < 0x20 && c != '\t' && c != '\n' && c != '\r') || (c >= 0x7F && c <= 0x9F);
}

// UTF-16 as 7-bit HTML: markup characters as entities, one decimal reference per code point
// from 127 up, control characters HTML forbids dropped; lineBreaks turns each line feed into
// "<br>".
void appendHtml(std::string& out, std::u16string_view text, bool lineBreaks) {
    for (std::size_t i = 0; i < text.size();) {
        const char32_t c = nextCodePoint(text, i);
        if (isHtmlControl(c) || AppendMarkupEntity(out, c)) {
            continue;
        }
        if (c == '\n') {
            out += lineBreaks ? "<br>" : "\n";
        } else if (c < 127) {
            out += static_cast<char>(c);
        } else {
            out += "&#";
            appendNumber(out, static_cast<std::int64_t>(c));
            out += ';';
        }
    }
}

// An image source as it goes into both the img tag and the part's Content-Location: bytes that
// cannot stand in a header line or an attribute are percent-encoded.
std::string imageLocation(std::string_view source) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : source) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c >= 0x7F || c == '"' || c == '<' || c == '>' || c == '&') {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        } else {
            out += ch;
        }
    }
    return out;
}

// The text of any kind of record: an image record's is its source.
std::string_view rawText(const tagOutputCellInfo& cell) {
    if (cell.text == nullptr || cell.textLength <= 0) {
        return {};
    }
    return {cell.text, static_cast<std::size_t>(cell.textLength)};
}

void writePartHeader(const WorkbookArchive::Sink& sink, std::string_view location,
                     std::string_view encoding, std::string_view type) {
    std::string header = "--";
    header += WorkbookArchive::kBoundary;
    header += "\r\nContent-Location: ";
    header += location;
    header += "\r\nContent-Transfer-Encoding: ";
    header += encoding;
    header += "\r\nContent-Type: ";
    header += type;
    header += "\r\n\r\n";
    sink(header);
}

}  // namespace

WorkbookArchive::WorkbookArchive(CReportCore& report, std::int32_t separatorMode)
    : m_report(report), m_separatorMode(separatorMode) {}

WorkbookArchive::~WorkbookArchive() = default;

void WorkbookArchive::WriteTextAsAscii(std::string& out, std::string_view text) const {
    appendHtml(out, m_report.ToUnicode(text), false);
}

namespace {

// The class style of a record, empty for none; fontTag tells that the font name cannot stand in
// the style and goes into a font tag.
std::string styleText(const tagOutputCellInfo& cell, bool& fontTag) {
    fontTag = false;
    const bool hasName = cell.fontName != nullptr && cell.fontName[0] != '\0';
    if (!hasName && cell.bold == 0 && cell.fontColour == 0 && cell.fontSize == 0) {
        return {};
    }
    std::string style = "{font: ";
    style += cell.bold != 0 ? "bold" : "    ";
    style += ' ';
    if (cell.fontSize != 0) {
        appendNumber(style, cell.fontSize);
        style += "pt";
    } else {
        style += "    ";
    }
    style += ' ';
    std::string_view name = hasName ? std::string_view(cell.fontName) : std::string_view();
    fontTag = std::any_of(name.begin(), name.end(), [](char ch) {
        const auto c = static_cast<unsigned char>(ch);
        return c < 32 || c >= 127;
    });
    style += hasName && !fontTag ? name : std::string_view("   ");
    style += "; color:";
    style += cell.fontColour != 0 ? FormatHtmlColor(cell.fontColour) : "#000000";
    style += ";}";
    return style;
}

// Text of the code page as 7-bit HTML, line feeds as "<br>".
void appendCellHtml(std::string& out, std::string_view text, std::int32_t codePage) {
    if (!AppendPlainMarkupText(out, text, codePage, "<br>")) {
        appendHtml(out, CellTextToUnicode(text, codePage), true);
    }
}

// The records of each written page, in their order.
std::vector<std::vector<const tagOutputCellInfo*>> recordsByPage(const tagOutputPageInfo* pages,
                                                                 std::int32_t pageCount,
                                                                 std::int32_t first,
                                                                 std::int32_t end,
                                                                 std::int32_t recordCount) {
    // Each page's records in one pass over the batch: the first ones carrying its index, as
    // many as its entry counts.
    std::vector<std::vector<const tagOutputCellInfo*>> byPage(
        static_cast<std::size_t>(std::max(end, 0)));
    // Every page entry points at the batch's first record.
    const tagOutputCellInfo* records = nullptr;
    for (std::int32_t p = 0; p < pageCount && records == nullptr; ++p) {
        records = pages[p].records;
    }
    for (std::int32_t i = 0; records != nullptr && i < recordCount; ++i) {
        const tagOutputCellInfo& record = records[i];
        if (record.page >= first && record.page < end) {
            auto& list = byPage[static_cast<std::size_t>(record.page)];
            if (list.size() < pages[record.page].recordCount) {
                list.push_back(&record);
            }
        }
    }
    return byPage;
}

// Makes one batch's tables.
class TableMaker {
public:
    TableMaker(const ArchiveCellSettings& settings, const WorkbookArchive::ImageLocation* images,
               ArchiveBatch& made)
        : m_settings(settings), m_images(images), m_made(made) {}

    void page(MarkedText& out, std::int32_t rows,
              const std::vector<const tagOutputCellInfo*>& records, std::int32_t columns);
    void finish() { m_made.styles = std::move(m_styles); }

private:
    void cell(MarkedText& marked, const tagOutputCellInfo* cell, std::string_view text,
              std::int32_t rowSpan, std::int32_t columnSpan);
    std::int32_t styleNumber(const std::string& style);

    const ArchiveCellSettings& m_settings;
    const WorkbookArchive::ImageLocation* m_images;
    ArchiveBatch& m_made;
    std::vector<std::string> m_styles;
    std::unordered_map<std::string, std::int32_t> m_styleNumbers;
};

std::int32_t TableMaker::styleNumber(const std::string& style) {
    const auto [entry, added] =
        m_styleNumbers.try_emplace(style, static_cast<std::int32_t>(m_styles.size()));
    if (added) {
        m_styles.push_back(style);
    }
    return entry->second;
}

void TableMaker::page(MarkedText& marked, std::int32_t rows,
                      const std::vector<const tagOutputCellInfo*>& records, std::int32_t columns) {
    std::string& out = marked.text;
    out += "<TABLE>\r\n";
    if (rows > 0 && columns > 0) {
        PageGrid grid(rows, columns);
        for (const tagOutputCellInfo* record : records) {
            grid.place(*record);
        }
        for (std::int32_t r = 0; r < rows; ++r) {
            out += "<tr>\r\n";
            for (std::int32_t c = 0; c < columns; ++c) {
                const PageGridSlot& slot = grid.at(r, c);
                if (slot.rowSpan > 0) {
                    const std::string_view text =
                        slot.cell != nullptr && slot.cell->kind == kKindImage ? rawText(*slot.cell)
                                                                              : SlotText(slot);
                    cell(marked, slot.cell, text, slot.rowSpan, slot.columnSpan);
                }
            }
            out += "</tr>\r\n";
        }
    }
    out += "</TABLE>\r\n";
}

void TableMaker::cell(MarkedText& marked, const tagOutputCellInfo* cell, std::string_view text,
                      std::int32_t rowSpan, std::int32_t columnSpan) {
    std::string& out = marked.text;
    if (cell == nullptr) {
        out += " <td></td>\r\n";
        return;
    }
    std::string height;
    std::int32_t styleClass = -1;
    std::string content;
    if (!text.empty() && m_settings.separatorMode == 0) {
        bool isNumber = false;
        bool isPlainInteger = false;
        std::size_t length = text.size();
        const std::int32_t code = ScanCellText(text.data(), isNumber, isPlainInteger, length);
        m_made.commaDecimals += code == 1 ? 1 : 0;
        m_made.pointDecimals += code == 2 ? 1 : 0;
        text = text.substr(0, length);
    }
    if (!text.empty() && (cell->kind == kKindText || cell->kind == kKindLink)) {
        bool fontTag = false;
        const std::string style = styleText(*cell, fontTag);
        if (!style.empty()) {
            styleClass = styleNumber(style);
        }
        if (fontTag) {
            content += "<font face=\"";
            appendHtml(content, CReportCore::ToUnicode(cell->fontName, m_settings.codePage), false);
            content += "\">";
        }
        const std::string target =
            cell->kind == kKindLink && cell->text != nullptr
                ? LinkTarget(cell->text + cell->textLength + 1, m_settings.baseFolder)
                : std::string();
        const bool link = !target.empty();
        if (link) {
            content += "<a href=\"";
            appendHtml(content, std::u16string(target.begin(), target.end()), false);
            content += "\">";
        }
        appendCellHtml(content, text, m_settings.codePage);
        if (link) {
            content += "</a>";
        }
        if (fontTag) {
            content += "</font>";
        }
    } else if (!text.empty() && cell->kind == kKindImage && m_settings.images &&
               m_images != nullptr) {
        const std::string location = (*m_images)(text);
        if (!location.empty()) {
            const std::int32_t points = static_cast<std::int32_t>(cell->size & 0xFFFF);
            if (points >= kMinImageHeight) {
                height = " height=\"";
                appendNumber(height, points / 3 * 4);
                height += "\"";
            }
            content = "<img src=\"" + location + "\" " + height + ">";
        }
    }
    out += " <td";
    out += height;
    if (rowSpan >= 2) {
        out += " rowspan=\"";
        appendNumber(out, rowSpan);
        out += "\"";
    }
    if (columnSpan >= 2) {
        out += " colspan=\"";
        appendNumber(out, columnSpan);
        out += "\"";
    }
    if (styleClass >= 0) {
        out += " class=tbz";
        marked.appendMark(kStyleMark, styleClass);
        out += " ";
    }
    if (cell->backgroundColour != kNoBackground) {
        out += " bgcolor=\"" + FormatHtmlColor(cell->backgroundColour) + "\" ";
    }
    switch (cell->alignment) {
        case 1:
            out += " align=\"left\" ";
            break;
        case 2:
            out += " align=\"center\" ";
            break;
        case 3:
            out += " align=\"right\" ";
            break;
        default:
            break;
    }
    out += ">";
    out += content;
    out += "</td>\r\n";
}

}  // namespace

std::string WorkbookArchive::GetStyleClass(const tagOutputCellInfo& cell, bool& fontTag) {
    const std::string style = styleText(cell, fontTag);
    if (style.empty()) {
        return {};
    }
    const auto [entry, added] =
        m_styleClasses.try_emplace(style, static_cast<std::int32_t>(m_styles.size()));
    if (added) {
        m_styles.push_back(style);
    }
    std::string className = "tbz";
    appendNumber(className, entry->second);
    return className;
}

ArchiveCellSettings WorkbookArchive::cellSettings(bool images) const {
    ArchiveCellSettings settings;
    settings.codePage = m_report.codePage();
    settings.separatorMode = m_separatorMode;
    settings.images = images;
    settings.baseFolder = m_report.baseFolder();
    return settings;
}

bool WorkbookArchive::NeedsImages(const ArchiveCellSettings& settings, bool skipFirstPage,
                                  bool skipLastPage, std::int32_t pageCount,
                                  const tagOutputBatchInfo& batch, std::int32_t recordCount) {
    if (!settings.images || batch.pages == nullptr || pageCount <= 0) {
        return false;
    }
    const std::int32_t first = skipFirstPage ? 1 : 0;
    const std::int32_t end = pageCount - (skipLastPage ? 1 : 0);
    for (const auto& records : recordsByPage(batch.pages, pageCount, first, end, recordCount)) {
        for (const tagOutputCellInfo* record : records) {
            if (record->kind == kKindImage && !rawText(*record).empty()) {
                return true;
            }
        }
    }
    return false;
}

void WorkbookArchive::MakeBatch(const ArchiveCellSettings& settings, bool skipFirstPage,
                                bool skipLastPage, std::int32_t pageCount, std::int32_t columnCount,
                                const tagOutputBatchInfo& batch, std::int32_t recordCount,
                                const ImageLocation* imageLocation, ArchiveBatch& made) {
    made = ArchiveBatch{};
    const tagOutputPageInfo* pages = batch.pages;
    if (pages == nullptr || pageCount <= 0) {
        return;
    }
    const std::int32_t first = skipFirstPage ? 1 : 0;
    const std::int32_t end = pageCount - (skipLastPage ? 1 : 0);
    const auto byPage = recordsByPage(pages, pageCount, first, end, recordCount);
    const std::int32_t columns = std::max(columnCount, 0);
    TableMaker maker(settings, imageLocation, made);
    for (std::int32_t p = first; p < end; ++p) {
        ArchiveBatch::Page& page = made.pages.emplace_back();
        page.rows = static_cast<std::int32_t>(
            std::min<std::uint32_t>(pages[p].rowCount, static_cast<std::uint32_t>(INT32_MAX / 2)));
        maker.page(page.table, page.rows, byPage[static_cast<std::size_t>(p)], columns);
    }
    maker.finish();
}

void WorkbookArchive::WriteBatch(const ArchiveBatch& made, std::time_t* activityStamp) {
    m_commaDecimals += made.commaDecimals;
    m_pointDecimals += made.pointDecimals;
    m_batchStyles.clear();
    for (const std::string& style : made.styles) {
        const auto [entry, added] =
            m_styleClasses.try_emplace(style, static_cast<std::int32_t>(m_styles.size()));
        if (added) {
            m_styles.push_back(style);
        }
        m_batchStyles.push_back(entry->second);
    }
    for (const ArchiveBatch::Page& page : made.pages) {
        if (!m_sheets.empty() && m_sheetRows > 0 && m_sheetRows + page.rows > SheetRowLimit) {
            m_sheets.emplace_back();
            m_sheetRows = 0;
        }
        if (m_sheets.empty()) {
            m_sheets.emplace_back();
        }
        Sheet& sheet = m_sheets.back();
        resolveMarks(sheet.text, page.table, [this](char, std::int32_t number) {
            return std::int64_t{m_batchStyles[static_cast<std::size_t>(number)]};
        });
        m_sheetRows += page.rows;
        spill(sheet);
        if (activityStamp != nullptr) {
            *activityStamp = std::time(nullptr);
        }
    }
}

void WorkbookArchive::WriteSheetTable(bool skipFirstPage, bool skipLastPage, std::int32_t pageCount,
                                      std::int32_t columnCount, const tagOutputBatchInfo& batch,
                                      std::time_t* activityStamp, std::int32_t recordCount,
                                      bool images) {
    const ImageLocation location = [this](std::string_view source) { return listImage(source); };
    ArchiveBatch made;
    MakeBatch(cellSettings(images), skipFirstPage, skipLastPage, pageCount, columnCount, batch,
              recordCount, &location, made);
    WriteBatch(made, activityStamp);
}

std::string WorkbookArchive::listImage(std::string_view source) {
    std::string local;
    m_report.FetchLinkedFile(source.data(), static_cast<std::int64_t>(source.size()), local);
    // A local report's images are named, not fetched: one that is not there, or is no regular
    // file (a folder, a FIFO that would never answer), has no cell content.
    ReadOnlyFile file;
    std::string problem;
    if (local.empty() || !file.openRegular(local, problem)) {
        return {};
    }
    std::string location = imageLocation(source);
    if (m_imageIndex.try_emplace(location, m_images.size()).second) {
        m_images.emplace_back(location, local);
    }
    return location;
}

void WorkbookArchive::spill(Sheet& sheet) {
    if (sheet.text.size() < kSpillBytes) {
        return;
    }
    m_spill.Spill(sheet.text, sheet.spilled);
}

void WorkbookArchive::WriteArchiveHeader(const Sink& sink) {
    std::string header =
        "MIME-Version: 1.0\r\n"
        "X-Document-Type: Workbook\r\n"
        "Content-Type: multipart/related; boundary=\"";
    header += kBoundary;
    header +=
        "\"\r\n"
        "\r\n"
        "This document is a Single File Web Page, also known as a Web Archive file.  If you are "
        "seeing this message, your browser or editor doesn't support Web Archive files.  Please "
        "download a browser that supports Web Archive, such as Microsoft Internet Explorer.\r\n"
        "\r\n";
    sink(header);
}

std::string WorkbookArchive::BuildFrameset() const {
    std::string text = kHtmlOpening;
    text +=
        "<head>\r\n"
        "<meta name=\"Excel Workbook Frameset\">\r\n"
        "<meta http-equiv=Content-Type content=\"text/html; charset=us-ascii\">\r\n"
        "<meta name=ProgId content=Excel.Sheet>\r\n"
        "<meta name=Generator content=\"Tabulan\">\r\n"
        "<!--[if gte mso 9]><xml>\r\n"
        " <o:DocumentProperties>\r\n"
        "  <o:Author>Tabulan, web site: ";
    const std::string host = makerHost();
    appendHtml(text, std::u16string(host.begin(), host.end()), false);
    text +=
        "</o:Author>\r\n"
        "  <o:Version>11.5606</o:Version>\r\n"
        " </o:DocumentProperties>\r\n"
        "</xml><![endif]-->\r\n"
        "<!--[if gte mso 9]><xml>\r\n"
        " <x:ExcelWorkbook>\r\n"
        "  <x:ExcelWorksheets>\r\n";
    for (std::int32_t n = 1; n <= sheetCount(); ++n) {
        text += "   <x:ExcelWorksheet>\r\n    <x:Name>Sheet";
        appendNumber(text, n);
        text += "</x:Name> \r\n <x:WorksheetSource HRef=\"" + sheetLocation(n) +
                "\"/>\r\n   </x:ExcelWorksheet>\r\n";
    }
    text +=
        "  </x:ExcelWorksheets>\r\n"
        "  <x:Stylesheet HRef=\"stylesheet.css\"/>\r\n"
        "  <x:ActiveSheet>0</x:ActiveSheet>\r\n"
        " </x:ExcelWorkbook>\r\n"
        "</xml><![endif]-->\r\n"
        "</head>\r\n"
        "</html>\r\n\r\n";
    return text;
}

std::string WorkbookArchive::BuildStyleSheet() const {
    std::string text;
    for (std::size_t i = 0; i < m_styles.size(); ++i) {
        text += "  .tbz";
        appendNumber(text, static_cast<std::int64_t>(i));
        text += m_styles[i];
        text += "\r\n";
    }
    text += "\r\n";
    return text;
}

std::string WorkbookArchive::BuildSheetHead(bool protect) const {
    // Without a decided number the point stays: the comma needs comma-decimal numbers to win.
    bool comma = m_separatorMode == 1;
    if (m_separatorMode == 0 && m_commaDecimals > 0) {
        comma = m_pointDecimals == 0 ||
                static_cast<double>(m_commaDecimals) / static_cast<double>(m_pointDecimals) > 8;
    }
    const char* decimal = comma ? "," : ".";
    const char* thousands = comma ? "." : ",";
    const char* locked = protect ? "True" : "False";
    std::string text = kHtmlOpening;
    text +=
        "<head>\r\n"
        "<meta http-equiv=Content-Type content=\"text/html; charset=us-ascii\">\r\n"
        "<meta name=ProgId content=Excel.Sheet>\r\n"
        "<meta name=Generator content=\"Microsoft Excel 11\">\r\n"
        "<link rel=Stylesheet href=stylesheet.css>\r\n"
        "<style>\r\n"
        "<!--table\r\n"
        "\t{mso-displayed-decimal-separator:\"\\";
    text += decimal;
    text += "\";\r\n\tmso-displayed-thousand-separator:\"\\";
    text += thousands;
    text +=
        "\";}\r\n"
        "@page\r\n"
        "\t{margin:1.0in .75in 1.0in .75in;\r\n"
        "\tmso-header-margin:.5in;\r\n"
        "\tmso-footer-margin:.5in;}\r\n"
        "-->\r\n"
        "</style>\r\n"
        "<!--[if gte mso 9]><xml>\r\n"
        " <x:WorksheetOptions>\r\n"
        "  <x:Panes>\r\n"
        "   <x:Pane>\r\n"
        "    <x:Number>3</x:Number>\r\n"
        "    <x:ActiveRow>0</x:ActiveRow>\r\n"
        "    <x:ActiveCol>0</x:ActiveCol>\r\n"
        "   </x:Pane>\r\n"
        "  </x:Panes>\r\n";
    for (const char* element : {"ProtectContents", "ProtectObjects", "ProtectScenarios"}) {
        text += std::string("  <x:") + element + ">" + locked + "</x:" + element + ">\r\n";
    }
    text +=
        " </x:WorksheetOptions>\r\n"
        "</xml><![endif]-->\r\n"
        "</head>\r\n"
        "<body link=blue vlink=purple>\r\n";
    return text;
}

void WorkbookArchive::WriteQuotedPrintable(const Sink& sink, QuotedPrintableEncoder& body,
                                           std::string_view bytes, const char* location,
                                           std::string_view charset) {
    if (location != nullptr) {
        writePartHeader(sink, location, "quoted-printable",
                        "text/html; charset=\"" + std::string(charset) + "\"");
    }
    body.Append(bytes);
}

void WorkbookArchive::WriteQuotedPrintableText(const Sink& sink, QuotedPrintableEncoder& body,
                                               const std::string& text, const char* location,
                                               std::string_view charset) {
    WriteQuotedPrintable(sink, body, text, location, charset);
}

void WorkbookArchive::WriteSheetHead(const Sink& sink, QuotedPrintableEncoder& body,
                                     bool protect) const {
    WriteQuotedPrintableText(sink, body, BuildSheetHead(protect), nullptr, kCharset);
}

void WorkbookArchive::WriteSheetEnd(const Sink& sink, QuotedPrintableEncoder& body) {
    WriteQuotedPrintableText(sink, body, "\r\n</body>\r\n</html>\r\n\r\n", nullptr, kCharset);
}

void WorkbookArchive::WriteBase64PartHeader(const Sink& sink, std::string_view location) {
    // The extension after the name's last dot, so that ".jpeg" is known as well as ".jpg".
    const std::size_t slash = location.find_last_of('/');
    const std::size_t dot = location.find_last_of('.');
    const std::string_view extension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash)
            ? location.substr(dot + 1)
            : std::string_view();
    std::string_view type = ContentTypeFromExtension(extension);
    if (type.empty()) {
        type = "application/octet-stream";
    }
    writePartHeader(sink, location, "base64", type);
}

void WorkbookArchive::WriteWorkbook(const Sink& sink, bool protect) {
    // A workbook needs a sheet even when no page reached one.
    if (m_sheets.empty()) {
        m_sheets.emplace_back();
    }
    WriteArchiveHeader(sink);
    QuotedPrintableEncoder frameset(sink);
    WriteQuotedPrintableText(sink, frameset, BuildFrameset(), "tabulan-xls.htm", kCharset);
    frameset.Finish();
    if (!m_styles.empty()) {
        QuotedPrintableEncoder styles(sink);
        WriteQuotedPrintableText(sink, styles, BuildStyleSheet(), "stylesheet.css", kCharset);
        styles.Finish();
    }
    for (std::size_t i = 0; i < m_sheets.size(); ++i) {
        Sheet& sheet = m_sheets[i];
        const std::string location = sheetLocation(static_cast<std::int32_t>(i + 1));
        QuotedPrintableEncoder body(sink);
        WriteQuotedPrintable(sink, body, {}, location.c_str(), kCharset);
        WriteSheetHead(sink, body, protect);
        const auto block = [&](std::string_view bytes) {
            WriteQuotedPrintable(sink, body, bytes, nullptr, kCharset);
        };
        m_spill.ReadBack(sheet.spilled, kSheetBlock, block);
        for (std::size_t at = 0; at < sheet.text.size(); at += kSheetBlock) {
            block(std::string_view(sheet.text).substr(at, kSheetBlock));
        }
        sheet = Sheet{};
        WriteSheetEnd(sink, body);
        body.Finish();
    }
    m_sheets.clear();
    m_sheetRows = 0;
    for (const auto& [location, path] : m_images) {
        WriteFilePart(sink, location, path);
    }
    std::string end = "--";
    end += kBoundary;
    end += "--";
    sink(end);
}

void WorkbookArchive::WriteFilePart(const Sink& sink, const std::string& location,
                                    const std::string& path) {
    ReadOnlyFile file;
    std::string problem;
    if (!file.openRegular(path, problem)) {
        return;
    }
    WriteBase64PartHeader(sink, location);
    CBase64 base64;
    std::array<char, kImageBlock> block{};
    for (std::int64_t offset = 0;;) {
        const std::int64_t got = file.readAt(offset, block.data(), block.size());
        if (got < 0) {
            throw std::runtime_error("the image " + path +
                                     " cannot be read: " + systemErrorText(file.errorNumber()));
        }
        if (got > 0) {
            sink(base64.EncodeWrapped(block.data(), static_cast<std::size_t>(got)));
        }
        if (got < static_cast<std::int64_t>(block.size())) {
            break;
        }
        offset += got;
    }
    sink("\r\n");
}

}  // namespace paginor
