// Speed of the print-task queue.
//
//   paginor-print-queue-bench [--chunks 200000]
//
// Builds the task list for that many one-page chunks and runs the whole queue against a spool
// that is always free, ticking by hand: it prints the time to build the list, the mean and the
// largest time of a tick, and how many ticks the queue lets pass between a task's end and the
// start of the next beyond its countdown. Targets: building under 100 ms, every tick under 1 ms
// on average and the gap at most one tick; the exit status is 1 when one is missed.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/print/print_dlg.h"
#include "app/ui_services.h"

namespace paginor {
namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

class NullView : public PrintDlgView {
public:
    void setTitle(const std::string&) override {}
    void setStatus(const std::string&) override {}
    void appendTasks(const std::vector<std::string>& commands) override {
        listed += commands.size();
    }
    void removeFirstTask() override { --listed; }
    void setPauseButton(const std::string&, bool) override {}
    void setCancelButton(const std::string&, bool) override {}
    void setNoDelayChecked(bool) override {}
    void startTimer() override {}
    void endDialog() override { ended = true; }
    std::size_t listed = 0;
    bool ended = false;
};

// The frame: a print is done as soon as it is sent; the next tick reports it.
class Host : public PrintQueueHost {
public:
    int RunCommand(const std::string& command) override {
        ++sent;
        if (command.rfind("print", 0) == 0) {
            pending = command;
        }
        return 1;
    }
    void setTaskRunning(bool) override {}
    void setPrintDialogOpen(bool) override {}
    std::string pageAddress() const override { return "about:blank"; }
    bool bufferToFile() const override { return false; }
    void disarmPrint() override {}
    std::string lastPrintError() const override { return {}; }
    int lastPrintJob() const override { return 0; }
    std::string pending;
    long sent = 0;
};

class FreeSpool : public PrintSpool {
public:
    Status activeJobTitles(const std::string&, std::vector<std::string>& titles,
                           std::string&) override {
        titles.clear();
        return Status::Listed;
    }
    bool activeJobIds(const std::string&, std::vector<int>& ids, std::string&) override {
        ids.clear();
        return true;
    }
    bool cancelJobs(const std::string&, const std::vector<int>&, std::string&) override {
        return true;
    }
};

class FreeLock : public PrinterLock {
public:
    Result tryAcquire(const std::string&, std::string&) override { return Result::Acquired; }
    void release() override {}
};

class Speed : public PrintSpeedStore {
public:
    std::int32_t GetCurrentValue() override { return 25; }
    void SetCurrentValue(std::int32_t) override {}
    bool Save(std::string&) override { return true; }
};

class Source : public PrintTaskSource {
public:
    void SplitPageRange(std::int32_t from, std::int32_t to,
                        std::vector<tagPageRun>& runs) override {
        runs.clear();
        for (std::int32_t p = from; p <= to; ++p) {
            runs.push_back({p, p});
        }
    }
    std::int32_t GetPagesPerTask() override { return 4; }
    // Every task's estimate gives a countdown of 3 ticks.
    std::int32_t EstimatePrintWait(std::int32_t) override { return 15; }
    std::string GetErrorText() override { return {}; }
};

class QuietUi : public UiServices {
public:
    MessageAnswer messageBox(const std::string& text, MessageButtons, MessageIcon) override {
        std::fprintf(stderr, "message: %s\n", text.c_str());
        return MessageAnswer::Ok;
    }
    void setWaitCursor(bool) override {}
};

int run(std::int32_t chunks) {
    NullView view;
    Host host;
    FreeSpool spool;
    FreeLock lock;
    Speed speed;
    QuietUi ui;
    Source source;
    CPrintDlg queue("Bench", PrintQueueServices{host, spool, lock, speed, ui, "x"});
    queue.SetPrintInfo(1, chunks, source, true, 1);
    const auto buildStart = Clock::now();
    queue.OnInitDialog(view);
    const double buildMs = msSince(buildStart);

    double tickTotalMs = 0;
    double tickMaxMs = 0;
    long ticks = 0;
    long tasks = 0;
    long maxBeyond = 0;
    long sinceEnd = -1;  // ticks since the last task ended
    std::int32_t countdownAtEnd = 0;
    while (!view.ended && !queue.finished()) {
        const long sentBefore = host.sent;
        const auto tickStart = Clock::now();
        queue.OnTimer();
        const double ms = msSince(tickStart);
        tickTotalMs += ms;
        tickMaxMs = std::max(tickMaxMs, ms);
        ++ticks;
        if (sinceEnd >= 0) {
            ++sinceEnd;
        }
        if (host.sent == sentBefore) {
            continue;
        }
        // A task started in this tick: the countdown's ticks, then this one.
        ++tasks;
        if (sinceEnd >= 0) {
            maxBeyond = std::max(maxBeyond, sinceEnd - countdownAtEnd);
        }
        if (!host.pending.empty()) {
            const std::string done = host.pending;
            host.pending.clear();
            queue.OnTaskDone(done, true, 1);
        }
        countdownAtEnd = queue.countdown();
        sinceEnd = 0;
    }
    const double meanMs = tickTotalMs / static_cast<double>(std::max(ticks, 1L));
    std::printf(
        "chunks %d: list built in %.1f ms (%d check tasks); %ld ticks, %ld tasks, "
        "mean tick %.4f ms, largest %.3f ms; ticks beyond the countdown: at most %ld\n",
        chunks, buildMs, queue.checkTasks(), ticks, tasks, meanMs, tickMaxMs, maxBeyond);
    const bool ok = buildMs < 100 && meanMs < 1 && maxBeyond <= 1 &&
                    queue.outcome() == CPrintDlg::Outcome::Done;
    std::printf("%s\n", ok ? "targets met" : "TARGET MISSED");
    return ok ? 0 : 1;
}

}  // namespace
}  // namespace paginor

int main(int argc, char** argv) {
    std::int32_t chunks = 200000;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--chunks") == 0 && i + 1 < argc) {
            chunks = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: paginor-print-queue-bench [--chunks N]\n");
            return 2;
        }
    }
    if (chunks < 1) {
        std::fprintf(stderr, "--chunks wants a number above 0\n");
        return 2;
    }
    return paginor::run(chunks);
}
