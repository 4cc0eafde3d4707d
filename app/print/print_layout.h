#pragma once

#include <string>
#include <vector>

#include "app/print/print_services.h"
#include "platform/printer_system.h"

namespace paginor {

// A margin text in inches: ',' reads as '.'; empty, unparsable or negative text is 0.
double ParseInches(const std::string& text);

// The media whose PWG, PPD or display name equals paper, ignoring case; -1 when none does.
int FindMedia(const std::vector<PrinterMedia>& media, const std::string& paper);

// The first media, in the printer's order, whose short or display name begins with text,
// ignoring case, as a paper list selects by typed text; else the media FindMedia finds.
int FindMediaByPrefix(const std::vector<PrinterMedia>& media, const std::string& text);

// The name a paper is known by in reports and the page-setup store ("A4", "Letter").
std::string MediaShortName(const PrinterMedia& media);

struct MarginTexts {
    std::string left = "0";
    std::string right = "0";
    std::string top = "0";
    std::string bottom = "0";
};

// The page layout of a print: the paper as it stands in the orientation, the margins in inches
// but never inside the paper's hardware margins, and never so wide that less than an inch of
// the paper stays printable. A margin that holds a header or footer keeps room for its line
// inside the printable part of the paper.
PdfPageLayout MakePageLayout(const PrinterMedia& media, bool landscape, const MarginTexts& margins,
                             bool header = false, bool footer = false);

// A header or footer line with the browser's codes expanded: &w title, &u address, &d short
// date, &D long date, &t time, &T 24-hour time, &p page, &P pages, && '&'. &b splits the
// line: text before the first &b stands left, after it centred, after a second &b right.
struct HeaderFooterFields {
    std::string title;
    std::string address;
    std::string shortDate;
    std::string longDate;
    std::string time;
    std::string time24;
    int page = 1;
    int pages = 1;
};

struct HeaderFooterLine {
    std::string left;
    std::string center;
    std::string right;

    bool empty() const { return left.empty() && center.empty() && right.empty(); }
    bool operator==(const HeaderFooterLine&) const = default;
};

HeaderFooterLine ExpandHeaderFooter(const std::string& text, const HeaderFooterFields& fields);

}  // namespace paginor
