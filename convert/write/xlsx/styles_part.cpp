#include "convert/write/xlsx/styles_part.h"

#include <map>
#include <tuple>
#include <vector>

#include "convert/write/xlsx/part_text.h"

namespace paginor::xlsx {

namespace {

constexpr const char* kDefaultFontName = "Calibri";
constexpr std::int32_t kFirstCustomFormat = 164;

std::string hexColour(std::int32_t rgb) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text = "FF";
    for (int shift = 20; shift >= 0; shift -= 4) {
        text += kDigits[(static_cast<std::uint32_t>(rgb) >> shift) & 0xF];
    }
    return text;
}

}  // namespace

std::string StylesXml(const StyleTable& styles) {
    struct FontKey {
        std::string name;
        std::int16_t size;
        std::uint8_t bold;
        std::uint8_t link;
        std::int32_t colour;
        bool operator<(const FontKey& o) const {
            return std::tie(name, size, bold, link, colour) <
                   std::tie(o.name, o.size, o.bold, o.link, o.colour);
        }
    };
    std::map<FontKey, std::int32_t> fontIds;
    std::vector<FontKey> fonts;
    std::map<std::int32_t, std::int32_t> fillIds;  // colour to fill, from 2 on
    std::vector<std::int32_t> fills;
    std::map<std::int32_t, std::int32_t> formatIds;  // table format to numFmtId
    std::vector<std::int32_t> formats;
    auto fontOf = [&](const CellStyle& s) {
        FontKey key{s.link != 0 || s.fontName < 0 ? std::string() : styles.name(s.fontName),
                    s.link != 0 ? std::int16_t{0} : s.fontSize,
                    s.link != 0 ? std::uint8_t{0} : s.bold, s.link,
                    s.link != 0 ? -1 : s.fontColour};
        const auto [it, added] = fontIds.try_emplace(key, static_cast<std::int32_t>(fonts.size()));
        if (added) {
            fonts.push_back(key);
        }
        return it->second;
    };
    fontOf(CellStyle{});
    bool links = false;
    std::int32_t linkFont = 0;
    struct Xf {
        std::int32_t format;
        std::int32_t font;
        std::int32_t fill;
        std::int32_t border;
    };
    std::vector<Xf> xfs;
    for (std::uint32_t id = 0; id < styles.size(); ++id) {
        const CellStyle& s = styles.style(id);
        Xf xf{0, fontOf(s), 0, s.link != 0 ? 0 : s.border};
        if (s.link != 0) {
            links = true;
            linkFont = xf.font;
        } else {
            if (s.fill >= 0) {
                const auto [it, added] =
                    fillIds.try_emplace(s.fill, static_cast<std::int32_t>(fills.size()) + 2);
                if (added) {
                    fills.push_back(s.fill);
                }
                xf.fill = it->second;
            }
            if (s.numberFormat >= 0) {
                const auto [it, added] = formatIds.try_emplace(
                    s.numberFormat, static_cast<std::int32_t>(formats.size()) + kFirstCustomFormat);
                if (added) {
                    formats.push_back(s.numberFormat);
                }
                xf.format = it->second;
            }
        }
        xfs.push_back(xf);
    }
    std::string out = kXmlDeclaration;
    out += "<styleSheet xmlns=\"";
    out += kMainNamespace;
    out += "\">";
    if (!formats.empty()) {
        out += "<numFmts count=\"" + integer(static_cast<std::int64_t>(formats.size())) + "\">";
        for (std::size_t i = 0; i < formats.size(); ++i) {
            out += "<numFmt numFmtId=\"" +
                   integer(static_cast<std::int64_t>(i) + kFirstCustomFormat) + "\" formatCode=\"";
            appendAttributeText(out, styles.format(formats[i]));
            out += "\"/>";
        }
        out += "</numFmts>";
    }
    out += "<fonts count=\"" + integer(static_cast<std::int64_t>(fonts.size())) + "\">";
    for (const FontKey& f : fonts) {
        out += "<font>";
        if (f.link != 0) {
            out +=
                "<u/><sz val=\"11\"/><color theme=\"10\"/><name val=\"Calibri\"/><family "
                "val=\"2\"/></font>";
            continue;
        }
        if (f.bold != 0) {
            out += "<b/>";
        }
        out += "<sz val=\"" + integer(f.size > 0 ? f.size : 11) + "\"/>";
        // Black is the colour a font has when none is given.
        out += f.colour >= 0 ? "<color rgb=\"" + hexColour(f.colour) + "\"/>"
                             : std::string("<color theme=\"1\"/>");
        out += "<name val=\"";
        appendAttributeText(out, f.name.empty() ? kDefaultFontName : f.name);
        out += "\"/><family val=\"2\"/>";
        if (f.name.empty()) {
            out += "<scheme val=\"minor\"/>";
        }
        out += "</font>";
    }
    out += "</fonts><fills count=\"" + integer(static_cast<std::int64_t>(fills.size()) + 2) +
           "\"><fill><patternFill patternType=\"none\"/></fill><fill><patternFill "
           "patternType=\"gray125\"/></fill>";
    for (const std::int32_t colour : fills) {
        out += "<fill><patternFill patternType=\"solid\"><fgColor rgb=\"" + hexColour(colour) +
               "\"/><bgColor indexed=\"64\"/></patternFill></fill>";
    }
    out +=
        "</fills><borders count=\"2\"><border><left/><right/><top/><bottom/><diagonal/></border>"
        "<border><left style=\"thin\"><color auto=\"1\"/></left><right style=\"thin\"><color "
        "auto=\"1\"/></right><top style=\"thin\"><color auto=\"1\"/></top><bottom "
        "style=\"thin\"><color auto=\"1\"/></bottom><diagonal/></border></borders>";
    out += "<cellStyleXfs count=\"" + std::string(links ? "2" : "1") +
           "\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/>";
    if (links) {
        out += "<xf numFmtId=\"0\" fontId=\"" + integer(linkFont) +
               "\" fillId=\"0\" borderId=\"0\" applyNumberFormat=\"0\" applyFill=\"0\" "
               "applyBorder=\"0\" applyAlignment=\"0\" applyProtection=\"0\"><alignment "
               "vertical=\"top\"/><protection locked=\"0\"/></xf>";
    }
    out +=
        "</cellStyleXfs><cellXfs count=\"" + integer(static_cast<std::int64_t>(xfs.size())) + "\">";
    for (std::uint32_t id = 0; id < xfs.size(); ++id) {
        const CellStyle& s = styles.style(id);
        const Xf& xf = xfs[id];
        out += "<xf numFmtId=\"" + integer(xf.format) + "\" fontId=\"" + integer(xf.font) +
               "\" fillId=\"" + integer(xf.fill) + "\" borderId=\"" + integer(xf.border) +
               "\" xfId=\"" + (s.link != 0 ? "1" : "0") + "\"";
        if (s.link != 0) {
            out += " applyAlignment=\"1\" applyProtection=\"1\"/>";
            continue;
        }
        const bool alignment = s.alignment != 0 || s.wrap != 0;
        out += xf.format != 0 ? " applyNumberFormat=\"1\"" : "";
        out += xf.font != 0 ? " applyFont=\"1\"" : "";
        out += xf.fill != 0 ? " applyFill=\"1\"" : "";
        out += xf.border != 0 ? " applyBorder=\"1\"" : "";
        if (!alignment) {
            out += "/>";
            continue;
        }
        out += " applyAlignment=\"1\"><alignment";
        static constexpr const char* kHorizontal[] = {"", "", "left", "center", "right"};
        if (s.alignment >= 2 && s.alignment <= 4) {
            out += std::string(" horizontal=\"") + kHorizontal[s.alignment] + "\"";
        }
        if (s.wrap != 0) {
            out += " wrapText=\"1\"";
        }
        out += "/></xf>";
    }
    out += "</cellXfs><cellStyles count=\"" + std::string(links ? "2" : "1") + "\">";
    if (links) {
        out += "<cellStyle name=\"Hyperlink\" xfId=\"1\" builtinId=\"8\"/>";
    }
    out +=
        "<cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles><dxfs "
        "count=\"0\"/><tableStyles count=\"0\" defaultTableStyle=\"TableStyleMedium9\" "
        "defaultPivotStyle=\"PivotStyleLight16\"/></styleSheet>";
    return out;
}

}  // namespace paginor::xlsx
