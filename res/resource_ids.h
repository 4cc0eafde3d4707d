#pragma once

// Command and resource numbers of the main frame, as the rest of the program names them.
namespace paginor::res {

// Commands.
constexpr int kOpen = 57601;
constexpr int kExit = 57665;
constexpr int kReportDetail = 32774;
constexpr int kPrint = 32787;
constexpr int kOutputToExcel = 32785;
constexpr int kSendTo = 32800;
constexpr int kPrevPage = 1011;
constexpr int kNextPage = 1012;
constexpr int kFirstPage = 1034;
constexpr int kLastPage = 1035;
constexpr int kViewToolbar = 59392;
constexpr int kViewStatusBar = 59393;
constexpr int kViewNavigationBar = 103;

// Controls.
constexpr int kFirstPageField = 1005;
constexpr int kLastPageField = 1010;
constexpr int kPageList = 1084;

// Images: the big toolbar's five buttons, the navigation buttons and the frame's icon.
constexpr const char* kOpenImage = ":/icons/open.svg";                   // bitmap 153
constexpr const char* kReportDetailImage = ":/icons/report-detail.svg";  // bitmap 154
constexpr const char* kPrintImage = ":/icons/print.svg";                 // bitmap 155
constexpr const char* kExportImage = ":/icons/export.svg";               // bitmap 156
constexpr const char* kSendImage = ":/icons/send.svg";                   // bitmap 157
constexpr const char* kPreviousIcon = ":/icons/previous.svg";            // icon 136
constexpr const char* kNextIcon = ":/icons/next.svg";                    // icon 137
constexpr const char* kFirstIcon = ":/icons/first.svg";                  // icon 138
constexpr const char* kLastIcon = ":/icons/last.svg";                    // icon 139
constexpr const char* kFrameIcon = ":/icons/paginor.svg";                // icon 141

}  // namespace paginor::res
