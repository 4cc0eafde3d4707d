#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "app/print/print_dlg.h"

namespace paginor {

// The dialog's controls as plain values.
class FakePrintDlgView : public PrintDlgView {
public:
    void setTitle(const std::string& text) override { title = text; }
    void setStatus(const std::string& text) override { statuses.push_back(text); }
    void appendTasks(const std::vector<std::string>& commands) override {
        list.insert(list.end(), commands.begin(), commands.end());
        maxListSize = std::max(maxListSize, list.size());
    }
    void removeFirstTask() override { list.pop_front(); }
    void setPauseButton(const std::string& text, bool enabled) override {
        pauseText = text;
        pauseEnabled = enabled;
    }
    void setCancelButton(const std::string& text, bool enabled) override {
        cancelText = text;
        cancelEnabled = enabled;
    }
    void setNoDelayChecked(bool on) override { noDelay = on; }
    void startTimer() override { timerStarted = true; }
    void endDialog() override { ++ended; }

    std::string status() const { return statuses.empty() ? std::string() : statuses.back(); }

    std::string title;
    std::vector<std::string> statuses;
    std::deque<std::string> list;
    std::size_t maxListSize = 0;
    std::string pauseText;
    bool pauseEnabled = false;
    std::string cancelText;
    bool cancelEnabled = false;
    bool noDelay = false;
    bool timerStarted = false;
    int ended = 0;
};

// The frame as the queue sees it: records commands and answers with a scripted result.
class FakeQueueHost : public PrintQueueHost {
public:
    int RunCommand(const std::string& command) override {
        commands.push_back(command);
        if (onCommand) {
            return onCommand(command);
        }
        return accept;
    }
    void setTaskRunning(bool running) override { taskRunning = running; }
    void setPrintDialogOpen(bool open) override { printDialogOpen = open; }
    std::string pageAddress() const override { return address; }
    bool bufferToFile() const override { return toFile; }
    void disarmPrint() override { ++disarmed; }

    std::vector<std::string> commands;
    std::function<int(const std::string&)> onCommand;
    int accept = 1;
    bool taskRunning = false;
    bool printDialogOpen = false;
    std::string address = "about:blank";
    bool toFile = false;
    int disarmed = 0;
};

class FakeSpool : public PrintSpool {
public:
    Status activeJobTitles(const std::string& printer, std::vector<std::string>& out,
                           std::string& errorText) override {
        printers.push_back(printer);
        out = titles;
        errorText = error;
        return status;
    }
    std::vector<std::string> printers;
    std::vector<std::string> titles;
    Status status = Status::Listed;
    std::string error;
};

class FakePrinterLock : public PrinterLock {
public:
    bool tryAcquire(const std::string& name) override {
        names.push_back(name);
        if (busy) {
            return false;
        }
        held = true;
        return true;
    }
    void release() override {
        held = false;
        ++releases;
    }
    std::vector<std::string> names;
    bool busy = false;
    bool held = false;
    int releases = 0;
};

class FakeSpeedStore : public PrintSpeedStore {
public:
    std::int32_t GetCurrentValue() override { return speed; }
    void SetCurrentValue(std::int32_t value) override {
        speed = value;
        ++sets;
    }
    bool Save(std::string& error) override {
        ++saves;
        error = saveError;
        return saveError.empty();
    }
    std::int32_t speed = 25;
    int sets = 0;
    int saves = 0;
    std::string saveError;
};

// A report whose pages are cut into chunks of a fixed number of pages.
class FakeTaskSource : public PrintTaskSource {
public:
    void SplitPageRange(std::int32_t from, std::int32_t to,
                        std::vector<tagPageRun>& runs) override {
        runs.clear();
        if (from < 1 || to > pageCount || from > to) {
            throw ReportError(-1);
        }
        for (std::int64_t p = from; p <= to; p += pagesPerChunk) {
            runs.push_back(
                {static_cast<std::int32_t>(p),
                 static_cast<std::int32_t>(std::min<std::int64_t>(p + pagesPerChunk - 1, to))});
        }
    }
    std::int32_t GetPagesPerTask() override { return pagesPerTask; }
    std::int32_t EstimatePrintWait(std::int32_t speed) override {
        estimateSpeeds.push_back(speed);
        return estimate;
    }
    std::string GetErrorText() override { return errorText; }

    std::int32_t pageCount = 100;
    std::int32_t pagesPerChunk = 1;
    std::int32_t pagesPerTask = 80;
    std::int32_t estimate = 0;
    std::vector<std::int32_t> estimateSpeeds;
    std::string errorText = "Page number should between 1 and 100";
};

}  // namespace paginor
