#include "app/print/pdf_replace.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

#include "platform/replacing_file.h"

namespace paginor {

bool ReplacePdf(QPDF& pdf, const std::string& path, std::string& error) {
    ReplacingFile replaced(path);
    if (!replaced.create()) {
        error = "Cannot replace " + replaced.error();
        return false;
    }
    {
        QPDFWriter writer(pdf, replaced.temporaryPath().c_str());
        writer.write();
    }
    if (!replaced.commit()) {
        error = "Cannot replace " + replaced.error();
        return false;
    }
    return true;
}

}  // namespace paginor
