#include "app/command_table.h"

namespace paginor {

const std::vector<CommandEntry>& CommandTable() {
    static const std::vector<CommandEntry> table = {
        {cmd::kOpen, "&Open...\tCtrl+O"},
        {cmd::kSaveAs, "Save &As ..."},
        {cmd::kSendTo, "&Send To ..."},
        {cmd::kOutputToExcel, "Output to Excel or Html File..."},
        {cmd::kGetPdfOutput, "Get PDF Output"},
        {cmd::kExit, "E&xit"},
        {cmd::kViewToolbar, "&Toolbar"},
        {cmd::kViewStatusBar, "&Status Bar"},
        {cmd::kViewNavigationBar, "&Navigation Bar"},
        {cmd::kMyPageSetup, "My Page Setup ..."},
        {cmd::kTextLargest, "Largest"},
        {cmd::kTextLarge, "Large"},
        {cmd::kTextMedium, "Medium"},
        {cmd::kTextSmall, "Small"},
        {cmd::kTextSmallest, "Smallest"},
        {cmd::kKeywordGroup1, "Group #1..."},
        {cmd::kKeywordGroup2, "Group #2"},
        {cmd::kKeywordGroup3, "Group #3"},
        {cmd::kKeywordGroup4, "Group #4"},
        {cmd::kTestUrl, "Test URL ..."},
        {cmd::kAutoUpdateSettings, "Auto-updates setting..."},
        {cmd::kEmailAccountSetup, "Email Accout Setup..."},
        {cmd::kSetAsDefault, "Set This Program As Default Instead Of Orarrp"},
        {cmd::kBufferToFile, "Buffer To File While Printing"},
        {cmd::kReportDetail, "Current Report Detail"},
        {cmd::kAddOnStatus, "IE Add-on Status ..."},
        {cmd::kManual, "Manual..."},
        {cmd::kOnlineManual, "Online Manual..."},
        {cmd::kCheckForNewVersion, "Check for New Version..."},
        {cmd::kAbout, "About..."},
        {cmd::kPrint, "Print"},
        {cmd::kPrintButton, "Print"},
        {cmd::kFirstPage, "First page"},
        {cmd::kPrevPage, "Previous page"},
        {cmd::kNextPage, "Next page"},
        {cmd::kLastPage, "Last page"},
    };
    return table;
}

int TextSizeOfCommand(int id) {
    switch (id) {
        case cmd::kTextLargest:
            return 4;
        case cmd::kTextLarge:
            return 3;
        case cmd::kTextMedium:
            return 2;
        case cmd::kTextSmall:
            return 1;
        case cmd::kTextSmallest:
            return 0;
        default:
            return -1;
    }
}

std::optional<CommandState> GetCommandState(int id, const CommandContext& c) {
    CommandState state;
    switch (id) {
        case cmd::kViewToolbar:
        case cmd::kViewStatusBar:
        case cmd::kViewNavigationBar:
            return std::nullopt;
        case cmd::kSaveAs:
        case cmd::kPrint:
        case cmd::kPrintButton:
            state.enabled = c.loaded;
            return state;
        case cmd::kOutputToExcel:
            state.enabled = c.loaded && !c.printDialogOpen;
            return state;
        case cmd::kExit:
        case cmd::kCheckForNewVersion:
            state.enabled = !c.updating;
            return state;
        case cmd::kFirstPage:
            state.enabled = c.loaded && c.firstPage != 1;
            return state;
        case cmd::kPrevPage:
            state.enabled = c.loaded && c.firstPage >= 2;
            return state;
        case cmd::kNextPage:
            state.enabled = c.loaded && c.lastPage < c.pageCount;
            return state;
        case cmd::kLastPage:
            state.enabled = c.loaded && c.lastPage != c.pageCount;
            return state;
        case cmd::kBufferToFile:
            state.checkable = true;
            state.checked = c.bufferToFile;
            return state;
        default:
            break;
    }
    if (const int size = TextSizeOfCommand(id); size >= 0) {
        state.checkable = true;
        state.checked = c.textSize == size;
        return state;
    }
    for (const CommandEntry& entry : CommandTable()) {
        if (entry.id == id) {
            return state;
        }
    }
    return std::nullopt;
}

}  // namespace paginor
