// The links that mark where each page of a rendered document begins, read and taken out of the
// PDF with libqpdf.

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <algorithm>
#include <charconv>
#include <exception>
#include <string_view>

#include "app/print/pdf_replace.h"
#include "app/print/web_browser_print.h"

namespace paginor {

namespace {

// The page index a link annotation to kPageStartLink carries; -1 for any other annotation.
int pageStartIndex(QPDFObjectHandle annotation) {
    if (!annotation.isDictionary() || !annotation.getKey("/Subtype").isNameAndEquals("/Link"))
        return -1;
    QPDFObjectHandle action = annotation.getKey("/A");
    if (!action.isDictionary() || !action.getKey("/URI").isString())
        return -1;
    const std::string uri = action.getKey("/URI").getStringValue();
    const std::string_view prefix = kPageStartLink;
    if (uri.compare(0, prefix.size(), prefix) != 0)
        return -1;
    int index = -1;
    const char* digits = uri.data() + prefix.size();
    const auto [end, ec] = std::from_chars(digits, uri.data() + uri.size(), index);
    return ec == std::errc() && end == uri.data() + uri.size() && index >= 0 ? index : -1;
}

}  // namespace

bool TakePageStarts(const std::string& path, int firstPage, std::vector<int>& sheetPages,
                    std::string& error) {
    sheetPages.clear();
    try {
        QPDF pdf;
        pdf.processFile(path.c_str());
        int page = firstPage;
        bool found = false;
        for (QPDFPageObjectHelper& sheet : QPDFPageDocumentHelper(pdf).getAllPages()) {
            QPDFObjectHandle object = sheet.getObjectHandle();
            QPDFObjectHandle annotations = object.getKey("/Annots");
            if (annotations.isArray()) {
                QPDFObjectHandle kept = QPDFObjectHandle::newArray();
                int begun = -1;
                for (int i = 0; i < annotations.getArrayNItems(); ++i) {
                    QPDFObjectHandle annotation = annotations.getArrayItem(i);
                    const int index = pageStartIndex(annotation);
                    if (index < 0) {
                        kept.appendItem(annotation);
                    } else {
                        begun = std::max(begun, index);
                    }
                }
                if (kept.getArrayNItems() != annotations.getArrayNItems()) {
                    found = true;
                    if (kept.getArrayNItems() == 0)
                        object.removeKey("/Annots");
                    else
                        object.replaceKey("/Annots", kept);
                }
                if (begun >= 0)
                    page = firstPage + begun;
            }
            sheetPages.push_back(page);
        }
        if (found && !ReplacePdf(pdf, path, error)) {
            sheetPages.clear();
            return false;
        }
    } catch (const std::exception& e) {
        sheetPages.clear();
        error = std::string("Cannot read the printed pages: ") + e.what();
        return false;
    }
    return true;
}

}  // namespace paginor
