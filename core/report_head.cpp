#include <cstdio>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>

#include "core/charset_table.h"
#include "core/download.h"
#include "core/report_core.h"
#include "core/text_scan.h"
#include "platform/file.h"
#include "platform/file_system.h"

namespace paginor {

namespace {

constexpr std::int64_t kMaxStyleSheetBytes = 64 * 1024 * 1024;
constexpr std::size_t kMaxCharsetLabel = 30;
// A recorded style block: "<style>#", a name, '{' within 20 bytes, "</style>" within 512 more.
constexpr std::int64_t kStyleBlockReach = 8 + 20 + 512 + 8;

bool isWebAddress(std::string_view text) {
    return StartsWithNoCase(std::string(text.substr(0, 8)).c_str(), "http://") ||
           StartsWithNoCase(std::string(text.substr(0, 8)).c_str(), "https://");
}

// Calls visit(nameEnd, tagEnd) for every tag with one of the names (followed by a blank);
// tagEnd is the tag's '>'. visit returns true to end the walk.
template <typename Visit>
void walkTags(const char* text, std::int64_t length, std::initializer_list<const char*> names,
              Visit visit) {
    if (length <= 0) {
        return;
    }
    const char* last = text + length - 1;
    for (const char* p = FindCharInRange(text, '<', last); p != nullptr;) {
        const char* close = FindCharInRange(p, '>', last);
        if (close == nullptr) {
            return;
        }
        for (const char* name : names) {
            const int nameLength = static_cast<int>(std::strlen(name));
            const char* afterName = p + 1 + nameLength;
            if (afterName < close && EqualNoCaseN(p + 1, nameLength, name, nameLength) &&
                IsBlank(*afterName)) {
                if (visit(afterName, close)) {
                    return;
                }
                break;
            }
        }
        p = close < last ? FindCharInRange(close + 1, '<', last) : nullptr;
    }
}

// The value of the attribute whose name (with its '=') was found at attribute, inside a tag
// that ends at tagEnd.
std::string_view attributeValue(const char* attribute, std::size_t nameLength, const char* tagEnd,
                                bool quotedMayHoldSpaces) {
    const char* p = attribute + nameLength;
    while (p < tagEnd && IsBlank(*p)) {
        ++p;
    }
    bool quoted = false;
    if (p < tagEnd && *p == '"') {
        quoted = true;
        ++p;
        while (p < tagEnd && IsBlank(*p)) {
            ++p;
        }
    }
    const char* end = p;
    while (end < tagEnd && *end != '"' && *end != '\r' && *end != '\n' &&
           (*end != ' ' || (quoted && quotedMayHoldSpaces))) {
        ++end;
    }
    return {p, static_cast<std::size_t>(end - p)};
}

// Cuts a path or address just behind its last separator.
std::string folderOf(std::string path) {
    if (!path.empty() && path.back() == '/') {
        return path;
    }
    std::size_t cut = path.find_last_of("/\\");
    if (isWebAddress(path)) {
        std::size_t hostStart = path.find("//") + 2;
        if (cut == std::string::npos || cut < hostStart) {
            return path + "/";
        }
    }
    return cut == std::string::npos ? path : path.substr(0, cut + 1);
}

std::string fileUrl(const std::string& path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (unsigned char c : path) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
            url += static_cast<char>(c);
        } else {
            url += '%';
            url += kHex[c >> 4];
            url += kHex[c & 15];
        }
    }
    return url;
}

std::string absolutePath(const std::string& path) {
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

}  // namespace

bool CReportCore::HasForm(const char* text, std::int64_t length) {
    if (length <= 0) {
        return false;
    }
    const char* last = text + length - 1;
    const char* form = FindNoCaseInRange(text, last, "<form ");
    if (form == nullptr) {
        return false;
    }
    const char* formEnd = FindNoCaseInRange(form, last, "</form>");
    return formEnd != nullptr && FindNoCaseInRange(form, formEnd, "<input ") != nullptr;
}

void CReportCore::ParseBaseHref(const char* text, std::int64_t length) {
    walkTags(text, length, {"base"}, [&](const char* nameEnd, const char* tagEnd) {
        const char* href = FindDelimitedKeyword(nameEnd, tagEnd - 1, "href=");
        if (href == nullptr) {
            return false;
        }
        std::string_view value = attributeValue(href, 5, tagEnd, true);
        if (value.size() >= 3) {
            m_baseFolder = std::string(value);
            m_ownBaseTag = true;
            m_baseFromOwnTag = true;
            m_fromWebAddress = isWebAddress(m_baseFolder);
        }
        return true;
    });
    if (!m_baseFolder.empty()) {
        m_baseFolder = folderOf(m_baseFolder);
    }
}

void CReportCore::ParseMetaCharset(const char* text, std::int64_t length) {
    walkTags(text, length, {"meta"}, [&](const char* nameEnd, const char* tagEnd) {
        const char* content = FindDelimitedKeyword(nameEnd, tagEnd - 1, "content=");
        if (content == nullptr) {
            return false;
        }
        const char* charset = FindDelimitedKeyword(content, tagEnd - 1, "charset=");
        if (charset == nullptr) {
            return false;
        }
        const char* p = charset + 8;
        while (p < tagEnd && IsBlank(*p)) {
            ++p;
        }
        const char* end = p;
        while (end < tagEnd && !IsBlank(*end) && *end != '"') {
            ++end;
        }
        std::string_view label(p, static_cast<std::size_t>(end - p));
        if (label.size() <= kMaxCharsetLabel) {
            m_codePage = GetCodePageFromCharset(label);
        }
        return true;
    });
}

void CReportCore::ParseDirection(const char* text, std::int64_t length) {
    auto visit = [&](const char* nameEnd, const char* tagEnd) {
        const char* dir = FindDelimitedKeyword(nameEnd, tagEnd - 1, "dir=");
        if (dir == nullptr) {
            return false;
        }
        const char* value = dir + 4;
        if (value < tagEnd && *value == '"') {
            ++value;
        }
        if (tagEnd - value < 4 || (!IsBlank(value[3]) && value[3] != '"')) {
            return false;
        }
        if (EqualNoCaseN(value, 3, "ltr", 3)) {
            m_textDirection = TextDirection::LeftToRight;
            return true;
        }
        if (EqualNoCaseN(value, 3, "rtl", 3)) {
            m_textDirection = TextDirection::RightToLeft;
            return true;
        }
        return false;
    };
    walkTags(text, length, {"body", "html"}, visit);
}

bool CReportCore::SetBaseFolder(const std::string& path, bool force) {
    if (!force && !m_baseFolder.empty()) {
        return true;
    }
    m_baseFolder = folderOf(isWebAddress(path) ? path : absolutePath(path));
    m_fromWebAddress = isWebAddress(m_baseFolder);
    return true;
}

void CReportCore::AddBodyNowrap(std::string& head) {
    if (head.empty()) {
        return;
    }
    const char* text = head.c_str();
    const char* last = text + head.size() - 1;
    const char* body = FindNoCaseInRange(text, last, "<body");
    if (body == nullptr || body + 5 > last) {
        return;
    }
    const char* close = FindCharInRange(body + 5, '>', last);
    if (close == nullptr || close == body + 5) {
        return;
    }
    if (FindDelimitedKeyword(body + 5, close - 1, "nowrap") != nullptr) {
        return;
    }
    head.insert(static_cast<std::size_t>(close - text), " nowrap");
}

void CReportCore::assembleHead(const std::string& prologue, const char* baseHref) {
    if (m_ownBaseTag) {
        m_head = prologue;
        return;
    }
    const char* text = prologue.c_str();
    const char* last = prologue.empty() ? nullptr : text + prologue.size() - 1;
    const char* head = last != nullptr ? FindNoCaseInRange(text, last, "<head>") : nullptr;
    std::size_t restFrom = 0;
    m_head.clear();
    if (head != nullptr) {
        restFrom = static_cast<std::size_t>(head - text) + 6;
        m_head.assign(text, restFrom);
    } else {
        const char* html = last != nullptr ? FindNoCaseInRange(text, last, "<html>") : nullptr;
        if (html != nullptr) {
            restFrom = static_cast<std::size_t>(html - text) + 6;
            m_head.assign(text, restFrom);
        }
        m_head += "\n<head>";
    }
    std::string base;
    if (baseHref != nullptr) {
        for (const char* p = baseHref; *p != '\0'; ++p) {
            base += *p == '"' ? std::string("%22") : std::string(1, *p);
        }
    } else {
        base = fileUrl(absolutePath(m_reportPath));
    }
    m_head += "\n<base href=\"" + base + "\"> ";
    if (head == nullptr) {
        m_head += "\n</head>";
    }
    m_head.append(prologue, restFrom, std::string::npos);
    if (m_format == ReportFormat::HtmlCss) {
        AddBodyNowrap(m_head);
    }
}

bool CReportCore::InlineLinkedStyleSheet(std::string& head, std::string* styleSheetPath) {
    if (head.empty()) {
        return false;
    }
    const char* text = head.c_str();
    const char* last = text + head.size() - 1;
    const char* link = FindDelimitedKeyword(text, last, "<link ");
    if (link == nullptr) {
        return false;
    }
    const char* close = FindCharInRange(link, '>', last);
    if (close == nullptr) {
        return false;
    }
    const char* inner = close - 1;
    auto holds = [&](const char* a, const char* b) {
        return FindNoCaseInRange(link, inner, a) != nullptr ||
               FindNoCaseInRange(link, inner, b) != nullptr;
    };
    const char* href = FindNoCaseInRange(link, inner, "href=");
    if (!holds("rel=\"stylesheet\"", "rel=stylesheet") ||
        !holds("type=\"text/css\"", "type=text/css") || href == nullptr) {
        return false;
    }
    std::string address;
    const char* value = href + 5;
    if (value < close && *value == '"') {
        const char* quote = FindCharInRange(value + 1, '"', inner);
        if (quote == nullptr) {
            return false;
        }
        address.assign(value + 1, quote);
    } else {
        if (value < close && *value == '\'') {
            ++value;
        }
        const char* css = FindNoCaseInRange(value, inner, ".css");
        if (css == nullptr) {
            return false;
        }
        address.assign(value, css + 4);
    }
    if (address.empty() || m_baseFolder.empty()) {
        return false;
    }
    std::string full = isWebAddress(address) ? address : m_baseFolder + address;

    std::string localPath = full;
    bool downloaded = false;
    if (isWebAddress(full)) {
        std::string result;
        if (!fetchLinkedFile(result, full, true)) {
            if (result.find("&useie=no") == std::string::npos) {
                raiseText("Failed to get CSS." + result);
            }
            if (!fetchLinkedFile(result, full, false)) {
                raiseText("Failed to get CSS#2." + result);
            }
        }
        localPath = result;
        downloaded = true;
    }

    ReadOnlyFile file;
    std::string error;
    if (!file.open(localPath, error)) {
        SetExceptionText(error, "GSMV3Op");
        raise(-1);
    }
    if (file.size() > kMaxStyleSheetBytes) {
        raiseText("Failed to get CSS. The file is too huge!");
    }
    std::string sheet(static_cast<std::size_t>(file.size()), '\0');
    std::int64_t got = file.readAt(0, sheet.data(), file.size());
    if (got < 0) {
        SetSystemErrorText("GSMV3Rd", file.errorNumber());
        raise(-1);
    }
    sheet.resize(static_cast<std::size_t>(got));
    file.close();

    if (m_embedLinked) {
        head += "<style type=\"text/css\">\r\n";
        head += sheet;
        head += "</style>\r\n";
    }
    // One line per rule: line breaks inside braces join the rule's body.
    std::string line;
    int depth = 0;
    auto flush = [&]() {
        std::size_t first = line.find_first_not_of(' ');
        if (first != std::string::npos && line[first] == '.') {
            head += "<style>#";
            head.append(line, first + 1, std::string::npos);
            head += "</style>\r\n";
        }
        line.clear();
    };
    for (char c : sheet) {
        if (c == '{') {
            ++depth;
        } else if (c == '}' && depth > 0) {
            --depth;
        }
        if (c == '\r' || c == '\n') {
            if (depth > 0) {
                line += ' ';
            } else {
                flush();
            }
        } else {
            line += c;
        }
    }
    flush();

    if (downloaded) {
        if (styleSheetPath != nullptr) {
            *styleSheetPath = localPath;
        } else {
            RemoveFile(localPath);
        }
    }
    return true;
}

std::int32_t CReportCore::AppendStyleBlocks(std::string& destination) {
    for (std::int64_t offset : m_styleBlocks) {
        std::int64_t available = 0;
        const char* p = windowAt(offset, available);
        const std::int64_t reach = std::min(available, kStyleBlockReach);
        if (reach < 8) {
            continue;
        }
        const char* end = FindNoCaseInRange(p, p + reach - 1, "</style>");
        if (end != nullptr) {
            destination.append(p, end + 8);
            destination += "\r\n";
        }
    }
    return 0;
}

void CReportCore::LocalizeImageLinks() {
    if (!m_fromWebAddress || m_tagUsed <= 0) {
        return;
    }
    const std::size_t hostEnd = m_baseFolder.find('/', 8);
    const std::string siteRoot =
        hostEnd == std::string::npos ? m_baseFolder : m_baseFolder.substr(0, hostEnd);

    std::int64_t at = 0;
    while (at < m_tagUsed) {
        char* buffer = m_tagBuffer.data();
        char* last = buffer + m_tagUsed - 1;
        const char* open = FindCharInRange(buffer + at, '<', last);
        if (open == nullptr) {
            return;
        }
        const char* close = FindCharInRange(open, '>', last);
        if (close == nullptr) {
            return;
        }
        at = close - buffer + 1;
        if (close - open < 5 || !EqualNoCaseN(open + 1, 3, "img", 3) || !IsBlank(open[4])) {
            continue;
        }
        const char* src = FindDelimitedKeyword(open + 4, close - 1, "src=");
        if (src == nullptr) {
            continue;
        }
        std::string_view value = attributeValue(src, 4, close, false);
        if (value.empty()) {
            continue;
        }
        std::string full;
        if (isWebAddress(value)) {
            full = std::string(value);
        } else if (value.front() == '/') {
            full = siteRoot + std::string(value);
        } else {
            full = m_baseFolder + std::string(value);
        }
        if (full.size() < siteRoot.size() ||
            !EqualNoCaseN(full.data(), static_cast<int>(siteRoot.size()), siteRoot.data(),
                          static_cast<int>(siteRoot.size()))) {
            continue;
        }
        auto known = m_linkedFiles.find(full);
        if (known == m_linkedFiles.end()) {
            std::string result;
            if (!fetchLinkedFile(result, full, true)) {
                result.clear();
            }
            known = m_linkedFiles.emplace(full, result).first;
        }
        if (known->second.empty()) {
            continue;
        }
        // The replaced span is the value with its quotes, when it had them.
        const char* opening = src + 4;
        while (opening < close && IsBlank(*opening)) {
            ++opening;
        }
        const bool quoted = *opening == '"';
        std::int64_t spanStart = (quoted ? opening : value.data()) - buffer;
        std::int64_t spanEnd = value.data() + value.size() - buffer;
        if (quoted && buffer[spanEnd] == '"') {
            ++spanEnd;
        }
        const std::string replacement = "\"" + fileUrl(known->second) + "\"";
        const std::int64_t span = spanEnd - spanStart;
        const std::int64_t growth = static_cast<std::int64_t>(replacement.size()) - span;
        if (growth > 0) {
            const std::int64_t needed = m_tagUsed + growth + 1;
            if (static_cast<std::int64_t>(m_tagBuffer.size()) < needed) {
                m_tagBuffer.resize(
                    static_cast<std::size_t>((needed / kTagBufferStep + 1) * kTagBufferStep), '\0');
            }
            buffer = m_tagBuffer.data();
            std::memmove(buffer + spanEnd + growth, buffer + spanEnd,
                         static_cast<std::size_t>(m_tagUsed - spanEnd + 1));
            m_tagUsed += growth;
        }
        std::memcpy(buffer + spanStart, replacement.data(), replacement.size());
        for (std::int64_t i = spanStart + static_cast<std::int64_t>(replacement.size());
             i < spanEnd; ++i) {
            buffer[i] = ' ';
        }
        at = (close - m_tagBuffer.data()) + (growth > 0 ? growth : 0) + 1;
    }
}

bool CReportCore::fetchLinkedFile(std::string& result, const std::string& url,
                                  bool useBrowserStack) {
    DownloadOptions options;
    options.cancel = m_cancel;
    return GetFileFromInternet(result, url, {}, useBrowserStack, options);
}

void CReportCore::FetchLinkedFile(const char* link, std::int64_t linkLength, std::string& output) {
    output.clear();
    const std::string full = m_baseFolder + std::string(link, static_cast<std::size_t>(linkLength));
    if (!m_fromWebAddress) {
        output = full;
        return;
    }
    auto known = m_linkedFiles.find(full);
    if (known != m_linkedFiles.end()) {
        output = known->second;
        return;
    }
    std::string result;
    if (!fetchLinkedFile(result, full, true)) {
        result.clear();
    }
    m_linkedFiles.emplace(full, result);
    output = result;
}

}  // namespace paginor
