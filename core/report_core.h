#pragma once

#include <atomic>
#include <climits>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/coded_error.h"
#include "platform/file.h"

namespace paginor {

// One page of the report file: its first byte and its length; the last byte is start + length - 1.
struct tagPageInfo {
    std::int64_t start = 0;
    std::int64_t length = 0;
};

// Thrown by the report core after it stored the code (and for -1 its text) in the object; it
// carries both, and CReportCore::GetErrorText gives the same message.
class ReportError : public CodedError {
public:
    using CodedError::CodedError;
};

// One positioned element found by the split of a report without page marks: the offsets of its
// '<' and of the '>' of its closing "</div>" (-1 when not found), and its TOP (-2 before read).
struct tagElementEntry {
    std::int64_t start = 0;
    std::int64_t end = -1;
    std::int32_t top = -2;
};

// A run of pages, first and last, 1-based.
struct tagPageRun {
    std::int32_t first = 0;
    std::int32_t last = 0;
    friend bool operator==(const tagPageRun&, const tagPageRun&) = default;
};

enum class ReportFormat : std::int32_t { Unknown = 0, HtmlCss = 1, Html = 2 };

enum class TextDirection : std::int32_t { NotStated = 0, LeftToRight = 1, RightToLeft = 2 };

// Receives the whole percent reached by a long scan, 0..100.
using ProgressSink = std::function<void(int percent)>;

// Turns every CR and LF from first to last (both included, in either order) into a blank.
void BlankOutLineBreaks(char* first, char* last);

// The support address that several messages name.
void setSupportAddress(std::string address);
const std::string& supportAddress();

// The loaded report: one Oracle Reports HTML or HTMLCSS file, read through a sliding window,
// cut into pages, with the head that must precede any run of its pages.
class CReportCore {
public:
    static constexpr std::int64_t kLookBehind = 147456;
    static constexpr std::int64_t kMaxWindowSize = 3145728;
    static constexpr std::int64_t kMoveMargin = 1024;
    static constexpr std::int64_t kTagBufferStep = 65536;
    // HTMLCSS pages come in blocks of this many: the report generator starts its TOP values
    // again at each multiple.
    static constexpr std::int32_t kPageBlock = 65536;
    // Elements of a report without page marks collected before a page division must be in
    // sight (24 MiB of entries); the list is checked again each time it doubles.
    static constexpr std::size_t kStructureCheckEntries = 1 << 20;
    static constexpr std::size_t kMaxErrorText = 1023;
    static constexpr std::size_t kMaxStyleBlocks = 256;
    static constexpr const char kHeadMark[] = "<!--9876543210_PageMark_Head-->";
    static constexpr const char kFootMark[] = "<!--9876543210_PageMark_Foot-->";
    static constexpr std::int64_t kMarkLength = 31;
    static constexpr std::int64_t kMarkCommonLength = 24;
    static constexpr const char kTrailer[] = "\r\n</body>\r\n</html>";
    // Begins every page of a range built for printing, so that each page can get a sheet.
    static constexpr const char kPrintPageMark[] = "<!--paginor-print-page-->";

    CReportCore();
    ~CReportCore();
    CReportCore(const CReportCore&) = delete;
    CReportCore& operator=(const CReportCore&) = delete;

    // Loads a report; returns 0 or throws ReportError. trace receives the step reached.
    std::int32_t Init(const std::string& path, const char* baseHref, bool embedLinked,
                      std::string* trace, const std::int32_t* codePage,
                      std::string* styleSheetPath);

    std::int32_t GetPageCount();
    bool IsRightToLeft() const { return m_textDirection == TextDirection::RightToLeft; }
    bool IsPrintDirectly() const { return m_printDirectly; }

    // Copies each non-empty margin directive into its text once per load.
    void GetMarginDirectives(std::string& left, std::string& right, std::string& top,
                             std::string& bottom);

    // Writes the message of the current code into buffer (size bytes, always NUL-terminated).
    std::int32_t GetErrorText(char* buffer, std::int32_t size) const;
    std::string GetErrorText() const;
    std::int32_t SetErrorCode(std::int32_t code);
    // Code -1 with the object's own text, cut to the error text's size.
    std::int32_t SetErrorText(std::string text);
    std::int32_t SetExceptionText(const std::string& message, const char* stepTag);
    std::int32_t SetSystemErrorText(const char* stepTag, int errorNumber);

    // The file window. SeekWindow makes the byte at offset available and gives its index.
    std::int32_t SeekWindow(std::int64_t offset, std::int64_t& index);
    std::int32_t ReadFileRange(std::int64_t fileOffset, std::int64_t destination,
                               std::int64_t length);
    // Copies [offset, offset + length) into the tag buffer, NUL-terminated. A length of 0 is
    // measured first: up to and including the first endChar, or to the end of the file.
    std::int32_t CopyToStringBuffer(std::int64_t offset, char endChar, std::int64_t& length);
    // Reads bytes of the report file by offset, safe from several threads at once and leaving
    // the report's state alone: the count read, or -1.
    std::int64_t ReadFileShared(std::int64_t offset, char* destination, std::int64_t length) const {
        return m_file.readShared(offset, destination, length);
    }

    // The TOP of the element whose start tag begins at index of the tag buffer, -1 without one.
    std::int32_t GetTopValue(std::int64_t index, std::int32_t pageNumber = 0);
    // The TOP of the last positioned element in the tag buffer; fullyPlaced, when given, tells
    // whether that element is a div whose start and end ParseDivLayout finds.
    std::int32_t GetTopValueAtPage(bool* fullyPlaced = nullptr);
    bool GetPageHeight(std::int32_t* result);
    bool CheckTopValues();

    // Splitting reports without page marks.
    std::int32_t GetEachPageInfo_HTML();
    std::int32_t GetEachPageInfo();
    // tag points into the tag buffer; tagOffset -1 takes the file offset of the buffer's copy.
    std::int32_t ParseDivLayout(const char* tag, std::int64_t* start, std::int64_t* end,
                                std::int32_t* top, std::int64_t tagOffset);
    std::int32_t RebaseTopValues(std::int32_t startTop, std::int32_t pageNumber);
    void HideEmptyLastDiv();
    std::int32_t CountTextChars(const char* text, std::int64_t length);
    void SetPageTableSize(const std::vector<tagElementEntry>& entries, std::int32_t step,
                          std::int64_t count, std::int64_t end);

    // Page ranges as self-contained HTML documents. With countText the document is the print
    // form: its text is counted, empty last divs are hidden and kPrintPageMark begins each page.
    std::int32_t GetPage(std::int32_t p1, std::int32_t p2, std::string& document, bool countText);
    std::int32_t SplitPageRange(std::int32_t p1, std::int32_t p2, std::vector<tagPageRun>& runs);
    std::int32_t GetPagesInRanges(std::int32_t p1, std::int32_t p2);
    // A non-zero cancel stops the writing between pages with error 19, the file left as it was;
    // progress receives the share of the pages written, and 0 at the end.
    std::int32_t OutputToHtmlFile(std::int32_t p1, std::int32_t p2, const std::string& path,
                                  const std::atomic<std::int32_t>* cancel = nullptr,
                                  const ProgressSink& progress = {});
    std::int64_t CheckPageRange(std::int32_t p1, std::int32_t p2);
    std::int32_t SplitRange(std::int32_t p1, std::int32_t p2, std::vector<tagPageRun>& runs);
    std::int32_t SplitRunByHeight(std::int32_t p1, std::int32_t p2, std::vector<tagPageRun>& runs);
    std::int32_t GetInfo(std::string& page);

    // Text of the report's code page as UTF-16. iconv does the work: a byte it cannot decode
    // becomes U+FFFD, so the conversion cannot fail.
    std::u16string ToUnicode(std::string_view text) const { return ToUnicode(text, m_codePage); }
    static std::u16string ToUnicode(std::string_view text, std::int32_t codePage);
    // Pacing of the print queue. The pages that fill 256 KiB on average, 1..80 (0 before a load);
    // with store set they become the pages per print chunk.
    std::int32_t GetPagesPerTask(bool store);
    // The wait, in tenths of a second, that the task whose text was counted last needs on a
    // printer of this learned speed (0..120).
    std::int32_t EstimatePrintWait(bool, std::int32_t speed) const;

    // Linked files of pages: image links become local copies; other links resolve to files.
    void LocalizeImageLinks();
    void FetchLinkedFile(const char* link, std::int64_t linkLength, std::string& output);

    void setProgressSink(ProgressSink sink) { m_progress = std::move(sink); }
    // While set, raising the flag (from any thread) stops the downloads of linked files.
    void setCancelFlag(const std::atomic<bool>* cancel) { m_cancel = cancel; }

    // Facts of the loaded report.
    std::int32_t state() const { return m_state; }
    ReportFormat format() const { return m_format; }
    const std::string& reportPath() const { return m_reportPath; }
    std::int64_t fileSize() const { return m_fileSize; }
    std::int32_t codePage() const { return m_codePage; }
    TextDirection textDirection() const { return m_textDirection; }
    std::int32_t pageHeight() const { return m_pageHeight; }
    bool fromWebAddress() const { return m_fromWebAddress; }
    bool ownBaseTag() const { return m_ownBaseTag; }
    bool sourceMayBeShown() const { return m_sourceMayBeShown; }
    bool nestedTable() const { return m_nestedTable; }
    bool embedLinked() const { return m_embedLinked; }
    const std::string& baseFolder() const { return m_baseFolder; }
    const std::string& head() const { return m_head; }
    const std::vector<tagPageInfo>& pageTable() const { return m_pageTable; }
    std::int64_t firstContentOffset() const { return m_firstContentOffset; }
    const std::vector<std::int64_t>& styleBlockOffsets() const { return m_styleBlocks; }
    std::int32_t textCharCount() const { return m_textCharCount; }
    std::int32_t errorCode() const { return m_errorCode; }
    const std::string& errorText() const { return m_errorText; }
    std::int64_t windowSize() const { return static_cast<std::int64_t>(m_window.size()); }
    std::int64_t windowStart() const { return m_windowStart; }
    std::int64_t windowValid() const { return m_windowValid; }
    const char* windowData() const { return m_window.data(); }
    const char* tagBuffer() const { return m_tagBuffer.data(); }
    std::int64_t tagBufferUsed() const { return m_tagUsed; }
    std::int64_t tagBufferOffset() const { return m_tagOffset; }

    // Printing directives.
    const std::string& printerDirective() const { return m_printer; }
    const std::string& paperSizeDirective() const { return m_paperSize; }
    std::int32_t orientationDirective() const { return m_orientation; }
    const std::string& marginLeftDirective() const { return m_marginLeft; }
    const std::string& marginRightDirective() const { return m_marginRight; }
    const std::string& marginTopDirective() const { return m_marginTop; }
    const std::string& marginBottomDirective() const { return m_marginBottom; }
    bool printerPaperPending() const { return m_printerPaperPending; }
    void clearPrinterPaperPending() { m_printerPaperPending = false; }
    std::int32_t pagesPerPrintChunk() const { return m_pagesPerPrintChunk; }
    void setPagesPerPrintChunk(std::int32_t pages) { m_pagesPerPrintChunk = pages; }

    // Head parsers over the text before page 1.
    void ParseBaseHref(const char* text, std::int64_t length);
    void ParseMetaCharset(const char* text, std::int64_t length);
    void ParseDirection(const char* text, std::int64_t length);
    bool SetBaseFolder(const std::string& path, bool force);
    static void AddBodyNowrap(std::string& head);
    static bool HasForm(const char* text, std::int64_t length);
    bool InlineLinkedStyleSheet(std::string& head, std::string* styleSheetPath);
    std::int32_t AppendStyleBlocks(std::string& destination);
    std::int32_t ParsePrintDirectives(const char* text, std::int64_t length);

private:
    [[noreturn]] void raise(std::int32_t code);
    [[noreturn]] void raiseText(std::string text);
    [[noreturn]] void raiseFileCut();
    // Raises 5 before a load, the range text for pages outside 1..page count.
    void requireLoadedRange(std::int32_t p1, std::int32_t p2);
    void trace(const char* tag);
    void resetForLoad(const std::string& path, bool embedLinked);
    void sizeWindow();
    void reportProgress(std::int64_t offset);

    // Window access: a pointer to the byte at offset with the count of bytes valid behind it.
    const char* windowAt(std::int64_t offset, std::int64_t& available);
    // The byte at offset, with the window's bytes before it down to segmentStart.
    const char* windowBackFrom(std::int64_t offset, std::int64_t& segmentStart);
    // The offset of the next byte c in [from, end of file), -1 when there is none.
    std::int64_t findByte(std::int64_t from, char c);
    // The offset of the last byte c before offset before, -1 when there is none.
    std::int64_t findLastByteBefore(std::int64_t before, char c);
    bool textAtNoCase(std::int64_t offset, const char* keyword);

    void GetFormatType();
    void checkDirectionOfFirstDiv(std::int64_t closingDiv);
    std::int32_t FindNextPageMarks(std::int64_t from, std::int64_t& head, std::int64_t& foot);
    // The next '<' that may begin a page mark or, with css, a style block.
    std::int64_t findMarkCandidate(std::int64_t from, bool css);
    std::int64_t findDivBeforeHeadMark(std::int64_t mark, std::int64_t lowerBound);
    std::int64_t findClosingDivAfter(std::int64_t from);
    // The TOP of a marked page's first tag while the scan has it in the window, kTopNotRead when
    // that tag cannot be read.
    std::int32_t readFirstTopInScan(std::int64_t start, std::int32_t pageNumber);
    void recordStyleBlockAt(std::int64_t offset);
    bool isStyleBlockAt(std::int64_t offset);
    void scanMarkedPages();
    void splitWithoutMarks();
    void assembleHead(const std::string& prologue, const char* baseHref);
    std::string readRange(std::int64_t offset, std::int64_t length);

    std::int32_t m_state = 0;
    std::int32_t m_pagesPerPrintChunk = 80;
    ReportFormat m_format = ReportFormat::Unknown;
    std::string m_reportPath;
    std::string m_printer;
    std::string m_paperSize;
    bool m_printerPaperPending = false;
    std::int32_t m_pageHeight = 0;
    bool m_fromWebAddress = false;
    bool m_sourceMayBeShown = true;
    std::int32_t m_orientation = 2;
    std::int32_t m_codePage = 0;
    std::int32_t m_pageCount = 0;
    std::int64_t m_fileSize = 0;

    ReadOnlyFile m_file;
    std::vector<char> m_window;
    std::int64_t m_windowStart = 0;
    std::int64_t m_windowValid = 0;

    std::string m_head;
    std::vector<tagPageInfo> m_pageTable;
    bool m_headMarkSeen = false;
    std::string m_baseFolder;
    bool m_ownBaseTag = false;
    bool m_baseFromOwnTag = false;

    std::vector<char> m_tagBuffer;
    std::int64_t m_tagUsed = 0;
    std::int64_t m_tagOffset = 0;

    std::string m_errorText;
    std::int32_t m_errorCode = 0;
    std::int32_t m_textCharCount = 0;
    bool m_printDirectly = false;
    std::vector<std::int64_t> m_styleBlocks;
    std::int64_t m_firstContentOffset = 0;
    std::string m_marginLeft;
    std::string m_marginRight;
    std::string m_marginTop;
    std::string m_marginBottom;
    bool m_marginsPending = false;
    bool m_nestedTable = false;
    bool m_embedLinked = false;
    std::unordered_map<std::string, std::string> m_linkedFiles;
    TextDirection m_textDirection = TextDirection::NotStated;

    // The TOP of each marked HTMLCSS page's first tag, as the mark scan read it, for
    // CheckTopValues.
    static constexpr std::int32_t kTopNotRead = INT32_MIN;
    std::vector<std::int32_t> m_firstTops;

    // Where GetTopValue found the last TOP number in the tag buffer.
    std::int64_t m_topValueIndex = -1;
    std::int64_t m_topValueLength = 0;

    std::string* m_trace = nullptr;
    ProgressSink m_progress;
    const std::atomic<bool>* m_cancel = nullptr;
    // Fetches a linked file; the load's cancel flag reaches the download.
    bool fetchLinkedFile(std::string& result, const std::string& url, bool useBrowserStack);
    int m_percentShown = 0;

    // Splitting without page marks and the TOP machinery.
private:
    enum class DivLayout { NotPositioned, Open, Closed };
    // Reads the div start tag at tag within [tag, limit) without changing it (line breaks count
    // as blanks). Open: positioned, no closing tag found; Closed: end is the file offset of the
    // '>' of its "</div>". top is set unless NotPositioned.
    static DivLayout parseDivLayoutIn(const char* tag, const char* limit, std::int64_t tagOffset,
                                      std::int64_t& end, std::int32_t& top);
    // Text characters in [from, to) of the file; counting stops once enough (> 0) are found.
    std::int64_t countTextCharsInFile(std::int64_t from, std::int64_t to, std::int64_t enough);
    bool hasTextIn(std::int64_t from, std::int64_t to) {
        return countTextCharsInFile(from, to, 1) > 0;
    }
    bool tableSitsInCell(std::int64_t table);
    bool isEmptyShortPage(const tagPageInfo& page);
    // False, stopping early, when the first kStructureCheckEntries elements, or the first
    // twice, four times ... as many, allow no page division: a file of positioned elements
    // without a page layout, or one that loses its layout, cannot grow the list with its size.
    bool collectPositionedDivs(std::vector<tagElementEntry>& entries);
    // Whether the first n entries (n < entries.size()) allow a page division.
    bool pageStructureMayHold(const std::vector<tagElementEntry>& entries, std::size_t n);
    bool textBetween(const tagElementEntry& before, const tagElementEntry& after);
    std::int32_t divideByMarkedText(const std::vector<tagElementEntry>& entries, std::size_t count,
                                    std::int64_t end);
    void setPageCount(std::int64_t pages);
    bool pageTableIsSound() const;

    // Page-range output.
private:
    // What every TOP of a run that begins at firstPage is reduced by (HTMLCSS).
    std::int32_t startingTop(std::int32_t firstPage);
    // The TOP of the first element in the tag buffer; -2 when it has none or cannot be read.
    std::int32_t firstTopOrNone(std::int32_t pageNumber);
};

}  // namespace paginor
