#include "convert/write/xlsx/drawing_part.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>

#include "convert/write/xlsx/model.h"
#include "convert/write/xlsx/part_text.h"

namespace paginor::xlsx {

namespace {

constexpr double kDefaultRowHeight = 15;
constexpr double kEmuPerPixel = 9525;

}  // namespace

std::string DrawingXml(const std::vector<SheetPicture>& pictures,
                       const std::vector<std::pair<std::int32_t, double>>& widths,
                       const std::vector<std::pair<std::int32_t, double>>& heights) {
    const std::map<std::int32_t, double> widthOf(widths.begin(), widths.end());
    const std::map<std::int32_t, double> heightOf(heights.begin(), heights.end());
    auto columnWidth = [&](std::int32_t c) {
        const auto it = widthOf.find(c);
        return columnPixels(it == widthOf.end() ? kDefaultColumnWidth : it->second);
    };
    auto rowHeight = [&](std::int32_t r) {
        const auto it = heightOf.find(r);
        return static_cast<std::int32_t>(
            (it == heightOf.end() ? kDefaultRowHeight : it->second) * 4 / 3 + 0.5);
    };
    // The pixel where cell (row, column) starts, and the cell and offset where a length ends.
    auto start = [](std::int32_t first, const auto& size) {
        std::int64_t at = 0;
        for (std::int32_t i = 0; i < first; ++i) {
            at += size(i);
        }
        return at;
    };
    auto end = [](std::int32_t first, double length, const auto& size, std::int32_t& cell,
                  double& offset) {
        cell = first;
        while (length >= size(cell) && size(cell) > 0) {
            length -= size(cell);
            ++cell;
        }
        offset = length;
    };
    std::string out = kXmlDeclaration;
    out +=
        "<xdr:wsDr xmlns:xdr=\"http://schemas.openxmlformats.org/drawingml/2006/"
        "spreadsheetDrawing\" xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\">";
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        const SheetPicture& p = pictures[i];
        // Points at 96 pixels an inch.
        const double width = p.width * 96 / 72;
        const double height = p.height * 96 / 72;
        std::int32_t toColumn = 0;
        std::int32_t toRow = 0;
        double columnOffset = 0;
        double rowOffset = 0;
        end(p.column, width, columnWidth, toColumn, columnOffset);
        end(p.row, height, rowHeight, toRow, rowOffset);
        const std::string n = integer(static_cast<std::int64_t>(i + 1));
        out += "<xdr:twoCellAnchor editAs=\"oneCell\"><xdr:from><xdr:col>" + integer(p.column) +
               "</xdr:col><xdr:colOff>0</xdr:colOff><xdr:row>" + integer(p.row) +
               "</xdr:row><xdr:rowOff>0</xdr:rowOff></xdr:from><xdr:to><xdr:col>" +
               integer(toColumn) + "</xdr:col><xdr:colOff>" +
               integer(std::llround(columnOffset * kEmuPerPixel)) + "</xdr:colOff><xdr:row>" +
               integer(toRow) + "</xdr:row><xdr:rowOff>" +
               integer(std::llround(rowOffset * kEmuPerPixel)) +
               "</xdr:rowOff></xdr:to><xdr:pic><xdr:nvPicPr><xdr:cNvPr id=\"" +
               integer(static_cast<std::int64_t>(i + 2)) + "\" name=\"Picture " + n + "\" descr=\"";
        const auto slash = p.path.rfind('/');
        appendAttributeText(out, slash == std::string::npos ? p.path : p.path.substr(slash + 1));
        out +=
            "\"/><xdr:cNvPicPr><a:picLocks noChangeAspect=\"1\"/></xdr:cNvPicPr></xdr:nvPicPr>"
            "<xdr:blipFill><a:blip xmlns:r=\"";
        out += kRelationshipsNamespace;
        out += "\" r:embed=\"rId" + n +
               "\"/><a:stretch><a:fillRect/></a:stretch></xdr:blipFill><xdr:spPr><a:xfrm><a:off "
               "x=\"" +
               integer(
                   std::llround(static_cast<double>(start(p.column, columnWidth)) * kEmuPerPixel)) +
               "\" y=\"" +
               integer(std::llround(static_cast<double>(start(p.row, rowHeight)) * kEmuPerPixel)) +
               "\"/><a:ext cx=\"" + integer(std::llround(width * kEmuPerPixel)) + "\" cy=\"" +
               integer(std::llround(height * kEmuPerPixel)) +
               "\"/></a:xfrm><a:prstGeom prst=\"rect\"><a:avLst/></a:prstGeom></xdr:spPr>"
               "</xdr:pic><xdr:clientData/></xdr:twoCellAnchor>";
    }
    out += "</xdr:wsDr>";
    return out;
}

std::string DrawingRelationships(const std::vector<std::string>& media) {
    std::string out = kXmlDeclaration;
    out += "<Relationships xmlns=\"";
    out += kPackageRelationships;
    out += "\">";
    for (std::size_t i = 0; i < media.size(); ++i) {
        out += "<Relationship Id=\"rId" + integer(static_cast<std::int64_t>(i + 1)) + "\" Type=\"" +
               kRelationshipsNamespace + "/image\" Target=\"../media/" + media[i] + "\"/>";
    }
    out += "</Relationships>";
    return out;
}

std::optional<std::string> PictureKind(std::string_view bytes) {
    if (bytes.size() < 2) {
        return std::nullopt;
    }
    unsigned char head[4] = {};
    std::memcpy(head, bytes.data(), std::min<std::size_t>(bytes.size(), sizeof head));
    if (std::memcmp(head, "\x89PNG", 4) == 0) {
        return "png";
    }
    if (std::memcmp(head, "GIF", 3) == 0) {
        return "gif";
    }
    if (head[0] == 'B' && head[1] == 'M') {
        return "bmp";
    }
    if (head[0] == 0xFF && head[1] == 0xD8) {
        return "jpeg";
    }
    return std::nullopt;
}

}  // namespace paginor::xlsx
