#include "app/print/print_dlg.h"

#include <algorithm>

#include "app/ui_services.h"

namespace paginor {

namespace {

constexpr char kWaitingStatus[] = "Waiting Status   ";
constexpr char kBusy[] = "Printer is busy now";
constexpr char kSomethingWrong[] = "Something wrong, please try later";
constexpr char kCannotFinish[] = "Something wrong, print jobs cannot finish, please try later";
constexpr char kMismatch[] = "Exception,strcmp(Buf,sCmd)!=0 (for programmer only)";
constexpr char kPaused[] = "Paused status , you can click CLOSE to cancel all tasks";
constexpr char kCancelQuestion[] = "Are you realy want to cancel all tasks?";
constexpr char kCancelAfterTask[] = "Cancel comes when the running task has ended";

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Decodes every '%' followed by two hexadecimal digits.
std::string percentDecoded(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int high = hexValue(text[i + 1]);
            const int low = hexValue(text[i + 2]);
            if (high >= 0 && low >= 0) {
                out += static_cast<char>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

std::string rangeCommand(const char* verb, std::int32_t first, std::int32_t last) {
    return std::string(verb) + " " + std::to_string(first) + " " + std::to_string(last);
}

}  // namespace

CPrintDlg::CPrintDlg(const std::string& printerName, PrintQueueServices services)
    : m_services(std::move(services)), m_printerName(printerName) {}

CPrintDlg::~CPrintDlg() {
    OnDestroy();
}

std::string CPrintDlg::LockName(const std::string& printerName) {
    std::string name = "PAGINOR" + printerName;
    std::replace(name.begin(), name.end(), '\\', '-');
    std::replace(name.begin(), name.end(), '/', '-');
    return name;
}

std::int32_t& CPrintDlg::WaitDotCounter() {
    static std::int32_t counter = 0;
    return counter;
}

void CPrintDlg::SetPrintInfo(std::int32_t from, std::int32_t to, PrintTaskSource& report,
                             bool collate, std::int32_t copies) {
    m_from = from;
    m_to = to;
    m_report = &report;
    m_collate = collate;
    m_copies = std::max(copies, 1);
}

bool CPrintDlg::OnInitDialog(PrintDlgView& view) {
    m_view = &view;
    m_ownJobLimit = kFirstJobLimit;
    m_countdownStart = 0;
    m_blockedTicks = 0;
    m_nextTask = 1;
    m_finished = false;
    m_lockHeld = false;
    m_printerSpeed = m_services.speed.GetCurrentValue();
    m_view->setTitle("printing from page " + std::to_string(m_from) + " to page " +
                     std::to_string(m_to));
    m_view->setNoDelayChecked(m_ownJobLimit != kDelayJobLimit);
    m_services.host.setPrintDialogOpen(true);

    std::int32_t perCheck = kChunksPerCheck;
    try {
        m_report->SplitPageRange(m_from, m_to, m_chunks);
        const auto n = static_cast<std::int64_t>(m_chunks.size());
        if (n > kManyChunks) {
            const std::int64_t limit = std::int64_t{m_report->GetPagesPerTask()} * 10;
            const std::int32_t first = m_chunks[0].first;
            if (m_chunks[kChunksPerCheck].last - first < limit) {
                std::int64_t i = 0;
                while (i < n && m_chunks[static_cast<std::size_t>(i)].last - first <= limit) {
                    ++i;
                }
                // A first chunk larger than the limit still makes a check task of its own.
                perCheck = static_cast<std::int32_t>(std::max<std::int64_t>(i, 1));
            }
        }
    } catch (const ReportError&) {
        m_chunks.clear();
        fail(m_report->GetErrorText());
        return false;
    }

    const auto n = static_cast<std::int64_t>(m_chunks.size());
    std::vector<std::string> checks;
    for (std::int64_t j = 0; j * perCheck < n; ++j) {
        const std::int64_t last = std::min(j * perCheck + perCheck - 1, n - 1);
        checks.push_back(rangeCommand("check",
                                      m_chunks[static_cast<std::size_t>(j * perCheck)].first,
                                      m_chunks[static_cast<std::size_t>(last)].last));
    }
    m_checkTasks = static_cast<std::int32_t>(checks.size());
    m_entriesAdded = m_checkTasks;
    m_tasks.assign(checks.begin(), checks.end());
    m_view->appendTasks(checks);
    addPrintTasks(kMaxEntries);

    m_halted = false;
    m_countdown = 0;
    m_view->startTimer();
    m_view->setCancelButton("Cancel Now", true);
    m_view->setPauseButton("Start Now", true);
    return true;
}

void CPrintDlg::addPrintTasks(std::int32_t entryLimit) {
    const auto n = static_cast<std::int64_t>(m_chunks.size());
    const std::int64_t total = n * m_copies;
    std::vector<std::string> added;
    while (m_nextEntry < total && m_entriesAdded < entryLimit) {
        // Collated copies repeat the whole run of chunks; uncollated ones repeat each chunk.
        const std::int64_t chunk = m_collate ? m_nextEntry % n : m_nextEntry / m_copies;
        const tagPageRun& run = m_chunks[static_cast<std::size_t>(chunk)];
        added.push_back(rangeCommand("print", run.first, run.last));
        ++m_nextEntry;
        ++m_entriesAdded;
    }
    if (m_nextEntry >= total) {
        m_chunks.clear();
        m_chunks.shrink_to_fit();
    }
    if (!added.empty()) {
        m_tasks.insert(m_tasks.end(), added.begin(), added.end());
        m_view->appendTasks(added);
    }
}

void CPrintDlg::showWaiting(const std::string& text, bool blocked) {
    std::int32_t& counter = WaitDotCounter();
    if (counter > kDotCounterLimit) {
        counter = 1;
    }
    m_view->setStatus(text + std::string(static_cast<std::size_t>((counter + 1) / 2), '.'));
    ++counter;
    if (blocked) {
        ++m_blockedTicks;
    }
}

std::int32_t CPrintDlg::countOwnJobs(std::string& error) {
    std::vector<std::string> titles;
    switch (m_services.spool.activeJobTitles(m_printerName, titles, error)) {
        case PrintSpool::Status::NoPrinter:
            return -2;
        case PrintSpool::Status::Stopped:
            return -3;
        case PrintSpool::Status::ListFailed:
            return -1;
        case PrintSpool::Status::Listed:
            break;
    }
    const std::string address = m_services.host.pageAddress();
    const bool decode = m_services.host.bufferToFile();
    std::int32_t own = 0;
    for (const std::string& title : titles) {
        const std::string name = decode ? percentDecoded(title) : title;
        // Spoolers may cut long titles: a leading part of the address is ours too.
        if (!name.empty() && address.compare(0, name.size(), name) == 0) {
            ++own;
        }
    }
    return own;
}

void CPrintDlg::OnTimer() {
    if (m_ended || m_view == nullptr) {
        return;
    }
    // A Cancel that came while a task ran is taken now that it has ended.
    if (m_cancelPending && !m_taskInFlight) {
        m_cancelPending = false;
        OnCancel();
        return;
    }
    if (m_halted) {
        return;
    }
    if (m_countdown > 0) {
        m_view->setStatus(kWaitingStatus + std::to_string(m_countdown / 2));
        --m_countdown;
        return;
    }
    if (isPrintTaskNext()) {
        if (!m_lockHeld) {
            std::string error;
            switch (m_services.lock.tryAcquire(LockName(m_printerName), error)) {
                case PrinterLock::Result::Busy:
                    showWaiting(kBusy);
                    return;
                case PrinterLock::Result::Failed:
                    // Retrying cannot help: say it once and end.
                    m_halted = true;
                    m_services.ui.messageBoxTitled(
                        "Error", "Could not lock printer:" + m_printerName + "; " + error,
                        MessageButtons::Ok, MessageIcon::Stop);
                    finishAs(Outcome::Failed);
                    return;
                case PrinterLock::Result::Acquired:
                    break;
            }
            m_lockHeld = true;
        }
        std::string error;
        const std::int32_t own = countOwnJobs(error);
        if (own == -2) {
            m_halted = true;
            m_services.ui.messageBoxTitled("Error",
                                           "Could not open printer:" + m_printerName + "; " +
                                               error + "; Please contact " +
                                               m_services.supportAddress + " for more information",
                                           MessageButtons::Ok, MessageIcon::Stop);
            finishAs(Outcome::Failed);
            return;
        }
        // A stopped printer is named and waited for: its jobs would only pile up. It says
        // nothing of the printer's speed.
        if (own == -3) {
            showWaiting(error + " ,waiting ", false);
            return;
        }
        // A queue that cannot be listed may be full: wait rather than flood it.
        if (own == -1) {
            showWaiting(kBusy);
            return;
        }
        if (own >= m_ownJobLimit) {
            showWaiting(m_tasks.empty()
                            ? "Print jobs will finish soon,(only " + std::to_string(own) +
                                  " tasks left)"
                            : std::to_string(own) + " print tasks in print queue ,waiting ");
            return;
        }
        if (m_nextTask > m_ownJobLimit + m_checkTasks) {
            if (m_countdownStart > 0) {
                const double r = static_cast<double>(m_blockedTicks) / m_countdownStart;
                if (r < 0.15) {
                    m_printerSpeed += 15;
                } else if (r < 0.25) {
                    m_printerSpeed += 10;
                } else if (r > 0.7) {
                    m_printerSpeed -= 4;
                }
            }
            m_blockedTicks = 0;
        }
    }
    if (m_tasks.empty()) {
        m_halted = true;  // no tick may end the queue twice while a message shows
        // Learning may have left the speed outside the range the estimate takes.
        m_services.speed.SetCurrentValue(std::clamp(m_printerSpeed, 0, kMaxSpeed));
        std::string error;
        if (!m_services.speed.Save(error)) {
            m_services.ui.messageBox(error, MessageButtons::Ok, MessageIcon::Stop);
        }
        finishAs(Outcome::Done);
        return;
    }

    const std::string command = m_tasks.front();
    const bool check = !isPrintTaskNext();
    m_halted = true;
    m_view->setCancelButton(m_cancelText, false);
    m_view->setPauseButton(m_pauseText, false);
    m_cancelEnabled = m_pauseEnabled = false;
    m_view->setStatus(check ? "cheking the file , please wait" : "spooling print tasks");
    m_services.host.setTaskRunning(false);
    m_taskInFlight = true;
    int accepted = 0;
    try {
        accepted = m_services.host.RunCommand(command);
    } catch (const ReportError&) {
        m_services.ui.messageBox(m_report->GetErrorText(), MessageButtons::Ok, MessageIcon::Stop);
        accepted = 0;
    }
    if (m_ended) {
        return;
    }
    if (accepted == 0) {
        m_taskInFlight = false;
        m_view->setStatus(command + " --Failure");
        fail(kSomethingWrong);
        return;
    }
    if (check) {
        OnTaskDone(command, true, 0);
    }
    ++m_nextTask;
    m_services.host.setTaskRunning(true);
    ++m_tasksStarted;
    if (m_tasksStarted == 1 && !m_finished) {
        m_cancelText = "Cancel";
        m_pauseText = "Pause";
        m_view->setCancelButton(m_cancelText, m_cancelEnabled);
        m_view->setPauseButton(m_pauseText, m_pauseEnabled);
    }
    if (!m_chunks.empty() && m_entriesAdded < kTopUpBelow) {
        addPrintTasks(kMaxEntries);
    }
}

bool CPrintDlg::OnTaskDone(const std::string& command, bool success, int computeWait) {
    if (m_ended || m_view == nullptr) {
        return false;  // the dialog has gone: a late result changes nothing
    }
    m_taskInFlight = false;
    if (!success) {
        const std::string reason = m_services.host.lastPrintError();
        fail(reason.empty() ? std::string(kCannotFinish) : kCannotFinish + ("\n" + reason));
        if (m_cancelPending && !m_ended) {
            m_cancelPending = false;
            finishAs(Outcome::Failed);
        }
        return true;
    }
    if (m_tasks.empty() || m_tasks.front() != command) {
        m_services.ui.messageBox(kMismatch);
        fail({});
        return false;
    }
    m_view->setStatus("successful!");
    m_tasks.pop_front();
    m_view->removeFirstTask();
    --m_entriesAdded;
    m_halted = false;
    m_cancelEnabled = m_pauseEnabled = true;
    m_view->setCancelButton(m_cancelText, true);
    m_view->setPauseButton(m_pauseText, true);
    if (computeWait != 0) {
        m_printerSpeed = std::clamp(m_printerSpeed, 0, kMaxSpeed);
        const std::int32_t estimate = m_report->EstimatePrintWait(m_printerSpeed);
        m_countdown = (estimate + 4) / 5;
        if (m_countdown >= 2 && m_tasks.empty()) {
            m_countdown = 1;
        }
    } else {
        m_countdown = 1;
    }
    m_countdownStart = m_countdown;
    return true;
}

void CPrintDlg::fail(const std::string& message) {
    m_halted = true;
    if (!message.empty()) {
        m_services.ui.messageBox(message);
    }
    m_cancelText = "Close";
    m_cancelEnabled = true;
    m_pauseEnabled = false;
    m_view->setCancelButton(m_cancelText, true);
    m_view->setPauseButton(m_pauseText, false);
    m_finished = true;
    m_outcome = Outcome::Failed;
}

void CPrintDlg::OnPauseButton() {
    if (m_ended || !m_pauseEnabled) {
        return;
    }
    if (m_tasksStarted == 0) {
        m_finished = false;
        m_countdown = 0;
        m_halted = false;
        return;
    }
    if (!m_finished) {
        m_halted = true;
        m_finished = true;
        m_cancelText = "Close";
        m_pauseText = "Continue";
        m_view->setCancelButton(m_cancelText, m_cancelEnabled);
        m_view->setPauseButton(m_pauseText, true);
        m_view->setStatus(kPaused);
    } else {
        m_finished = false;
        m_halted = false;
        m_cancelText = "Cancel";
        m_pauseText = "Pause";
        m_view->setCancelButton(m_cancelText, m_cancelEnabled);
        m_view->setPauseButton(m_pauseText, true);
    }
}

void CPrintDlg::OnDelayChoice(bool noDelay) {
    m_ownJobLimit = noDelay ? kNoDelayJobLimit : kDelayJobLimit;
}

void CPrintDlg::OnCancel() {
    if (m_ended) {
        return;
    }
    // Cancel is disabled while a task runs; Escape and the window's close button still come.
    if (m_taskInFlight) {
        m_cancelPending = true;
        m_view->setStatus(kCancelAfterTask);
        return;
    }
    const Outcome ending = m_outcome == Outcome::Failed
                               ? Outcome::Failed
                               : (m_tasks.empty() ? Outcome::Done : Outcome::Cancelled);
    if (m_tasksStarted == 0 || m_tasks.empty() || m_finished) {
        finishAs(ending);
        return;
    }
    const bool wasHalted = m_halted;
    m_halted = true;
    const MessageAnswer answer =
        m_services.ui.messageBox(kCancelQuestion, MessageButtons::YesNo, MessageIcon::Exclamation);
    if (m_ended) {
        return;
    }
    if (answer != MessageAnswer::No) {
        finishAs(ending);
        return;
    }
    m_halted = wasHalted;
}

void CPrintDlg::finishAs(Outcome outcome) {
    m_outcome = outcome;
    m_halted = true;
    if (m_view != nullptr) {
        m_view->endDialog();
    }
}

void CPrintDlg::OnDestroy() {
    if (m_ended || m_view == nullptr) {
        return;
    }
    m_ended = true;
    m_halted = true;
    if (m_outcome == Outcome::Running) {
        m_outcome = m_tasks.empty() ? Outcome::Done : Outcome::Cancelled;
    }
    m_services.host.setTaskRunning(false);
    if (m_taskInFlight) {
        m_services.host.disarmPrint();
        m_taskInFlight = false;
    }
    if (m_lockHeld) {
        m_services.lock.release();
        m_lockHeld = false;
    }
    m_services.host.setPrintDialogOpen(false);
}

}  // namespace paginor
