#include "app/print/print_dlg.h"

#include <algorithm>
#include <charconv>

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

// The pages of a "print %d %d" command; false for any other text.
bool commandPages(const std::string& command, std::int32_t& first, std::int32_t& last) {
    const char* p = command.c_str();
    const char* end = p + command.size();
    if (command.rfind("print ", 0) != 0) {
        return false;
    }
    auto got = std::from_chars(p + 6, end, first);
    if (got.ec != std::errc() || got.ptr == end || *got.ptr != ' ') {
        return false;
    }
    got = std::from_chars(got.ptr + 1, end, last);
    return got.ec == std::errc() && got.ptr == end;
}

std::string pageText(std::int32_t first, std::int32_t last) {
    return first == last ? std::to_string(first)
                         : std::to_string(first) + "-" + std::to_string(last);
}

// "1-9, 12" and the number of pages the tasks cover; consecutive tasks make one run.
template <typename Tasks>
std::string pageRuns(const Tasks& tasks, std::int64_t& pages) {
    pages = 0;
    std::vector<std::pair<std::int32_t, std::int32_t>> runs;
    for (const auto& task : tasks) {
        pages += std::int64_t{task.last} - task.first + 1;
        if (!runs.empty() && std::int64_t{runs.back().second} + 1 == task.first) {
            runs.back().second = task.last;
        } else {
            runs.emplace_back(task.first, task.last);
        }
    }
    std::string text;
    for (const auto& [first, last] : runs) {
        text += (text.empty() ? "" : ", ") + pageText(first, last);
    }
    return text;
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
        fail({});
        say(m_report->GetErrorText());
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
    // A tick that comes while the queue shows a message waits for the user's answer.
    if (m_ended || m_view == nullptr || m_messagesShowing > 0) {
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
                    say("Could not lock printer:" + m_printerName + "; " + error + "\n" +
                            sentText(),
                        MessageButtons::Ok, MessageIcon::Stop, "Error");
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
            say("Could not open printer:" + m_printerName + "; " + error + "; Please contact " +
                    m_services.supportAddress + " for more information\n" + sentText(),
                MessageButtons::Ok, MessageIcon::Stop, "Error");
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
            say(error, MessageButtons::Ok, MessageIcon::Stop);
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
        say(m_report->GetErrorText(), MessageButtons::Ok, MessageIcon::Stop);
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
        // The Cancel held back for the task ends the queue once the failure has been read.
        const bool cancelled = m_cancelPending;
        m_cancelPending = false;
        fail(reason.empty() ? std::string(kCannotFinish) : kCannotFinish + ("\n" + reason));
        if (cancelled && !m_ended) {
            finishAs(Outcome::Failed);
        }
        return true;
    }
    if (m_tasks.empty() || m_tasks.front() != command) {
        fail({});
        say(kMismatch);
        return false;
    }
    std::int32_t first = 0;
    std::int32_t last = 0;
    if (computeWait != 0 && commandPages(command, first, last)) {
        m_sent.push_back({first, last, m_services.host.lastPrintJob()});
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

MessageAnswer CPrintDlg::say(const std::string& text, MessageButtons buttons, MessageIcon icon,
                             const std::string& title) {
    ++m_messagesShowing;
    const MessageAnswer answer = title.empty()
                                     ? m_services.ui.messageBox(text, buttons, icon)
                                     : m_services.ui.messageBoxTitled(title, text, buttons, icon);
    --m_messagesShowing;
    return answer;
}

void CPrintDlg::fail(const std::string& message) {
    // The queue has stopped before its message shows: nothing that runs meanwhile sends more.
    m_halted = true;
    m_finished = true;
    m_outcome = Outcome::Failed;
    m_cancelText = "Close";
    m_cancelEnabled = true;
    m_pauseEnabled = false;
    m_view->setCancelButton(m_cancelText, true);
    m_view->setPauseButton(m_pauseText, false);
    if (!message.empty()) {
        say(message + "\n" + sentText());
    }
}

std::string CPrintDlg::sentText() const {
    std::int64_t pages = 0;
    const std::string runs = pageRuns(m_sent, pages);
    const std::string range = (m_from == 1 ? std::to_string(m_to) : pageText(m_from, m_to)) +
                              (m_copies > 1 ? " (" + std::to_string(m_copies) + " copies)" : "");
    if (pages == 0) {
        return "no page was sent to " + m_printerName;
    }
    return (pages == 1 ? "page " : "pages ") + runs + " of " + range +
           (pages == 1 ? " was" : " were") + " sent to " + m_printerName;
}

void CPrintDlg::offerWithdrawal() {
    if (std::none_of(m_sent.begin(), m_sent.end(),
                     [](const SentTask& task) { return task.jobId > 0; })) {
        return;
    }
    std::vector<int> active;
    std::string error;
    if (!m_services.spool.activeJobIds(m_printerName, active, error)) {
        say("Cannot tell whether the jobs of this print still wait in the queue of " +
                m_printerName + ": " + error,
            MessageButtons::Ok, MessageIcon::Stop);
        return;
    }
    std::vector<SentTask> waiting;
    std::vector<int> ids;
    for (const SentTask& task : m_sent) {
        if (task.jobId > 0 && std::find(active.begin(), active.end(), task.jobId) != active.end()) {
            waiting.push_back(task);
            ids.push_back(task.jobId);
        }
    }
    if (waiting.empty()) {
        return;
    }
    std::int64_t pages = 0;
    const std::string runs = pageRuns(waiting, pages);
    const bool one = waiting.size() == 1;
    const std::string question = std::to_string(waiting.size()) +
                                 (one ? " print job" : " print jobs") + " of this print still " +
                                 (one ? "waits" : "wait") + " in the queue of " + m_printerName +
                                 " (" + (pages == 1 ? "page " : "pages ") + runs + ").\nWithdraw " +
                                 (one ? "it" : "them") + " from the printer?";
    if (say(question, MessageButtons::YesNo, MessageIcon::Question) != MessageAnswer::Yes) {
        return;
    }
    if (!m_services.spool.cancelJobs(m_printerName, ids, error)) {
        say("Could not withdraw the print jobs from " + m_printerName + ": " + error,
            MessageButtons::Ok, MessageIcon::Stop);
    }
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
    if (m_messagesShowing > 0) {
        return;
    }
    const Outcome ending = m_outcome == Outcome::Failed
                               ? Outcome::Failed
                               : (m_tasks.empty() ? Outcome::Done : Outcome::Cancelled);
    if (m_tasksStarted == 0 || m_tasks.empty() || m_finished) {
        // Closing a paused queue cancels it too.
        if (ending == Outcome::Cancelled) {
            offerWithdrawal();
        }
        if (!m_ended) {
            finishAs(ending);
        }
        return;
    }
    const bool wasHalted = m_halted;
    m_halted = true;
    const MessageAnswer answer =
        say(kCancelQuestion, MessageButtons::YesNo, MessageIcon::Exclamation);
    if (m_ended) {
        return;
    }
    if (answer != MessageAnswer::No) {
        if (ending == Outcome::Cancelled) {
            offerWithdrawal();
        }
        if (!m_ended) {
            finishAs(ending);
        }
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
