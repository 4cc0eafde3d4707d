#include "core/mime_table.h"

#include <array>

#include "core/text_scan.h"

namespace paginor {

namespace {

struct MimeRow {
    std::string_view extension;
    std::string_view contentType;
};

// Order matters: the first row wins in both directions.
constexpr std::array<MimeRow, 72> kMimeTable{{
    {"htm", "text/html"},
    {"html", "text/html"},
    {"pdf", "application/pdf"},
    {"doc", "application/msword"},
    {"xls", "application/vnd.ms-excel"},
    {"bin", "application/octet-stream"},
    {"dll", "application/octet-stream"},
    {"exe", "application/octet-stream"},
    {"p7c", "application/pkcs7-mime"},
    {"ai", "application/postscript"},
    {"eps", "application/postscript"},
    {"ps", "application/postscript"},
    {"rtf", "application/rtf"},
    {"fdf", "application/vnd.fdf"},
    {"arj", "application/x-arj"},
    {"gz", "application/x-gzip"},
    {"class", "application/x-java-class"},
    {"js", "application/x-javascript"},
    {"lzh", "application/x-lzh"},
    {"lnk", "application/x-ms-shortcut"},
    {"tar", "application/x-tar"},
    {"hlp", "application/x-winhelp"},
    {"cert", "application/x-x509-ca-cert"},
    {"zip", "application/zip"},
    {"cab", "application/x-compressed"},
    {"arj", "application/x-compressed"},
    {"aif", "audio/aiff"},
    {"aifc", "audio/aiff"},
    {"aiff", "audio/aiff"},
    {"au", "audio/basic"},
    {"snd", "audio/basic"},
    {"mid", "audio/midi"},
    {"rmi", "audio/midi"},
    {"mp3", "audio/mpeg"},
    {"vox", "audio/voxware"},
    {"wav", "audio/wav"},
    {"ra", "audio/x-pn-realaudio"},
    {"ram", "audio/x-pn-realaudio"},
    {"bmp", "image/bmp"},
    {"gif", "image/gif"},
    {"jpeg", "image/jpeg"},
    {"jpg", "image/jpeg"},
    {"tif", "image/tiff"},
    {"tiff", "image/tiff"},
    {"xbm", "image/xbm"},
    {"wrl", "model/vrml"},
    {"txt", "text/plain"},
    {"c", "text/plain"},
    {"cpp", "text/plain"},
    {"def", "text/plain"},
    {"h", "text/plain"},
    {"rtx", "text/richtext"},
    {"rtf", "text/richtext"},
    {"java", "text/x-java-source"},
    {"css", "text/css"},
    {"mpeg", "video/mpeg"},
    {"mpg", "video/mpeg"},
    {"mpe", "video/mpeg"},
    {"avi", "video/msvideo"},
    {"mov", "video/quicktime"},
    {"qt", "video/quicktime"},
    {"shtml", "wwwserver/html-ssi"},
    {"asa", "wwwserver/isapi"},
    {"asp", "wwwserver/isapi"},
    {"cfm", "wwwserver/isapi"},
    {"dbm", "wwwserver/isapi"},
    {"isa", "wwwserver/isapi"},
    {"plx", "wwwserver/isapi"},
    {"url", "wwwserver/isapi"},
    {"cgi", "wwwserver/isapi"},
    {"php", "wwwserver/isapi"},
    {"wcgi", "wwwserver/isapi"},
}};

// Table entries are short, so equal sizes also fit the helper's int lengths.
bool equalsIgnoringCase(std::string_view entry, std::string_view text) {
    return entry.size() == text.size() && EqualNoCaseN(entry.data(), static_cast<int>(entry.size()),
                                                       text.data(), static_cast<int>(text.size()));
}

std::string_view withoutBlanks(std::string_view text) {
    std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

std::string_view ExtensionFromContentType(std::string_view contentType) {
    std::string_view type = withoutBlanks(contentType.substr(0, contentType.find(';')));
    for (const MimeRow& row : kMimeTable) {
        if (equalsIgnoringCase(row.contentType, type)) {
            return row.extension;
        }
    }
    return {};
}

std::string_view ContentTypeFromExtension(std::string_view extension) {
    for (const MimeRow& row : kMimeTable) {
        if (equalsIgnoringCase(row.extension, extension)) {
            return row.contentType;
        }
    }
    return {};
}

}  // namespace paginor
