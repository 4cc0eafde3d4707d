#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace paginor {

// One TrueType face that header and footer text is drawn with, and the glyphs drawn with it.
class StampFace {
public:
    struct Metrics {
        int unitsPerEm = 1000;
        int ascender = 0;
        int descender = 0;
        int capHeight = 0;
        int box[4] = {0, 0, 0, 0};
    };

    StampFace(const StampFace&) = delete;
    StampFace& operator=(const StampFace&) = delete;
    ~StampFace();

    const std::string& file() const { return m_file; }
    const Metrics& metrics() const { return m_metrics; }
    // The face's PostScript name, cut down to the letters a PDF name keeps.
    std::string postScriptName() const;
    // Each glyph drawn, with the text it stands for (empty for the further glyphs of a
    // character drawn with several).
    const std::map<unsigned, std::u32string>& glyphText() const { return m_glyphText; }
    int advance(unsigned glyph) const;

    // The face cut down to the glyphs drawn, as a TrueType font program; newGlyphs maps each
    // glyph drawn to its number in the program.
    bool Subset(std::string& program, std::map<unsigned, unsigned>& newGlyphs,
                std::string& error) const;

private:
    friend class StampFonts;
    StampFace() = default;

    std::string m_file;
    struct Handles;
    std::unique_ptr<Handles> m_hb;
    Metrics m_metrics;
    std::map<unsigned, std::u32string> m_glyphText;
};

// A glyph placed on a line: x from the line's start and y above its baseline, in points.
struct StampGlyph {
    std::size_t face = 0;
    unsigned glyph = 0;
    double x = 0;
    double y = 0;
};

struct StampLine {
    std::vector<StampGlyph> glyphs;
    double width = 0;
};

// The fonts fontconfig offers for a sans-serif text, best first; each run of text is drawn
// with the first of them that holds it.
class StampFonts {
public:
    StampFonts();
    StampFonts(const StampFonts&) = delete;
    StampFonts& operator=(const StampFonts&) = delete;
    ~StampFonts();

    // False with error when fontconfig offers no font that can be drawn with.
    bool Open(std::string& error);

    // One line of UTF-8 text at size points, in display order (right-to-left runs turned as
    // the bidirectional algorithm says) and shaped. A character that no font holds, or bytes
    // that are no UTF-8, are drawn as U+FFFD.
    StampLine LayOut(const std::string& text, double size);

    std::size_t faceCount() const { return m_candidates.size(); }
    // The face at index, when text has been laid out with it; else null.
    const StampFace* usedFace(std::size_t index) const;

private:
    struct Candidate;
    StampFace* face(std::size_t index);
    // The first font that holds c, trying preferred first; -1 when none does.
    long fontFor(char32_t c, long preferred);

    // Declared first so that it outlives the candidates, whose character sets it holds.
    struct Configuration;
    std::unique_ptr<Configuration> m_config;
    std::vector<std::unique_ptr<Candidate>> m_candidates;
};

}  // namespace paginor
