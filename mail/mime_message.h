#pragma once

#include <ctime>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "mail/mail_clock.h"

namespace paginor {

enum RecipientKind { To = 0, Cc = 1, Bcc = 2 };
enum ContentTypeId { TextPlain = 0, AppOctetStream = 1 };

// A mail's header and plain body. Compose builds the text to send; every line ends "\r\n".
class CMailMessage {
public:
    struct CRecipient {
        std::string address;
        std::string name;
    };

    explicit CMailMessage(const Clock& clock = systemClock()) : m_clock(clock) {}
    virtual ~CMailMessage() = default;
    CMailMessage(const CMailMessage&) = delete;
    CMailMessage& operator=(const CMailMessage&) = delete;

    void setFrom(std::string from) { m_from = std::move(from); }
    const std::string& from() const { return m_from; }
    void setSubject(std::string subject) { m_subject = std::move(subject); }
    void setBody(std::string body) { m_body = std::move(body); }
    const std::string& header() const { return m_header; }
    const std::string& body() const { return m_body; }

    // Kinds outside RecipientKind add nothing.
    bool AddRecipient(std::string_view address, std::string_view name, int kind);
    // Entries split at ';': "name<address>" or a bare address. Blanks around an address are
    // dropped and entries without an address skipped. False, keeping the recipients added so far,
    // at an entry whose '<' has no '>' after it; badEntry then holds that entry.
    bool AddRecipientList(std::string_view text, int kind, std::string* badEntry = nullptr);
    int GetRecipientCount(int kind) const;
    bool GetRecipient(std::string& address, std::string& name, int index, int kind) const;
    void SetLineLength(int n) { m_lineLength = n; }
    int GetLineLength() const { return m_lineLength; }

    // False with error when a part cannot be rendered (an attachment that cannot be read); header
    // and body are then not fit to send.
    bool Compose(std::string& error);

protected:
    virtual void ComposeHeader();
    virtual bool FinishBody(std::string& error);
    virtual void EndHeader() { m_header += "\r\n"; }
    virtual void ClearHeader() { m_header.clear(); }
    virtual void AddHeaderLine(std::string_view line);

    void appendRecipientsField(std::string_view field, int kind);
    void endBodyLine();

    std::string m_from;
    std::string m_subject;
    std::string m_mailer = "Tabulan";
    std::string m_header;
    std::string m_body;
    int m_lineLength = 76;
    std::vector<CRecipient> m_recipients[3];
    const Clock& m_clock;
};

class CMIMEContentAgent {
public:
    explicit CMIMEContentAgent(int contentTypeId) : m_contentTypeId(contentTypeId) {}
    virtual ~CMIMEContentAgent() = default;
    // Appends one rendered part; false with error, appending nothing, when it cannot.
    virtual bool AppendPart(const std::string& content, const std::string& parameters, int encoding,
                            bool contentIsPath, std::string& body, std::string& error) = 0;
    virtual std::string GetContentTypeName() const = 0;
    // The part's header lines, ending with the empty line.
    virtual std::string BuildPartHeader(const std::string& content, const std::string& parameters,
                                        int encoding, bool contentIsPath) const = 0;
    bool HandlesType(int contentTypeId) const { return contentTypeId == m_contentTypeId; }

private:
    int m_contentTypeId;
};

class CTextPlain final : public CMIMEContentAgent {
public:
    CTextPlain(int contentTypeId, int lineLength)
        : CMIMEContentAgent(contentTypeId), m_lineLength(lineLength) {}
    bool AppendPart(const std::string& content, const std::string& parameters, int encoding,
                    bool contentIsPath, std::string& body, std::string& error) override;
    std::string GetContentTypeName() const override { return "text/plain"; }
    std::string BuildPartHeader(const std::string& content, const std::string& parameters,
                                int encoding, bool contentIsPath) const override;
    // Line ends made "\r\n", then every line longer than the line length broken at its last
    // blank that keeps it within the length (the blank dropped); a line without one stays whole.
    std::string WrapText(std::string_view text) const;

private:
    int m_lineLength;
};

class CAppOctetStream final : public CMIMEContentAgent {
public:
    explicit CAppOctetStream(int contentTypeId) : CMIMEContentAgent(contentTypeId) {}
    bool AppendPart(const std::string& content, const std::string& parameters, int encoding,
                    bool contentIsPath, std::string& body, std::string& error) override;
    std::string GetContentTypeName() const override { return "application/octet-stream"; }
    std::string BuildPartHeader(const std::string& content, const std::string& parameters,
                                int encoding, bool contentIsPath) const override;
    // Base64 lines of 72 characters (54 bytes), a last line with the rest (empty when the size
    // is a multiple of 54), then an empty line. False with error when the file cannot be read.
    bool AppendFileBase64(const std::string& path, std::string& body, std::string& error) const;
};

// A multipart/mixed mail: the plain body first, then the attachments in base64.
class CMIMEMessage final : public CMailMessage {
public:
    struct CMIMEPart {
        int encoding = 0;
        int contentTypeId = TextPlain;
        std::string parameters;
        bool contentIsPath = false;
        std::string content;
    };

    // The content agents, looked up by type id; one registry serves every message.
    class CMIMETypeManager {
    public:
        void AddAgent(std::unique_ptr<CMIMEContentAgent> agent);
        // The first agent that handles the id, else the last one, else null.
        CMIMEContentAgent* FindAgent(int contentTypeId) const;

    private:
        mutable std::mutex m_mutex;
        std::vector<std::unique_ptr<CMIMEContentAgent>> m_agents;
    };

    explicit CMIMEMessage(const Clock& clock = systemClock());

    // A text part goes to the head of the list, any other to its tail. Text content is trimmed of
    // white space; a path is kept as given.
    bool AddPart(std::string_view content, int contentTypeId, std::string_view parameters,
                 int encoding, bool contentIsPath);

    static constexpr std::string_view kBoundary = "QZ_MAIL_PaRt_BoUnDaRy_05151998";
    // The boundary of the last Compose: kBoundary unless a text of the message holds it.
    const std::string& boundary() const { return m_boundary; }

    static CMIMETypeManager& typeManager();

protected:
    void ComposeHeader() override;
    bool FinishBody(std::string& error) override;
    virtual bool RenderParts(std::string& error);

private:
    void AppendBoundary();
    void AppendClosingBoundary();
    // A boundary that occurs in no text of the message, so no text can start a part.
    void ChooseBoundary();

    std::string m_preamble = "This is a multi-part message in MIME format.";
    std::string m_contentType = "multipart/mixed";
    std::list<CMIMEPart> m_parts;
    std::string m_boundary{kBoundary};
};

}  // namespace paginor
