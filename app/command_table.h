#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace paginor {

// Command numbers of menu 128, the toolbars and the navigation bar.
namespace cmd {
constexpr int kOpen = 57601;
constexpr int kSaveAs = 32792;
constexpr int kSendTo = 32800;
constexpr int kOutputToExcel = 32785;
constexpr int kGetPdfOutput = 32802;
constexpr int kExit = 57665;
constexpr int kViewToolbar = 59392;
constexpr int kViewStatusBar = 59393;
constexpr int kViewNavigationBar = 103;
constexpr int kMyPageSetup = 32775;
constexpr int kTextLargest = 32784;
constexpr int kTextLarge = 32779;
constexpr int kTextMedium = 32780;
constexpr int kTextSmall = 32781;
constexpr int kTextSmallest = 32782;
constexpr int kKeywordGroup1 = 32789;
constexpr int kKeywordGroup2 = 32796;
constexpr int kKeywordGroup3 = 32797;
constexpr int kKeywordGroup4 = 32798;
constexpr int kTestUrl = 32793;
constexpr int kAutoUpdateSettings = 32795;
constexpr int kEmailAccountSetup = 32799;
constexpr int kReportDetail = 32774;
constexpr int kAddOnStatus = 32805;
constexpr int kManual = 32773;
constexpr int kOnlineManual = 32776;
constexpr int kCheckForNewVersion = 32788;
constexpr int kAbout = 57664;
constexpr int kPrint = 32787;
constexpr int kPrintButton = 1006;
constexpr int kFirstPage = 1034;
constexpr int kPrevPage = 1011;
constexpr int kNextPage = 1012;
constexpr int kLastPage = 1035;
constexpr int kSetAsDefault = 32771;
constexpr int kBufferToFile = 32772;
}  // namespace cmd

// What the enable and check rules look at.
struct CommandContext {
    bool loaded = false;
    std::int32_t firstPage = 0;  // the shown range
    std::int32_t lastPage = 0;
    std::int32_t pageCount = 0;
    bool updating = false;
    bool printDialogOpen = false;
    int textSize = 2;  // the view's, 0 (smallest) .. 4 (largest)
    bool bufferToFile = false;
};

struct CommandState {
    bool enabled = true;
    bool checkable = false;
    bool checked = false;
    bool operator==(const CommandState&) const = default;
};

struct CommandEntry {
    int id;
    const char* text;  // the menu text, or the button's name
};

// Every command the frame knows, in menu order.
const std::vector<CommandEntry>& CommandTable();

// The state of a command; nullopt for the bars, whose items the toolkit keeps, and for unknown
// ids.
std::optional<CommandState> GetCommandState(int id, const CommandContext& context);

// The view's text size of a text-size command (4 Largest .. 0 Smallest); -1 for other ids.
int TextSizeOfCommand(int id);

}  // namespace paginor
