#include "app/print/print_setup.h"

#include <algorithm>
#include <charconv>

#include "app/command_helpers.h"
#include "app/ui_services.h"
#include "core/text_format.h"
#include "core/text_scan.h"

namespace paginor {

namespace {

bool sameNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && startsWithNoCase(a, b);
}

std::string cut(const std::string& text, std::size_t bytes) {
    return text.substr(0, bytes);
}

// The leading decimal number of a page field; 0 when there is none.
std::int32_t fieldValue(const std::string& text) {
    std::int64_t value = 0;
    const char* begin = text.data();
    const char* end = begin + std::min<std::size_t>(text.size(), 10);
    std::from_chars(begin, end, value);
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, 0, INT32_MAX));
}

}  // namespace

bool UrlParameter(const std::string& address, const std::string& name, std::string& value) {
    value.clear();
    const std::size_t query = address.find('?');
    if (query == std::string::npos || name.empty()) {
        return false;
    }
    const std::string key = name + "=";
    std::size_t at = query + 1;
    while (at <= address.size()) {
        const std::size_t amp = std::min(address.find('&', at), address.size());
        if (address.compare(at, key.size(), key) == 0 && at + key.size() <= amp) {
            value = address.substr(at + key.size(), amp - at - key.size());
            return true;
        }
        at = amp + 1;
    }
    return false;
}

bool ApplyPrintDirectives(const PrintDirectiveInput& input, bool ask, PageSetupAccess& store,
                          PrinterSetupTarget& driver, UiServices& ui,
                          PrintDirectiveResult& result) {
    result = {};
    std::string paper = input.paper;
    std::string printer = input.printer;
    if (!printer.empty() && printer[0] == '&') {
        std::string value;
        if (UrlParameter(input.reportAddress, printer.substr(1), value)) {
            printer = value;
        } else {
            const std::string question = "Paginor detect printer name in HTML file is " + printer +
                                         ", however, it can not get the paramter in the URL (" +
                                         input.reportAddress + "). \n\nContinue printing?";
            if (ui.messageBox(question, MessageButtons::YesNo) == MessageAnswer::No) {
                return false;
            }
            // A parameter name is no printer: the store and the driver choose one.
            printer.clear();
        }
    }

    std::int32_t orientation = 0;
    bool found = true;
    std::string keyPaper;
    std::string keyPrinter;
    std::int32_t keyOrientation = 0;
    const bool keyRecord =
        store.LookupByKey(input.pageHeight, keyPaper, keyPrinter, keyOrientation);
    if (!paper.empty() && printer.empty()) {
        std::string lastPrinter;
        std::int32_t lastOrientation = 0;
        if (keyRecord && sameNoCase(keyPaper, paper)) {
            printer = keyPrinter;
        } else if (store.LookupByPaper(paper, lastPrinter, lastOrientation)) {
            printer = lastPrinter;
            orientation = lastOrientation;
        } else {
            found = false;
        }
    } else if (paper.empty() && !printer.empty()) {
        if (keyRecord && sameNoCase(keyPrinter, printer)) {
            paper = keyPaper;
        }
    } else if (paper.empty() && printer.empty()) {
        if (keyRecord) {
            paper = keyPaper;
            printer = keyPrinter;
            orientation = keyOrientation;
        } else if (!store.LookupCurrent(paper, printer, orientation)) {
            found = false;
        }
    }
    if (!found && input.orientation != 0 && input.orientation != 1) {
        return false;
    }
    if (input.orientation == 0 || input.orientation == 1) {
        orientation = input.orientation;
    }

    std::string printerBefore;
    std::string paperBefore;
    std::string paperNow;
    bool printerSet = true;
    bool paperSet = true;
    if (!driver.PrintSetup(paper, printer, printerBefore, paperBefore, orientation, printerSet,
                           paperSet, paperNow)) {
        return false;
    }
    const bool printerFailed = !printer.empty() && !printerSet;
    const bool paperFailed = !paper.empty() && !paperSet;
    if (printerFailed || paperFailed) {
        std::string text = "Error:\n";
        if (printerFailed) {
            text += "Fail to setup up printer as \"" + printer +
                    "\", Current selected printer is \"" + printerBefore + "\" \n";
        }
        if (paperFailed) {
            text += "Fail to setup up paper size as \"" + paper +
                    "\", Current selected paper size is \"" + paperBefore + "\" \n";
        }
        if (ask) {
            text += "Continue printing?";
            if (ui.messageBox(text, MessageButtons::YesNo) == MessageAnswer::No) {
                return false;
            }
        } else {
            ui.messageBox(text);
        }
    }
    result.printer = printer.empty() || printerFailed ? printerBefore : printer;
    // A paper named by the beginning of its name is known by its whole name from here on.
    result.paper = paper.empty() || paperFailed ? paperBefore : paperNow;
    result.orientation = orientation;
    return !result.printer.empty();
}

void PrintSetup::SetInfo(std::int32_t pageCount, std::int32_t from, std::int32_t to,
                         std::int32_t shownFrom, std::int32_t shownTo, const std::string& printer,
                         const std::string& paper, std::int32_t orientation) {
    m_pageCount = pageCount;
    m_from = from;
    m_to = to;
    m_shownFrom = shownFrom;
    m_shownTo = shownTo;
    m_printer = cut(printer, kMaxNameBytes);
    m_paper = cut(paper, kMaxNameBytes);
    m_orientation = orientation == 1 ? 1 : 0;
}

void PrintSetup::SetPrinterChoice(const std::string& printer, const std::string& paper,
                                  std::int32_t orientation) {
    m_printer = cut(printer, kMaxNameBytes);
    m_paper = cut(paper, kMaxNameBytes);
    m_orientation = orientation == 1 ? 1 : 0;
}

void PrintSetup::OnInitDialog(std::int32_t pageHeight) {
    m_pagesPerTask = 1;
    // Report layouts of these heights fit so many pages in a task.
    struct Default {
        std::int32_t height;
        std::int32_t pages;
    };
    constexpr Default kDefaults[] = {{198, 4}, {264, 3}, {396, 2}};
    for (const Default& d : kDefaults) {
        if (pageHeight == d.height && m_pageCount >= d.pages) {
            m_pagesPerTask = d.pages;
        }
    }
    m_copies = 1;
    m_collate = false;
}

std::string PrintSetup::allPagesText() const {
    return "Print All Pages (" + std::to_string(m_pageCount) + " Pages)";
}

std::int32_t PrintSetup::printerIndex(const std::vector<std::string>& printers) const {
    for (std::size_t i = 0; i < printers.size(); ++i) {
        if (sameNoCase(printers[i], m_printer)) {
            return static_cast<std::int32_t>(i);
        }
    }
    return -1;
}

bool PrintSetup::PageTextValid(const std::string& text) const {
    if (text.empty() || text.size() > 10 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    const std::int32_t page = fieldValue(text);
    return page >= 1 && page <= m_pageCount;
}

std::string PrintSetup::BeforeReportValuePage(const std::string& printer,
                                              const std::string& helpAddress) const {
    std::string directives;
    if (!printer.empty()) {
        directives = "<!--PAGINOR?printer=" + printer + "-->";
    }
    if (!m_paper.empty()) {
        directives += "\r\n<!--PAGINOR?papersize=" + m_paper + "-->";
    }
    return "<html><body>You can edit the \"Before Report Value\" of report, input some special "
           "string, specify the paper size or printer. <p><textarea cols=80 row=4>" +
           EscapeMarkup(directives) +
           "</textarea></p><p>For more information, <a href=" + helpAddress +
           ">please see the document</a></p></body></html>";
}

PrintSetup::OkResult PrintSetup::OnOK(const Choice& choice, std::int32_t pageHeight,
                                      PageSetupAccess& store, UiServices& ui,
                                      const std::string& supportAddress,
                                      std::string& framePrinter) {
    if (choice.pagesPerTask < 1 || choice.pagesPerTask > kMaxPagesPerTask || choice.copies < 1 ||
        choice.copies > kMaxCopies) {
        return OkResult::Stay;
    }
    std::int32_t from = m_from;
    std::int32_t to = m_to;
    if (choice.range == Range::Pages) {
        from = fieldValue(choice.fromText);
        to = fieldValue(choice.toText);
        const std::string count = std::to_string(m_pageCount);
        if (from < 1) {
            ui.messageBox("The first page to print must be a page number from 1 to " + count);
            return OkResult::FocusFrom;
        }
        if (to > m_pageCount) {
            const std::size_t digits = choice.toText.find_first_not_of("0123456789");
            ui.messageBox("The report has " + count + " pages: the last page to print cannot be " +
                          choice.toText.substr(0, digits));
            return OkResult::FocusTo;
        }
        if (from > to) {
            ui.messageBox("The first page to print (" + std::to_string(from) +
                          ") comes after the last page to print (" + std::to_string(to) + ")");
            return OkResult::FocusTo;
        }
    } else if (choice.range == Range::All) {
        from = 1;
        to = m_pageCount;
    }
    m_from = from;
    m_to = to;
    if (!choice.printer.empty()) {
        framePrinter = cut(choice.printer, kMaxNameBytes);
    }
    m_printer = framePrinter;
    // An empty name is no printer to remember.
    if (!m_printer.empty()) {
        if (pageHeight != 0) {
            store.Update(pageHeight, m_paper, m_printer, m_orientation);
        } else {
            store.SetCurrent(m_paper, m_printer, m_orientation);
        }
        std::string error;
        if (!store.Save(error)) {
            ui.messageBox(error, MessageButtons::Ok, MessageIcon::Stop);
        }
    }
    if (framePrinter.empty()) {
        ui.messageBox("Failed to get the default printer name. Please contact " + supportAddress +
                      " and report the bug. Thank for your cooperation");
        return OkResult::Close;
    }
    m_copies = choice.copies;
    m_collate = choice.collate;
    m_pagesPerTask = choice.copies >= 2 && !choice.collate ? 1 : choice.pagesPerTask;
    return OkResult::Print;
}

}  // namespace paginor
