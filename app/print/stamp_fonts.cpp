// Text for the header and footer stamp: fonts found through fontconfig, the bidirectional
// order from FriBidi, shaping and subsetting by HarfBuzz.

#include "app/print/stamp_fonts.h"

#include <fontconfig/fontconfig.h>
#include <fribidi.h>
#include <hb-ot.h>
#include <hb-subset.h>
#include <hb.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <set>

namespace paginor {

namespace {

constexpr char32_t kReplacement = 0xFFFD;
// Helvetica's look where the machine has it or a face like it: fontconfig offers those first,
// then the other sans-serif faces and the rest of the machine's fonts.
constexpr char kFamilies[] = "Helvetica,sans-serif";

std::mutex& fontconfigLock() {
    static std::mutex lock;
    return lock;
}

char32_t printable(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c < 0xA0) ? U' ' : c;
}

// Format characters that are never drawn (bidi controls, joiners, variation selectors): they
// need no font.
bool isDefaultIgnorable(char32_t c) {
    return c == 0xAD || c == 0x34F || c == 0x61C || (c >= 0x115F && c <= 0x1160) ||
           (c >= 0x17B4 && c <= 0x17B5) || (c >= 0x180B && c <= 0x180F) ||
           (c >= 0x200B && c <= 0x200F) || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2060 && c <= 0x206F) || (c >= 0xFE00 && c <= 0xFE0F) || c == 0xFEFF ||
           (c >= 0x1BCA0 && c <= 0x1BCA3) || (c >= 0xE0000 && c <= 0xE0FFF);
}

bool isCommonScript(hb_script_t script) {
    return script == HB_SCRIPT_COMMON || script == HB_SCRIPT_INHERITED ||
           script == HB_SCRIPT_UNKNOWN;
}

int readInt16(hb_blob_t* blob, unsigned offset) {
    unsigned length = 0;
    const char* data = hb_blob_get_data(blob, &length);
    if (data == nullptr || offset + 2 > length)
        return 0;
    return static_cast<std::int16_t>(static_cast<unsigned char>(data[offset]) << 8 |
                                     static_cast<unsigned char>(data[offset + 1]));
}

}  // namespace

struct StampFace::Handles {
    hb_blob_t* blob = nullptr;
    hb_face_t* face = nullptr;
    hb_font_t* font = nullptr;
    ~Handles() {
        hb_font_destroy(font);
        hb_face_destroy(face);
        hb_blob_destroy(blob);
    }
};

StampFace::~StampFace() = default;

std::string StampFace::postScriptName() const {
    char name[128] = {};
    unsigned size = sizeof name;
    hb_ot_name_get_utf8(m_hb->face, HB_OT_NAME_ID_POSTSCRIPT_NAME, HB_LANGUAGE_INVALID, &size,
                        name);
    std::string kept;
    for (const char* c = name; *c != '\0'; ++c) {
        if ((*c >= 'A' && *c <= 'Z') || (*c >= 'a' && *c <= 'z') || (*c >= '0' && *c <= '9') ||
            *c == '-')
            kept += *c;
    }
    return kept.empty() ? "Font" : kept;
}

int StampFace::advance(unsigned glyph) const {
    return hb_font_get_glyph_h_advance(m_hb->font, glyph);
}

bool StampFace::Subset(std::string& program, std::map<unsigned, unsigned>& newGlyphs,
                       std::string& error) const {
    hb_subset_input_t* input = hb_subset_input_create_or_fail();
    if (input == nullptr) {
        error = "no memory to cut down " + m_file;
        return false;
    }
    hb_set_t* glyphs = hb_subset_input_glyph_set(input);
    hb_set_add(glyphs, 0);
    for (const auto& [glyph, text] : m_glyphText)
        hb_set_add(glyphs, glyph);
    // The text is shaped already: the program needs outlines and advances only.
    hb_set_clear(hb_subset_input_set(input, HB_SUBSET_SETS_LAYOUT_FEATURE_TAG));
    hb_set_t* dropped = hb_subset_input_set(input, HB_SUBSET_SETS_DROP_TABLE_TAG);
    for (hb_tag_t tag : {HB_TAG('G', 'S', 'U', 'B'), HB_TAG('G', 'P', 'O', 'S'),
                         HB_TAG('G', 'D', 'E', 'F'), HB_TAG('k', 'e', 'r', 'n')})
        hb_set_add(dropped, tag);
    hb_subset_input_set_flags(input, HB_SUBSET_FLAGS_NO_HINTING);
    hb_subset_plan_t* plan = hb_subset_plan_create_or_fail(m_hb->face, input);
    hb_subset_input_destroy(input);
    hb_face_t* subset = plan != nullptr ? hb_subset_plan_execute_or_fail(plan) : nullptr;
    if (subset == nullptr) {
        hb_subset_plan_destroy(plan);
        error = "cannot cut down the font " + m_file;
        return false;
    }
    const hb_map_t* mapping = hb_subset_plan_old_to_new_glyph_mapping(plan);
    newGlyphs.clear();
    for (const auto& [glyph, text] : m_glyphText) {
        const hb_codepoint_t to = hb_map_get(mapping, glyph);
        if (to != HB_MAP_VALUE_INVALID)
            newGlyphs[glyph] = to;
    }
    hb_blob_t* blob = hb_face_reference_blob(subset);
    unsigned length = 0;
    const char* data = hb_blob_get_data(blob, &length);
    program.assign(data != nullptr ? data : "", data != nullptr ? length : 0);
    hb_blob_destroy(blob);
    hb_face_destroy(subset);
    hb_subset_plan_destroy(plan);
    if (program.empty() || newGlyphs.size() != m_glyphText.size()) {
        error = "cannot cut down the font " + m_file;
        return false;
    }
    return true;
}

struct StampFonts::Candidate {
    std::string file;
    int index = 0;
    FcCharSet* charset = nullptr;
    bool unusable = false;
    std::unique_ptr<StampFace> face;
    ~Candidate() {
        if (charset != nullptr)
            FcCharSetDestroy(charset);
    }
};

// A configuration of its own: fontconfig frees all that loading one takes only with it.
struct StampFonts::Configuration {
    FcConfig* config = FcInitLoadConfigAndFonts();
    ~Configuration() {
        if (config != nullptr)
            FcConfigDestroy(config);
    }
};

StampFonts::StampFonts() = default;
StampFonts::~StampFonts() = default;

bool StampFonts::Open(std::string& error) {
    m_candidates.clear();
    std::lock_guard<std::mutex> lock(fontconfigLock());
    if (!m_config)
        m_config = std::make_unique<Configuration>();
    FcConfig* config = m_config->config;
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(kFamilies));
    if (config == nullptr || pattern == nullptr ||
        !FcConfigSubstitute(config, pattern, FcMatchPattern)) {
        if (pattern != nullptr)
            FcPatternDestroy(pattern);
        error = "fontconfig cannot be asked for fonts";
        return false;
    }
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultMatch;
    // Untrimmed: a font that adds nothing to one before it may still be the one that can be
    // embedded.
    FcFontSet* fonts = FcFontSort(config, pattern, FcFalse, nullptr, &result);
    FcPatternDestroy(pattern);
    std::set<std::pair<std::string, int>> seen;
    for (int i = 0; fonts != nullptr && i < fonts->nfont; ++i) {
        FcPattern* font = fonts->fonts[i];
        FcChar8* file = nullptr;
        FcChar8* format = nullptr;
        FcCharSet* charset = nullptr;
        int index = 0;
        FcBool outline = FcFalse;
        if (FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch ||
            FcPatternGetString(font, FC_FONTFORMAT, 0, &format) != FcResultMatch ||
            FcPatternGetCharSet(font, FC_CHARSET, 0, &charset) != FcResultMatch ||
            FcPatternGetBool(font, FC_OUTLINE, 0, &outline) != FcResultMatch || !outline)
            continue;
        FcPatternGetInteger(font, FC_INDEX, 0, &index);
        // Only TrueType outlines embed as the CIDFontType2 program the stamp writes; the named
        // instances of a variable font (index above 0xFFFF) are its default face again.
        if (std::strcmp(reinterpret_cast<const char*>(format), "TrueType") != 0 || index > 0xFFFF ||
            !seen.emplace(reinterpret_cast<const char*>(file), index).second)
            continue;
        auto candidate = std::make_unique<Candidate>();
        candidate->file = reinterpret_cast<const char*>(file);
        candidate->index = index;
        candidate->charset = FcCharSetCopy(charset);
        m_candidates.push_back(std::move(candidate));
    }
    if (fonts != nullptr)
        FcFontSetDestroy(fonts);
    for (std::size_t i = 0; i < m_candidates.size(); ++i) {
        if (face(i) != nullptr)
            return true;
    }
    m_candidates.clear();
    error = "fontconfig offers no TrueType font to draw the text with";
    return false;
}

StampFace* StampFonts::face(std::size_t index) {
    Candidate& candidate = *m_candidates[index];
    if (candidate.face || candidate.unusable)
        return candidate.face.get();
    auto handles = std::make_unique<StampFace::Handles>();
    handles->blob = hb_blob_create_from_file_or_fail(candidate.file.c_str());
    if (handles->blob != nullptr) {
        handles->face = hb_face_create(handles->blob, static_cast<unsigned>(candidate.index));
        hb_blob_t* glyf = hb_face_reference_table(handles->face, HB_TAG('g', 'l', 'y', 'f'));
        const bool outlines = hb_blob_get_length(glyf) > 0;
        hb_blob_destroy(glyf);
        if (outlines)
            handles->font = hb_font_create(handles->face);
    }
    if (handles->font == nullptr) {
        candidate.unusable = true;
        return nullptr;
    }
    std::unique_ptr<StampFace> face(new StampFace);
    face->m_file = candidate.file;
    StampFace::Metrics& metrics = face->m_metrics;
    metrics.unitsPerEm = static_cast<int>(hb_face_get_upem(handles->face));
    hb_font_set_scale(handles->font, metrics.unitsPerEm, metrics.unitsPerEm);
    hb_font_extents_t extents{};
    hb_font_get_h_extents(handles->font, &extents);
    metrics.ascender = extents.ascender;
    metrics.descender = extents.descender;
    hb_position_t capHeight = 0;
    metrics.capHeight =
        hb_ot_metrics_get_position(handles->font, HB_OT_METRICS_TAG_CAP_HEIGHT, &capHeight)
            ? capHeight
            : extents.ascender;
    hb_blob_t* head = hb_face_reference_table(handles->face, HB_TAG('h', 'e', 'a', 'd'));
    for (int k = 0; k < 4; ++k)
        metrics.box[k] = readInt16(head, 36 + 2 * static_cast<unsigned>(k));
    hb_blob_destroy(head);
    face->m_hb = std::move(handles);
    candidate.face = std::move(face);
    return candidate.face.get();
}

const StampFace* StampFonts::usedFace(std::size_t index) const {
    const StampFace* face = m_candidates[index]->face.get();
    return face != nullptr && !face->m_glyphText.empty() ? face : nullptr;
}

long StampFonts::fontFor(char32_t c, long preferred) {
    const auto holds = [&](std::size_t i) {
        if (!FcCharSetHasChar(m_candidates[i]->charset, c))
            return false;
        StampFace* font = face(i);
        hb_codepoint_t glyph = 0;
        return font != nullptr && hb_font_get_nominal_glyph(font->m_hb->font, c, &glyph);
    };
    if (preferred >= 0 && holds(static_cast<std::size_t>(preferred)))
        return preferred;
    for (std::size_t i = 0; i < m_candidates.size(); ++i) {
        if (holds(i))
            return static_cast<long>(i);
    }
    return -1;
}

StampLine StampFonts::LayOut(const std::string& text, double size) {
    StampLine line;
    if (text.empty() || m_candidates.empty())
        return line;
    std::vector<char32_t> chars;
    {
        // HarfBuzz's decoder turns bytes that are no UTF-8 into U+FFFD.
        hb_buffer_t* decoded = hb_buffer_create();
        hb_buffer_add_utf8(decoded, text.data(), static_cast<int>(text.size()), 0,
                           static_cast<int>(text.size()));
        unsigned count = 0;
        const hb_glyph_info_t* infos = hb_buffer_get_glyph_infos(decoded, &count);
        for (unsigned i = 0; i < count; ++i)
            chars.push_back(printable(infos[i].codepoint));
        hb_buffer_destroy(decoded);
    }
    const std::size_t n = chars.size();
    if (n == 0)
        return line;

    // The font of each character; -1 draws the first font's missing-glyph box.
    std::size_t base = 0;
    while (face(base) == nullptr)
        ++base;
    hb_unicode_funcs_t* unicode = hb_unicode_funcs_get_default();
    std::vector<long> fonts(n);
    std::vector<bool> missing(n, false);
    std::vector<hb_script_t> scripts(n);
    for (std::size_t i = 0; i < n; ++i) {
        scripts[i] = hb_unicode_script(unicode, chars[i]);
        const long previous = i > 0 ? fonts[i - 1] : -1;
        // Spaces, digits and marks stay in the font of the text around them.
        long font = fontFor(chars[i], isCommonScript(scripts[i]) ? previous : -1);
        if (font < 0 && isDefaultIgnorable(chars[i]))
            font = previous >= 0 ? previous : static_cast<long>(base);
        if (font < 0) {
            chars[i] = kReplacement;
            scripts[i] = HB_SCRIPT_COMMON;
            font = fontFor(kReplacement, previous);
        }
        if (font < 0) {
            font = static_cast<long>(base);
            missing[i] = true;
        }
        fonts[i] = font;
    }
    // Characters of no script of their own shape with the script before them.
    hb_script_t last = HB_SCRIPT_COMMON;
    for (std::size_t i = 0; i < n; ++i) {
        if (isCommonScript(scripts[i]))
            scripts[i] = last;
        else
            last = scripts[i];
    }
    for (std::size_t i = n; i-- > 0;) {
        if (isCommonScript(scripts[i]))
            scripts[i] = last;
        else
            last = scripts[i];
    }

    std::vector<FriBidiChar> bidiChars(chars.begin(), chars.end());
    std::vector<FriBidiCharType> types(n);
    std::vector<FriBidiBracketType> brackets(n);
    std::vector<FriBidiLevel> levels(n, 0);
    const auto length = static_cast<FriBidiStrIndex>(n);
    fribidi_get_bidi_types(bidiChars.data(), length, types.data());
    fribidi_get_bracket_types(bidiChars.data(), length, types.data(), brackets.data());
    FriBidiParType direction = FRIBIDI_PAR_ON;
    if (fribidi_get_par_embedding_levels_ex(types.data(), brackets.data(), length, &direction,
                                            levels.data()) == 0)
        std::fill(levels.begin(), levels.end(), 0);

    struct Run {
        std::size_t start;
        std::size_t end;
    };
    std::vector<Run> runs;
    for (std::size_t i = 0; i < n; ++i) {
        if (i == 0 || fonts[i] != fonts[i - 1] || levels[i] != levels[i - 1] ||
            scripts[i] != scripts[i - 1] || missing[i] != missing[i - 1])
            runs.push_back({i, i + 1});
        else
            runs.back().end = i + 1;
    }
    // Display order: from the highest level down to the lowest odd one, every stretch of runs
    // at that level or above is turned round.
    FriBidiLevel highest = 0;
    FriBidiLevel lowestOdd = 255;
    for (const Run& run : runs) {
        const FriBidiLevel level = levels[run.start];
        highest = std::max(highest, level);
        if (level % 2 == 1)
            lowestOdd = std::min(lowestOdd, level);
    }
    for (int level = highest; level >= lowestOdd && level > 0; --level) {
        for (std::size_t i = 0; i < runs.size();) {
            if (levels[runs[i].start] < level) {
                ++i;
                continue;
            }
            std::size_t j = i;
            while (j < runs.size() && levels[runs[j].start] >= level)
                ++j;
            std::reverse(runs.begin() + static_cast<long>(i), runs.begin() + static_cast<long>(j));
            i = j;
        }
    }

    std::vector<hb_codepoint_t> codepoints(chars.begin(), chars.end());
    double pen = 0;
    for (const Run& run : runs) {
        const auto faceIndex = static_cast<std::size_t>(fonts[run.start]);
        StampFace& font = *face(faceIndex);
        const double scale = size / font.m_metrics.unitsPerEm;
        const auto place = [&](unsigned glyph, std::u32string glyphText, hb_position_t dx,
                               hb_position_t dy, hb_position_t advance) {
            line.glyphs.push_back({faceIndex, glyph, pen + dx * scale, dy * scale});
            pen += advance * scale;
            auto [at, added] = font.m_glyphText.emplace(glyph, glyphText);
            if (!added && at->second.empty())
                at->second = std::move(glyphText);
        };
        if (missing[run.start]) {
            for (std::size_t i = run.start; i < run.end; ++i)
                place(0, std::u32string(1, kReplacement), 0, 0, font.advance(0));
            continue;
        }
        hb_buffer_t* buffer = hb_buffer_create();
        hb_buffer_add_codepoints(buffer, codepoints.data(), static_cast<int>(n),
                                 static_cast<unsigned>(run.start),
                                 static_cast<int>(run.end - run.start));
        hb_buffer_set_direction(buffer,
                                levels[run.start] % 2 ? HB_DIRECTION_RTL : HB_DIRECTION_LTR);
        hb_buffer_set_script(buffer, scripts[run.start]);
        hb_buffer_guess_segment_properties(buffer);
        hb_buffer_set_flags(buffer, HB_BUFFER_FLAG_REMOVE_DEFAULT_IGNORABLES);
        hb_shape(font.m_hb->font, buffer, nullptr, 0);
        unsigned count = 0;
        const hb_glyph_info_t* infos = hb_buffer_get_glyph_infos(buffer, &count);
        const hb_glyph_position_t* positions = hb_buffer_get_glyph_positions(buffer, &count);
        std::set<unsigned> clusters;
        for (unsigned k = 0; k < count; ++k)
            clusters.insert(infos[k].cluster);
        std::set<unsigned> given;
        for (unsigned k = 0; k < count; ++k) {
            // The first glyph of a cluster stands for all its characters, in logical order.
            std::u32string glyphText;
            const unsigned cluster = infos[k].cluster;
            if (given.insert(cluster).second) {
                const auto next = clusters.upper_bound(cluster);
                const std::size_t end = next != clusters.end() ? *next : run.end;
                glyphText.assign(chars.begin() + cluster, chars.begin() + static_cast<long>(end));
            }
            place(infos[k].codepoint, std::move(glyphText), positions[k].x_offset,
                  positions[k].y_offset, positions[k].x_advance);
        }
        hb_buffer_destroy(buffer);
    }
    line.width = pen;
    return line;
}

}  // namespace paginor
