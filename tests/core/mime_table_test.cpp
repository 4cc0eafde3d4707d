#include "core/mime_table.h"

#include <gtest/gtest.h>

namespace paginor {
namespace {

TEST(MimeTable, ExtensionFromContentType) {
    struct Case {
        const char* contentType;
        const char* extension;
    } cases[] = {
        {"text/html; charset=utf-8", "htm"},
        {"image/jpeg", "jpeg"},
        {"application/x-compressed", "cab"},
        {"TEXT/CSS", "css"},
        {" text/css ;charset=x", "css"},
        {"image/gif", "gif"},
        {"application/octet-stream", "bin"},
        {"text/plain", "txt"},
        {"wwwserver/isapi", "asa"},
        {"video/quicktime", "mov"},
        // A longer type that merely starts like a row is another type.
        {"image/tiff-fx", ""},
        {"audio/mpegurl", ""},
        {"text/htmlx", ""},
        {"image/png", ""},
        {"", ""},
        {"text", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ExtensionFromContentType(c.contentType), c.extension) << c.contentType;
    }
}

TEST(MimeTable, ContentTypeFromExtension) {
    struct Case {
        const char* extension;
        const char* contentType;
    } cases[] = {
        {"html", "text/html"},
        {"HTM", "text/html"},
        {"css", "text/css"},
        {"cgi", "wwwserver/isapi"},
        {"cfm", "wwwserver/isapi"},
        {"htc", ""},
        {"arj", "application/x-arj"},
        {"rtf", "application/rtf"},
        {"jpg", "image/jpeg"},
        {"cpp", "text/plain"},
        {"wcgi", "wwwserver/isapi"},
        {"xlsx", ""},
        {"json", ""},
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ContentTypeFromExtension(c.extension), c.contentType) << c.extension;
    }
}

}  // namespace
}  // namespace paginor
