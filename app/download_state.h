#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace paginor {

class CReportCore;
class PrinterSystem;
class SettingsStore;
class UiServices;

enum class DownloadMode { Download = 0, Initialise = 1 };

// DownloadState: the block shared by start-up, one worker and DownloadDlg. The
// state owns its texts (path, error, step) and is held by both threads for the whole job.
//
// The flags mean different things in the two modes:
//   download:       succeeded = whole file read and not cancelled; finished = the reading loop
//                   ended, or the user cancelled;
//   initialisation: succeeded = the thread has ended, normally or not; finished = Init returned.
struct DownloadState {
    static constexpr std::size_t kPathCapacity = 2048;  // the command line's address buffer
    static constexpr std::size_t kErrorCapacity = 512;  // the error buffer, NUL included

    std::string path;  // download: the address in, the local file out; initialisation: the file
    std::size_t pathCapacity = 0;
    std::atomic<bool> succeeded{false};
    std::atomic<bool> finished{false};
    std::atomic<bool> cancelRequested{false};
    CReportCore* report = nullptr;
    std::optional<std::string> cookie;
    std::string reportAddress;  // initialisation: the address the report came from, or empty
    std::string errorText;      // at most kErrorCapacity - 1 bytes
    std::string step;           // the download's last step name

    // Clears the flags, the error and the dialog link before a job starts.
    void reset();
    // Sets the error text, cut to the error buffer.
    void setError(std::string text);

    // The dialog's side: while attached, CloseDialog() runs close (which must only post to the
    // dialog's thread). A close asked for before the dialog attached is remembered:
    // attachDialog() answers true and the dialog closes itself at once.
    bool attachDialog(std::function<void()> close);
    void detachDialog();
    // The worker's side: Cancel is taken no more, then the dialog closes.
    void CloseDialog();
    bool closeRequested() const { return m_closeRequested.load(); }

private:
    std::mutex m_mutex;
    std::function<void()> m_close;
    std::atomic<bool> m_closeRequested{false};
};

// What the download thread needs beside the state; tests shorten the time-outs.
struct DownloadEnvironment {
    // WM_SETPROGRESS from the worker thread: must only post to the user-interface thread.
    std::function<void(int percent)> progress;
    std::string tempFolder;  // empty: the system's temporary folder
    long connectTimeoutMs = 10000;
    long responseTimeoutMs = 3600000;
    long idleTimeoutMs = 2400000;
    long lowSpeedBytesPerSecond = 1024;  // once bytes move, less over a whole window fails
    long lowSpeedWindowMs = 60000;
};

// Pure pieces of the download, tested by table.
// Unwraps the browser's navigation-cancelled page and a "javascript:redirect(...)" address.
std::string UnwrapAddress(std::string_view address);
// ".pdf", ".doc" or ".txt" for the three content types (prefix, any case), else ".htm".
const char* DownloadExtension(std::string_view contentType);
// Whole percent of total in length (length > 0), in 64 bits.
int DownloadPercent(std::int64_t total, std::int64_t length);

// The two thread functions; both end by closing the dialog (unless cancelled).
void DownloadThreadProc(DownloadState& state, const DownloadEnvironment& env);
void InitReportThreadProc(DownloadState& state);

// How OpenNonReportFile reaches the desktop; tests replace the program starter and the port.
struct NonReportEnvironment {
    SettingsStore* settings = nullptr;
    UiServices* ui = nullptr;
    // Starts a program from an argument array; default: spawnDetached.
    std::function<bool(const std::vector<std::string>& argv, std::string& error)> start;
    std::string printToolHost = "127.0.0.1";
    int printToolPort = 47865;
    // Where files other than PDFs print: the current printer when the system has it, else the
    // system's default one.
    PrinterSystem* printers = nullptr;
    std::string printer{};
    // The address the file was downloaded from: its job's title (else the file's name).
    std::string address{};
};
inline constexpr int kMaxNonReportNotices = 4;

// Hands a downloaded file that is not a report to the desktop's program for its type; to print,
// a PDF goes to the local print tool and any other file to a printer of the print system.
void OpenNonReportFile(const std::string& path, bool print, const NonReportEnvironment& env);

}  // namespace paginor
