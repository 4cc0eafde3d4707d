#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "app/print/print_services.h"
#include "app/ui_services.h"
#include "core/report_core.h"

namespace paginor {

// The controls of the print-task dialog as the queue drives them; the Qt dialog implements it.
class PrintDlgView {
public:
    virtual ~PrintDlgView() = default;
    virtual void setTitle(const std::string& title) = 0;
    virtual void setStatus(const std::string& text) = 0;
    // The task list: entries join at the end and leave from the front.
    virtual void appendTasks(const std::vector<std::string>& commands) = 0;
    virtual void removeFirstTask() = 0;
    virtual void setPauseButton(const std::string& text, bool enabled) = 0;
    virtual void setCancelButton(const std::string& text, bool enabled) = 0;
    virtual void setNoDelayChecked(bool noDelay) = 0;
    virtual void startTimer() = 0;
    // Ends the modal run; the dialog's end (CPrintDlg::OnDestroy) follows.
    virtual void endDialog() = 0;
};

// What the queue needs of the frame and the document.
class PrintQueueHost {
public:
    virtual ~PrintQueueHost() = default;
    // The frame's interpreter: 1 when the command was carried out.
    virtual int RunCommand(const std::string& command) = 0;
    virtual void setTaskRunning(bool running) = 0;
    virtual void setPrintDialogOpen(bool open) = 0;
    // The title the print driver gives each job: the address under which the frame shows pages.
    virtual std::string pageAddress() const = 0;
    // True while pages go through the temporary page file (job titles are then file URLs).
    virtual bool bufferToFile() const = 0;
    // The queue ended: an armed print must not report to it any more.
    virtual void disarmPrint() = 0;
    // Why the last print task failed, in the print system's words; empty when unknown.
    virtual std::string lastPrintError() const = 0;
    // The print system's number of the job the last print task made; 0 when unknown.
    virtual int lastPrintJob() const = 0;
};

// The printer's spool queue.
class PrintSpool {
public:
    enum class Status { Listed, Stopped, NoPrinter, ListFailed };
    virtual ~PrintSpool() = default;
    // The titles of this user's active jobs on the printer. Stopped: the printer does not print
    // now, error says which and why in the print system's words. NoPrinter: error holds why the
    // printer cannot be opened.
    virtual Status activeJobTitles(const std::string& printer, std::vector<std::string>& titles,
                                   std::string& error) = 0;
    // The numbers of this user's active jobs on the printer; false with the print system's
    // words when they cannot be listed.
    virtual bool activeJobIds(const std::string& printer, std::vector<int>& ids,
                              std::string& error) = 0;
    // Withdraws the jobs from the printer's queue; a job that has ended meanwhile is no failure.
    virtual bool cancelJobs(const std::string& printer, const std::vector<int>& ids,
                            std::string& error) = 0;
};

// The lock that keeps two instances from feeding one printer at once.
class PrinterLock {
public:
    enum class Result { Acquired, Busy, Failed };
    virtual ~PrinterLock() = default;
    // Waits at most briefly. Busy: another process holds it; Failed: the lock cannot be made
    // at all (error says why).
    virtual Result tryAcquire(const std::string& name, std::string& error) = 0;
    virtual void release() = 0;
};

// The learned speed of the current printer, kept in the page-setup store.
class PrintSpeedStore {
public:
    virtual ~PrintSpeedStore() = default;
    virtual std::int32_t GetCurrentValue() = 0;
    virtual void SetCurrentValue(std::int32_t speed) = 0;
    // False with a message when the store cannot be written.
    virtual bool Save(std::string& error) = 0;
};

// What the queue asks of the loaded report.
class PrintTaskSource {
public:
    virtual ~PrintTaskSource() = default;
    // Throws ReportError as the report core does.
    virtual void SplitPageRange(std::int32_t from, std::int32_t to,
                                std::vector<tagPageRun>& runs) = 0;
    virtual std::int32_t GetPagesPerTask() = 0;
    virtual std::int32_t EstimatePrintWait(std::int32_t speed) = 0;
    virtual std::string GetErrorText() = 0;
};

// The report core as a task source.
class ReportTaskSource : public PrintTaskSource {
public:
    explicit ReportTaskSource(CReportCore& report) : m_report(report) {}
    void SplitPageRange(std::int32_t from, std::int32_t to,
                        std::vector<tagPageRun>& runs) override {
        m_report.SplitPageRange(from, to, runs);
    }
    std::int32_t GetPagesPerTask() override { return m_report.GetPagesPerTask(false); }
    std::int32_t EstimatePrintWait(std::int32_t speed) override {
        return m_report.EstimatePrintWait(true, speed);
    }
    std::string GetErrorText() override { return m_report.GetErrorText(); }

private:
    CReportCore& m_report;
};

struct PrintQueueServices {
    PrintQueueHost& host;
    PrintSpool& spool;
    PrinterLock& lock;
    PrintSpeedStore& speed;
    UiServices& ui;
    std::string supportAddress;
};

// The print-task queue: cuts a page range into check and print tasks and hands them one at a
// time to the frame's interpreter, paced by a 500 ms tick, the printer's spool queue, the
// printer lock and a countdown estimated from the size of the last task.
class CPrintDlg : public PrintTaskReceiver {
public:
    static constexpr std::int32_t kMaxEntries = 65536;
    static constexpr std::int32_t kTopUpBelow = 65000;
    static constexpr std::int32_t kChunksPerCheck = 10;
    static constexpr std::int32_t kManyChunks = 200;
    static constexpr std::int32_t kFirstJobLimit = 10;
    static constexpr std::int32_t kNoDelayJobLimit = 2;
    static constexpr std::int32_t kDelayJobLimit = 1;
    static constexpr std::int32_t kDefaultSpeed = 25;
    static constexpr std::int32_t kMaxSpeed = 120;
    static constexpr std::int32_t kDotCounterLimit = 30;

    enum class Outcome { Running, Done, Cancelled, Failed };

    CPrintDlg(const std::string& printerName, PrintQueueServices services);
    ~CPrintDlg();
    CPrintDlg(const CPrintDlg&) = delete;
    CPrintDlg& operator=(const CPrintDlg&) = delete;

    void SetPrintInfo(std::int32_t from, std::int32_t to, PrintTaskSource& report, bool collate,
                      std::int32_t copies);
    // Builds the task list and starts the timer; false when the report refused the range.
    bool OnInitDialog(PrintDlgView& view);
    void OnTimer();
    // A finished task: by the queue for a check task (no wait computed), by the view for a print
    // task (computeWait: its page count, never 0).
    bool OnTaskDone(const std::string& command, bool success, int computeWait) override;
    void OnPauseButton();
    void OnDelayChoice(bool noDelay);
    void OnCancel();
    // The dialog's end, whatever ended it.
    void OnDestroy();

    Outcome outcome() const { return m_outcome; }
    const std::string& printerName() const { return m_printerName; }
    const std::deque<std::string>& tasks() const { return m_tasks; }
    std::int32_t checkTasks() const { return m_checkTasks; }
    std::int32_t countdown() const { return m_countdown; }
    std::int32_t printerSpeed() const { return m_printerSpeed; }
    std::int32_t ownJobLimit() const { return m_ownJobLimit; }
    bool halted() const { return m_halted; }
    bool finished() const { return m_finished; }
    bool lockHeld() const { return m_lockHeld; }

    // "PAGINOR" and the printer name, '\' and '/' made '-'.
    static std::string LockName(const std::string& printerName);
    // The dots counter of the waiting texts, shared by every queue of the process.
    static std::int32_t& WaitDotCounter();

private:
    // Adds entries of the print sequence until it is done or the list holds enough.
    void addPrintTasks(std::int32_t entryLimit);
    // A message box during which the timer does nothing.
    MessageAnswer say(const std::string& text, MessageButtons buttons = MessageButtons::Ok,
                      MessageIcon icon = MessageIcon::None, const std::string& title = {});
    // Stops the queue for good; message (when not empty) is shown with the pages sent so far.
    void fail(const std::string& message);
    // "pages 1-9 of 40 were sent to Office": which of the range's pages have printed.
    std::string sentText() const;
    // Offers to withdraw the jobs of this print still waiting in the printer's queue.
    void offerWithdrawal();
    void finishAs(Outcome outcome);
    // blocked: the wait counts as the printer being slow, for the speed learning.
    void showWaiting(const std::string& text, bool blocked = true);
    bool isPrintTaskNext() const { return m_nextTask > m_checkTasks; }
    // How many of this program's jobs stand in the printer's queue; -1 when that is unknown,
    // -2 when the printer cannot be opened, -3 when it is stopped (error holds why).
    std::int32_t countOwnJobs(std::string& error);

    PrintQueueServices m_services;
    PrintDlgView* m_view = nullptr;
    PrintTaskSource* m_report = nullptr;
    std::string m_printerName;

    std::int32_t m_tasksStarted = 0;
    std::vector<tagPageRun> m_chunks;
    std::int32_t m_entriesAdded = 0;
    // Position in the print sequence (chunks times copies) of the next entry to add; the chunks
    // are dropped once every entry is added.
    std::int64_t m_nextEntry = 0;
    std::int32_t m_from = 0;
    std::int32_t m_to = 0;
    bool m_collate = true;
    std::int32_t m_copies = 1;
    bool m_halted = true;
    std::int32_t m_printerSpeed = kDefaultSpeed;
    std::int32_t m_countdown = 0;
    std::int32_t m_blockedTicks = 0;
    std::int32_t m_countdownStart = 0;
    std::int32_t m_checkTasks = 0;
    std::int32_t m_nextTask = 1;
    bool m_finished = false;
    std::int32_t m_ownJobLimit = kFirstJobLimit;
    bool m_lockHeld = false;
    bool m_taskInFlight = false;
    bool m_cancelPending = false;
    std::string m_cancelText = "Cancel Now";
    std::string m_pauseText = "Start Now";
    bool m_cancelEnabled = true;
    bool m_pauseEnabled = true;
    bool m_ended = false;
    int m_messagesShowing = 0;
    // The print tasks that printed, in order, with the print system's number of their job.
    struct SentTask {
        std::int32_t first;
        std::int32_t last;
        int jobId;
    };
    std::vector<SentTask> m_sent;
    std::deque<std::string> m_tasks;
    Outcome m_outcome = Outcome::Running;
};

}  // namespace paginor
