#pragma once

// A sheet's drawing of its pictures, the drawing's relationships, and the kind of a picture
// file.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace paginor::xlsx {

struct SheetPicture {
    std::int32_t row;
    std::int32_t column;
    std::string path;
    double height;  // points
    double width;
};

// A drawing of the pictures at their cells, picture i shown from relationship rId<i + 1>;
// widths and heights are the sheet's own, in characters and points.
std::string DrawingXml(const std::vector<SheetPicture>& pictures,
                       const std::vector<std::pair<std::int32_t, double>>& widths,
                       const std::vector<std::pair<std::int32_t, double>>& heights);
// Relationship rId<i + 1> names media[i], a part name under xl/media/.
std::string DrawingRelationships(const std::vector<std::string>& media);

// The part name extension of a picture by its first bytes; nullopt for none of PNG, GIF, BMP and
// JPEG.
std::optional<std::string> PictureKind(std::string_view head);

}  // namespace paginor::xlsx
