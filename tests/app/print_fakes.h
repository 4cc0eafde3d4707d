#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/print/print_dlg.h"
#include "app/print/print_setup.h"

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
    std::string lastPrintError() const override { return printError; }
    int lastPrintJob() const override { return printJob; }

    std::vector<std::string> commands;
    std::function<int(const std::string&)> onCommand;
    int accept = 1;
    bool taskRunning = false;
    bool printDialogOpen = false;
    std::string address = "about:blank";
    bool toFile = false;
    int disarmed = 0;
    std::string printError;
    int printJob = 0;
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
    bool activeJobIds(const std::string&, std::vector<int>& ids, std::string& errorText) override {
        ids = active;
        errorText = error;
        return error.empty();
    }
    bool cancelJobs(const std::string&, const std::vector<int>& ids,
                    std::string& errorText) override {
        cancelled.insert(cancelled.end(), ids.begin(), ids.end());
        errorText = cancelError;
        return cancelError.empty();
    }
    std::vector<std::string> printers;
    std::vector<std::string> titles;
    Status status = Status::Listed;
    std::string error;
    std::vector<int> active;  // the job numbers activeJobIds reports
    std::vector<int> cancelled;
    std::string cancelError;
};

class FakePrinterLock : public PrinterLock {
public:
    Result tryAcquire(const std::string& name, std::string& error) override {
        names.push_back(name);
        if (!failure.empty()) {
            error = failure;
            return Result::Failed;
        }
        if (busy) {
            return Result::Busy;
        }
        held = true;
        return Result::Acquired;
    }
    void release() override {
        held = false;
        ++releases;
    }
    std::vector<std::string> names;
    bool busy = false;
    std::string failure;
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
            throw ReportError(-1, errorText);
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

using Texts = std::vector<std::string>;

struct Record {
    std::string paper;
    std::string printer;
    std::int32_t orientation = 0;
};

// A store of a few records, papers and a current choice.
class FakePageSetup : public PageSetupAccess {
public:
    std::int32_t GetCurrentValue() override { return 25; }
    void SetCurrentValue(std::int32_t) override {}
    bool Save(std::string& error) override {
        ++saves;
        error = saveError;
        return saveError.empty();
    }
    void SetCurrent(const std::string& paper, const std::string& printer,
                    std::int32_t orientation) override {
        current = Record{paper, printer, orientation};
        hasCurrent = true;
        calls.push_back("SetCurrent " + paper + "|" + printer + "|" + std::to_string(orientation));
    }
    void Update(std::int32_t key, const std::string& paper, const std::string& printer,
                std::int32_t orientation) override {
        records[key] = Record{paper, printer, orientation};
        calls.push_back("Update " + std::to_string(key) + " " + paper + "|" + printer + "|" +
                        std::to_string(orientation));
    }
    bool LookupByKey(std::int32_t key, std::string& paper, std::string& printer,
                     std::int32_t& orientation) override {
        paper.clear();
        printer.clear();
        orientation = 0;
        auto it = records.find(key);
        if (it == records.end()) {
            return false;
        }
        paper = it->second.paper;
        printer = it->second.printer;
        orientation = it->second.orientation;
        return true;
    }
    bool LookupByPaper(const std::string& paper, std::string& printer,
                       std::int32_t& orientation) override {
        printer.clear();
        orientation = 0;
        auto it = papers.find(paper);
        if (it == papers.end()) {
            return false;
        }
        printer = it->second.printer;
        orientation = it->second.orientation;
        return true;
    }
    bool LookupCurrent(std::string& paper, std::string& printer,
                       std::int32_t& orientation) override {
        paper = current.paper;
        printer = current.printer;
        orientation = current.orientation;
        return hasCurrent;
    }

    std::map<std::int32_t, Record> records;
    std::map<std::string, Record> papers;
    Record current;
    bool hasCurrent = false;
    int saves = 0;
    std::string saveError;
    Texts calls;
};

// A driver that knows some printers and papers; its current ones start as the defaults.
class FakeDriver : public PrinterSetupTarget {
public:
    bool PrintSetup(const std::string& paper, const std::string& printer, std::string& printerOut,
                    std::string& paperOut, std::int32_t& orientation, bool& printerSet,
                    bool& paperSet, std::string& paperNow) override {
        ++calls;
        if (!reachable) {
            return false;
        }
        printerOut = currentPrinter;
        paperOut = currentPaper;
        printerSet = printer.empty() || known(printers, printer);
        paperSet = paper.empty() || known(papers, paper);
        if (!printer.empty() && printerSet) {
            currentPrinter = printer;
        }
        if (!paper.empty() && paperSet) {
            currentPaper = paper;
        }
        currentOrientation = orientation;
        paperNow = currentPaper;
        return true;
    }
    static bool known(const Texts& names, const std::string& name) {
        for (const std::string& n : names) {
            if (n == name) {
                return true;
            }
        }
        return false;
    }
    Texts printers = {"Office", "Lab"};
    Texts papers = {"A4", "Letter", "A3"};
    std::string currentPrinter = "Office";
    std::string currentPaper = "A4";
    std::int32_t currentOrientation = -1;
    int calls = 0;
    bool reachable = true;
};

}  // namespace paginor
