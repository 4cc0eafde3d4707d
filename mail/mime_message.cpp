#include "mail/mime_message.h"

#include <algorithm>
#include <cstring>

#include "mail/base64.h"
#include "mail/quoted_printable.h"
#include "platform/file.h"
#include "platform/file_system.h"

namespace paginor {
namespace {

constexpr std::string_view kWhiteSpace = " \t\r\n\v\f";

char foldAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
constexpr std::size_t kAttachmentBlock = 54;
// Several blocks per read keep system calls few for large files.
constexpr std::size_t kAttachmentReadBytes = kAttachmentBlock * 1024;

std::string_view trimmed(std::string_view text, std::string_view what) {
    std::size_t first = text.find_first_not_of(what);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(what) - first + 1);
}

// A header value on one line: each run of CR, LF and NUL becomes one blank, so that user text
// cannot start a header line of its own.
std::string oneLine(std::string_view text) {
    std::string line;
    line.reserve(text.size());
    bool inBreak = false;
    for (char c : text) {
        bool isBreak = c == '\r' || c == '\n' || c == '\0';
        if (!isBreak) {
            line += c;
        } else if (!inBreak) {
            line += ' ';
        }
        inBreak = isBreak;
    }
    return line;
}

std::string crlfLines(std::string_view text) {
    std::string lines;
    lines.reserve(text.size() + text.size() / 32);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            lines += "\r\n";
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
        } else {
            lines += text[i];
        }
    }
    return lines;
}

bool isTokenChar(unsigned char c) {
    return c > 0x20 && c < 0x7F && std::strchr("()<>@,;:\\\"/[]?=", c) == nullptr;
}

// A parameter value as RFC 2045 allows it: a token as it is, else a quoted string (controls
// become '_', so that a file name cannot break the header).
std::string parameterValue(std::string_view value) {
    bool token = !value.empty();
    for (char c : value) {
        token = token && isTokenChar(static_cast<unsigned char>(c));
    }
    if (token) {
        return std::string(value);
    }
    std::string quoted = "\"";
    for (char c : value) {
        unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
        }
        quoted += u < 0x20 || u == 0x7F ? '_' : c;
    }
    return quoted + "\"";
}

bool isAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool isContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// 39 bytes make 52 base64 characters: an encoded word of 64, a header line of at most 73.
constexpr std::size_t kEncodedWordBytes = 39;

// RFC 2047 encoded words (UTF-8, B encoding) on folded lines; no word splits a character.
std::string encodedWords(std::string_view text) {
    CBase64 codec;
    std::string words;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = std::min(text.size(), start + kEncodedWordBytes);
        while (end < text.size() && end > start + 1 && isContinuationByte(text[end])) {
            --end;
        }
        if (!words.empty()) {
            words += "\r\n ";
        }
        words += "=?UTF-8?B?" + codec.Encode(text.substr(start, end - start)) + "?=";
        start = end;
    }
    return words;
}

// A header text as typed when it is ASCII; else encoded words, which mail readers decode.
std::string headerText(std::string_view text) {
    return isAscii(text) ? std::string(text) : encodedWords(text);
}

// A recipient's name before its address: an encoded name needs a blank before the '<'.
std::string displayName(std::string_view name) {
    const std::string line = oneLine(name);
    if (isAscii(line)) {
        return line;
    }
    const std::string_view bare = trimmed(line, " \t");
    return bare.empty() ? std::string() : encodedWords(bare) + " ";
}

constexpr std::size_t kParameterSectionChars = 60;

// A parameter whose value is not ASCII, in the RFC 2231 form attribute*=UTF-8''%XX..., cut into
// numbered sections on lines of their own when long; no section splits a %XX triplet.
std::string extendedParameter(std::string_view attribute, std::string_view value) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::vector<std::string> items;
    for (char c : value) {
        const auto u = static_cast<unsigned char>(c);
        if (isTokenChar(u) && c != '*' && c != '\'' && c != '%') {
            items.emplace_back(1, c);
        } else {
            items.push_back({'%', kHex[u >> 4], kHex[u & 0xF]});
        }
    }
    std::vector<std::string> sections(1, "UTF-8''");
    for (const std::string& item : items) {
        if (sections.back().size() + item.size() > kParameterSectionChars) {
            sections.emplace_back();
        }
        sections.back() += item;
    }
    if (sections.size() == 1) {
        return " " + std::string(attribute) + "*=" + sections.front();
    }
    std::string parameter;
    for (std::size_t i = 0; i < sections.size(); ++i) {
        parameter += (i == 0 ? "\r\n " : ";\r\n ") + std::string(attribute) + "*" +
                     std::to_string(i) + "*=" + sections[i];
    }
    return parameter;
}

// "; attribute=value": a token or quoted string for ASCII, the RFC 2231 form otherwise.
std::string fileParameter(std::string_view attribute, std::string_view value) {
    return ";" + (isAscii(value) ? " " + std::string(attribute) + "=" + parameterValue(value)
                                 : extendedParameter(attribute, value));
}

bool endsWithCrlf(const std::string& text) {
    return text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0;
}

}  // namespace

bool CMailMessage::AddRecipient(std::string_view address, std::string_view name, int kind) {
    if (kind >= To && kind <= Bcc) {
        m_recipients[kind].push_back({std::string(address), std::string(name)});
    }
    return true;
}

bool CMailMessage::AddRecipientList(std::string_view text, int kind, std::string* badEntry) {
    std::size_t start = 0;
    for (;;) {
        std::size_t end = text.find(';', start);
        std::string_view entry = text.substr(
            start, end == std::string_view::npos ? std::string_view::npos : end - start);
        std::string_view name;
        std::string_view address = entry;
        std::size_t open = entry.find('<');
        if (open != std::string_view::npos) {
            std::size_t close = entry.find('>');
            if (close == std::string_view::npos || close < open) {
                if (badEntry != nullptr) {
                    *badEntry = std::string(entry);
                }
                return false;
            }
            name = entry.substr(0, open);
            address = entry.substr(open + 1, close - open - 1);
        }
        // Blanks typed around an address would reach the envelope as "< a@b>", and an empty
        // entry (a trailing ';') as "<>": servers refuse both.
        address = trimmed(address, " \t");
        if (!address.empty()) {
            AddRecipient(address, name, kind);
        }
        if (end == std::string_view::npos) {
            return true;
        }
        start = end + 1;
    }
}

int CMailMessage::GetRecipientCount(int kind) const {
    return kind >= To && kind <= Bcc ? static_cast<int>(m_recipients[kind].size()) : 0;
}

bool CMailMessage::GetRecipient(std::string& address, std::string& name, int index,
                                int kind) const {
    address.clear();
    name.clear();
    if (index < 0 || index >= GetRecipientCount(kind)) {
        return false;
    }
    const CRecipient& recipient = m_recipients[kind][static_cast<std::size_t>(index)];
    address = recipient.address;
    name = recipient.name;
    return true;
}

bool CMailMessage::Compose(std::string& error) {
    ClearHeader();
    ComposeHeader();
    EndHeader();
    return FinishBody(error);
}

void CMailMessage::AddHeaderLine(std::string_view line) {
    m_header += line;
    m_header += "\r\n";
}

void CMailMessage::appendRecipientsField(std::string_view field, int kind) {
    std::string line(field);
    for (const CRecipient& recipient : m_recipients[kind]) {
        if (&recipient != &m_recipients[kind].front()) {
            line += ',';
        }
        line += displayName(recipient.name) + "<" + oneLine(recipient.address) + ">";
    }
    AddHeaderLine(line);
}

void CMailMessage::ComposeHeader() {
    AddHeaderLine("From: " + oneLine(m_from));
    appendRecipientsField("To: ", To);
    appendRecipientsField("Cc: ", Cc);
    AddHeaderLine("Date: " + formatMailDate(m_clock.localNow()));
    AddHeaderLine("Subject: " + headerText(oneLine(m_subject)));
    AddHeaderLine("X-Mailer: " + m_mailer);
}

void CMailMessage::endBodyLine() {
    if (!endsWithCrlf(m_body)) {
        m_body += "\r\n";
    }
}

bool CMailMessage::FinishBody(std::string&) {
    endBodyLine();
    return true;
}

std::string CTextPlain::WrapText(std::string_view text) const {
    const std::size_t limit = m_lineLength > 0 ? static_cast<std::size_t>(m_lineLength) : 1;
    std::string lines = crlfLines(text);
    std::string wrapped;
    wrapped.reserve(lines.size() + lines.size() / limit * 2);
    std::size_t start = 0;
    while (start <= lines.size()) {
        std::size_t end = lines.find("\r\n", start);
        std::string_view line(lines.data() + start,
                              (end == std::string::npos ? lines.size() : end) - start);
        while (line.size() > limit) {
            std::size_t blank = line.rfind(' ', limit);
            if (blank == std::string_view::npos || trimmed(line.substr(0, blank), " \t").empty()) {
                blank = line.find(' ', limit + 1);
            }
            if (blank == std::string_view::npos) {
                break;
            }
            std::string_view head = line.substr(0, blank);
            wrapped += head.substr(0, head.find_last_not_of(" \t") + 1);
            wrapped += "\r\n";
            line = line.substr(blank);
            std::size_t next = line.find_first_not_of(" \t");
            line = next == std::string_view::npos ? std::string_view() : line.substr(next);
        }
        wrapped += line;
        if (end == std::string::npos) {
            break;
        }
        wrapped += "\r\n";
        start = end + 2;
    }
    return wrapped;
}

// ASCII text goes as it is; other text is UTF-8, named so and kept to 7 bits by RFC 2045's
// quoted-printable encoding.
std::string CTextPlain::BuildPartHeader(const std::string& content, const std::string& parameters,
                                        int, bool) const {
    if (!isAscii(content)) {
        return "Content-Type: " + GetContentTypeName() + oneLine(parameters) +
               "; charset=UTF-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n";
    }
    return "Content-Type: " + GetContentTypeName() + oneLine(parameters) +
           "\r\nContent-Transfer-Encoding: 7Bit\r\n\r\n";
}

bool CTextPlain::AppendPart(const std::string& content, const std::string& parameters, int encoding,
                            bool contentIsPath, std::string& body, std::string&) {
    body += BuildPartHeader(content, parameters, encoding, contentIsPath);
    if (isAscii(content)) {
        body += WrapText(content);
        return true;
    }
    QuotedPrintableEncoder encoder([&body](std::string_view encoded) { body += encoded; });
    encoder.Append(WrapText(content));
    encoder.Finish();
    return true;
}

std::string CAppOctetStream::BuildPartHeader(const std::string& content, const std::string&, int,
                                             bool) const {
    std::size_t slash = content.rfind('/');
    const std::string_view name =
        std::string_view(content).substr(slash == std::string::npos ? 0 : slash + 1);
    return "Content-Type: " + GetContentTypeName() + fileParameter("file", name) +
           "\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment" +
           fileParameter("filename", name) + "\r\n\r\n";
}

bool CAppOctetStream::AppendFileBase64(const std::string& path, std::string& body,
                                       std::string& error) const {
    // Only a regular file is opened, and its open never waits: a pipe would hold it for ever.
    ReadOnlyFile file;
    std::string opening;
    if (!file.openRegular(path, opening)) {
        const bool other = PathExists(path) && RegularFileSize(path) < 0;
        error = "Unable to read the attachment " + path + ": " +
                (other ? "not a regular file" : std::strerror(file.errorNumber()));
        return false;
    }
    CBase64 codec;
    std::string pending;
    std::string buffer(kAttachmentReadBytes, '\0');
    for (std::int64_t offset = 0;;) {
        const std::int64_t got =
            file.readAt(offset, buffer.data(), static_cast<std::int64_t>(buffer.size()));
        if (got < 0) {
            error =
                "Unable to read the attachment " + path + ": " + std::strerror(file.errorNumber());
            return false;
        }
        offset += got;
        pending.append(buffer.data(), static_cast<std::size_t>(got));
        std::size_t used = 0;
        for (; pending.size() - used >= kAttachmentBlock; used += kAttachmentBlock) {
            body += codec.Encode(pending.data() + used, kAttachmentBlock);
            body += "\r\n";
        }
        pending.erase(0, used);
        if (got == 0) {
            break;
        }
    }
    body += codec.Encode(pending);
    body += "\r\n\r\n";
    return true;
}

bool CAppOctetStream::AppendPart(const std::string& content, const std::string& parameters,
                                 int encoding, bool contentIsPath, std::string& body,
                                 std::string& error) {
    if (content.empty()) {
        error = "Unable to read the attachment: no file given";
        return false;
    }
    std::string part = BuildPartHeader(content, parameters, encoding, contentIsPath);
    if (!AppendFileBase64(content, part, error)) {
        return false;
    }
    body += part;
    return true;
}

void CMIMEMessage::CMIMETypeManager::AddAgent(std::unique_ptr<CMIMEContentAgent> agent) {
    if (agent != nullptr) {
        std::lock_guard lock(m_mutex);
        m_agents.push_back(std::move(agent));
    }
}

CMIMEContentAgent* CMIMEMessage::CMIMETypeManager::FindAgent(int contentTypeId) const {
    std::lock_guard lock(m_mutex);
    for (const auto& agent : m_agents) {
        if (agent->HandlesType(contentTypeId)) {
            return agent.get();
        }
    }
    return m_agents.empty() ? nullptr : m_agents.back().get();
}

CMIMEMessage::CMIMETypeManager& CMIMEMessage::typeManager() {
    static CMIMETypeManager manager;
    return manager;
}

CMIMEMessage::CMIMEMessage(const Clock& clock) : CMailMessage(clock) {
    // Lookups always found the first pair, so one pair for the process renders the same.
    static std::once_flag registered;
    std::call_once(registered, [this] {
        typeManager().AddAgent(std::make_unique<CTextPlain>(TextPlain, m_lineLength));
        typeManager().AddAgent(std::make_unique<CAppOctetStream>(AppOctetStream));
    });
}

bool CMIMEMessage::AddPart(std::string_view content, int contentTypeId, std::string_view parameters,
                           int encoding, bool contentIsPath) {
    CMIMEPart part{encoding, contentTypeId, std::string(parameters), contentIsPath,
                   std::string(contentIsPath ? content : trimmed(content, kWhiteSpace))};
    if (contentTypeId == TextPlain) {
        m_parts.push_front(std::move(part));
    } else {
        m_parts.push_back(std::move(part));
    }
    return true;
}

void CMIMEMessage::ChooseBoundary() {
    // Attachments are base64 and never hold the '_' of a boundary; the texts may.
    auto heldByText = [this](const std::string& candidate) {
        auto holds = [&candidate](const std::string& text) {
            return std::search(text.begin(), text.end(), candidate.begin(), candidate.end(),
                               [](char a, char b) { return foldAscii(a) == foldAscii(b); }) !=
                   text.end();
        };
        if (holds(m_body)) {
            return true;
        }
        for (const CMIMEPart& part : m_parts) {
            if (holds(part.parameters) ||
                (part.contentTypeId == TextPlain && holds(part.content))) {
                return true;
            }
        }
        return false;
    };
    m_boundary = std::string(kBoundary);
    for (unsigned n = 1; heldByText(m_boundary); ++n) {
        m_boundary = std::string(kBoundary) + "_" + std::to_string(n);
    }
}

void CMIMEMessage::ComposeHeader() {
    ChooseBoundary();
    CMailMessage::ComposeHeader();
    AddHeaderLine("MIME-Version: 1.0");
    AddHeaderLine("Content-Type: " + m_contentType + "; boundary=" + m_boundary);
}

void CMIMEMessage::AppendBoundary() {
    endBodyLine();
    m_body += "--";
    m_body += m_boundary;
    m_body += "\r\n";
}

void CMIMEMessage::AppendClosingBoundary() {
    endBodyLine();
    m_body += "--";
    m_body += m_boundary;
    m_body += "--\r\n";
}

bool CMIMEMessage::RenderParts(std::string& error) {
    for (const CMIMEPart& part : m_parts) {
        CMIMEContentAgent* agent = typeManager().FindAgent(part.contentTypeId);
        if (agent == nullptr) {
            continue;
        }
        AppendBoundary();
        if (!agent->AppendPart(part.content, part.parameters, part.encoding, part.contentIsPath,
                               m_body, error)) {
            return false;
        }
    }
    return true;
}

bool CMIMEMessage::FinishBody(std::string& error) {
    if (!m_body.empty()) {
        AddPart(m_body, TextPlain, "", 0, false);
    }
    m_body = m_preamble + "\r\n\r\n";
    if (!RenderParts(error)) {
        return false;
    }
    AppendClosingBoundary();
    return CMailMessage::FinishBody(error);
}

}  // namespace paginor
