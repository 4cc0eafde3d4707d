#pragma once

// Reading of HTMLCSS report pages: the style classes of the report head, and the absolutely
// positioned pieces and the coloured or framed box rectangles of each page. Positions of pieces
// are in points, edges and centres in tenths of a point; box rectangles are in tenths.

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "convert/convert_types.h"

namespace paginor {

class CConvertEngine;
class TextMeasurer;

inline constexpr std::uint32_t kNoBoxBackground = 0x1000000;
inline constexpr std::int32_t kFrameCapacity = 28800;

struct tagStyleClassInfo {
    std::int32_t fontSize = 10;  // points
    std::uint32_t fontColour = 0;
    std::string fontName;
    std::string className;
    std::uint8_t bold = 0;
    // Extent of "0" in the class font, 96-dpi pixels.
    std::int32_t referenceWidth = 0;
    std::int32_t referenceHeight = 0;
};

struct tagDivInfo {
    std::int32_t left = 0;  // points
    std::int32_t top = 0;
    std::int32_t textLength = 0;
    const char* text = nullptr;  // for images the source; a link follows the text after a NUL
    tagDivInfo* previous = nullptr;
    tagDivInfo* nextInColumn = nullptr;
    tagDivInfo* next = nullptr;
    tagDivInfo* previousInColumn = nullptr;
    // The piece whose text this wrapped line continues; the frame engine's partner link.
    tagDivInfo* joinedTo = nullptr;
    std::int32_t width = 0;   // points
    std::int32_t centre = 0;  // vertical centre, tenths
    std::int32_t height = 0;  // points
    std::int32_t leftEdge = 0;
    std::int32_t rightEdge = 0;
    std::uint32_t fontColour = 0;
    const char* fontName = nullptr;
    std::uint8_t bold = 0;
    std::int32_t fontSize = 0;
    std::int32_t column = 0;
    std::int32_t row = 0;
    std::int32_t columnSpan = 0;
    std::int32_t rowSpan = 0;
    std::int32_t kind = kKindText;
    std::int32_t page = 0;
    std::int32_t order = 0;  // place in the batch's reading order
};

struct tagDivRectInfo {
    std::int32_t top = 0;
    std::int32_t left = 0;
    std::int32_t bottom = 0;
    std::int32_t right = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint32_t background = kNoBoxBackground;
};

// The collecting half of the frame engine, as the box reader calls it: frames, coloured regions
// and the side-by-side strips live behind it.
class FrameCollector {
public:
    virtual ~FrameCollector() = default;
    virtual std::int32_t frameCount() const = 0;
    virtual bool insideColouredRegion(const tagDivRectInfo& box) const = 0;
    // False when no frame takes the box yet; it then waits for the end of its page.
    virtual bool placeBox(const tagDivRectInfo& box, std::int32_t page) = 0;
    virtual void offerWaitingBox(const tagDivRectInfo& box, std::int32_t page) = 0;
    virtual void addStrips(const tagDivRectInfo& box) = 0;
};

// Takes no frames: every box waits for the end of its page and is offered there.
class NullFrameCollector final : public FrameCollector {
public:
    std::int32_t frameCount() const override { return 0; }
    bool insideColouredRegion(const tagDivRectInfo&) const override { return false; }
    bool placeBox(const tagDivRectInfo&, std::int32_t) override { return false; }
    void offerWaitingBox(const tagDivRectInfo&, std::int32_t) override {}
    void addStrips(const tagDivRectInfo&) override {}
};

class StyleSheet {
public:
    // Throws ConvertError (stored in engine) on a malformed class.
    void ParseStyleSheet(CConvertEngine& engine, const TextMeasurer& measurer,
                         std::string_view head);

    // Exact name ignoring ASCII case; the built-in class when the head has none; else null.
    const tagStyleClassInfo* find(std::string_view name) const;

    const std::vector<tagStyleClassInfo>& classes() const { return m_classes; }
    bool positionsAbsolute() const { return m_positionsAbsolute; }
    bool colourClasses() const { return m_colourClasses; }
    bool builtIn() const { return m_builtIn; }
    // Arial 10 points, black: the class of texts that name none.
    const tagStyleClassInfo& builtInClass() const { return m_builtInClass; }

private:
    std::vector<tagStyleClassInfo> m_classes;
    mutable std::size_t m_lastFound = 0;
    bool m_positionsAbsolute = false;
    bool m_colourClasses = false;
    bool m_builtIn = false;
    tagStyleClassInfo m_builtInClass;
};

struct BoxReaderOptions {
    std::int32_t codePage = 1252;
    bool rightToLeft = false;
    std::int32_t engineNumber = 102;
};

class BoxReader {
public:
    BoxReader(CConvertEngine& engine, const StyleSheet& styles, const TextMeasurer& measurer,
              FrameCollector& frames, const BoxReaderOptions& options);

    // All pages of a batch; page k runs from its offset to the next one, the last to the end.
    void readBoxes(const char* input, std::int64_t length, const std::int64_t* pageOffsets,
                   std::int32_t pageCount);

    const tagDivInfo* firstPiece() const { return m_head; }
    // The head of the piece list, for the passes that relink the pieces.
    tagDivInfo* pieces() { return m_head; }
    const tagDivInfo* lastPiece() const { return m_tail; }
    // The top of each page's first text element in points, -1 for a page without one.
    const std::vector<std::int32_t>& pageTops() const { return m_pageTops; }

private:
    struct Element;

    [[noreturn]] void fail(std::string_view message);
    void readPage(const char* start, const char* end, std::int32_t page);
    std::int32_t ParseElementStyle(Element& element, std::int32_t page);
    const tagStyleClassInfo* FindStyleClass(const char* tagStart, const char* end);
    void MeasureDivText(const tagStyleClassInfo& style, const char* text, std::int32_t length,
                        tagDivInfo& piece);
    static tagDivRectInfo ParseDivRect(const char* styleStart, const char* styleEnd);
    void AddDivRect(const char* styleStart, const char* styleEnd, std::int32_t page);
    void RemoveCoveredPieces(const tagDivRectInfo& box);
    bool joinsPrevious(const tagDivInfo& piece, const tagDivInfo& previous) const;
    void append(tagDivInfo* piece);
    void unlink(tagDivInfo* piece);

    CConvertEngine& m_engine;
    const StyleSheet& m_styles;
    const TextMeasurer& m_measurer;
    FrameCollector& m_frames;
    BoxReaderOptions m_options;

    std::deque<tagDivInfo> m_pool;
    tagDivInfo* m_head = nullptr;
    tagDivInfo* m_tail = nullptr;
    std::vector<std::int32_t> m_pageTops;
    std::vector<tagDivRectInfo> m_waiting;
};

}  // namespace paginor
