#pragma once

#include <string>
#include <vector>

#include "app/print/page_setup_store.h"
#include "app/print/print_setup.h"
#include "platform/named_lock.h"
#include "platform/printer_system.h"

namespace paginor {

// The printer system's queue of a destination, as the print-task queue looks at it.
class SystemPrintSpool : public PrintSpool {
public:
    explicit SystemPrintSpool(PrinterSystem& printers) : m_printers(printers) {}
    Status activeJobTitles(const std::string& printer, std::vector<std::string>& titles,
                           std::string& error) override;
    bool activeJobIds(const std::string& printer, std::vector<int>& ids,
                      std::string& error) override;
    bool cancelJobs(const std::string& printer, const std::vector<int>& ids,
                    std::string& error) override;

private:
    // The printer's name as the printer system spells it; empty with error when it has none.
    std::string knownName(const std::string& printer, std::string& error);

    PrinterSystem& m_printers;
};

// The printer lock as a named lock, tried as briefly as the queue may wait.
class NamedPrinterLock : public PrinterLock {
public:
    static constexpr int kWaitMs = 100;
    Result tryAcquire(const std::string& name, std::string& error) override {
        switch (m_lock.tryAcquire(name, kWaitMs)) {
            case NamedLock::Result::Acquired:
                return Result::Acquired;
            case NamedLock::Result::Busy:
                return Result::Busy;
            case NamedLock::Result::Error:
                break;
        }
        error = m_lock.error();
        return Result::Failed;
    }
    void release() override { m_lock.release(); }

private:
    NamedLock m_lock;
};

// The page-setup store behind the printing code's interface.
class StorePageSetupAccess : public PageSetupAccess {
public:
    explicit StorePageSetupAccess(PageSetupStore& store) : m_store(store) {}
    std::int32_t GetCurrentValue() override { return m_store.GetCurrentValue(); }
    void SetCurrentValue(std::int32_t speed) override { m_store.SetCurrentValue(speed); }
    bool Save(std::string& error) override { return m_store.Save(error); }
    void SetCurrent(const std::string& paper, const std::string& printer,
                    std::int32_t orientation) override {
        m_store.SetCurrent(paper, printer, orientation);
    }
    void Update(std::int32_t key, const std::string& paper, const std::string& printer,
                std::int32_t orientation) override {
        m_store.Update(key, paper, printer, orientation);
    }
    bool LookupByKey(std::int32_t key, std::string& paper, std::string& printer,
                     std::int32_t& orientation) override {
        return m_store.LookupByKey(key, paper, printer, orientation);
    }
    bool LookupByPaper(const std::string& paper, std::string& printer,
                       std::int32_t& orientation) override {
        return m_store.LookupByPaper(paper, printer, orientation);
    }
    bool LookupCurrent(std::string& paper, std::string& printer,
                       std::int32_t& orientation) override {
        return m_store.LookupCurrent(paper, printer, orientation);
    }

private:
    PageSetupStore& m_store;
};

}  // namespace paginor
