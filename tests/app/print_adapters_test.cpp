#include "app/print/print_adapters.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "tests/core/temp_dir.h"
#include "tests/support/fake_printer_system.h"

namespace paginor {
namespace {

using Titles = std::vector<std::string>;

// Without a runtime folder and with no private temporary folder to be had, the lock fails with
// its reason rather than looking busy.
TEST(NamedPrinterLock, ALockWithoutAPrivateFolderFailsWithItsReason) {
    TempDir dir;
    // Where the private temporary folder should be, a file stands.
    std::ofstream(dir.path() + "/paginor-" + std::to_string(geteuid())) << "x";
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string savedRuntime = runtime ? runtime : "";
    const char* tmp = std::getenv("TMPDIR");
    const std::string savedTmp = tmp ? tmp : "";
    unsetenv("XDG_RUNTIME_DIR");
    setenv("TMPDIR", dir.path().c_str(), 1);
    NamedPrinterLock lock;
    std::string error;
    const PrinterLock::Result result = lock.tryAcquire("PAGINOROffice", error);
    runtime ? setenv("XDG_RUNTIME_DIR", savedRuntime.c_str(), 1) : unsetenv("XDG_RUNTIME_DIR");
    tmp ? setenv("TMPDIR", savedTmp.c_str(), 1) : unsetenv("TMPDIR");
    EXPECT_EQ(result, PrinterLock::Result::Failed);
    EXPECT_EQ(error, "No private folder for lock files");
}

TEST(SystemPrintSpool, ListsTheTitlesOfTheDestinationsJobs) {
    FakePrinterSystem printers;
    FakePrinterSystem::Destination office = FakePrinterSystem::standardDestination();
    office.jobs = {{4, "about:blank", "me"}, {5, "file:///tmp/x.html", "me"}};
    printers.addDestination("Office", office);
    printers.addDestination("Lab", FakePrinterSystem::standardDestination());
    SystemPrintSpool spool(printers);
    Titles titles;
    std::string error;
    EXPECT_EQ(spool.activeJobTitles("office", titles, error), PrintSpool::Status::Listed);
    EXPECT_EQ(titles, (Titles{"about:blank", "file:///tmp/x.html"}));
    EXPECT_EQ(spool.activeJobTitles("Lab", titles, error), PrintSpool::Status::Listed);
    EXPECT_TRUE(titles.empty());

    EXPECT_EQ(spool.activeJobTitles("Gone", titles, error), PrintSpool::Status::NoPrinter);
    EXPECT_EQ(error, "No printer \"Gone\"");

    printers.failWith("Cannot list the printers: Connection refused");
    EXPECT_EQ(spool.activeJobTitles("Office", titles, error), PrintSpool::Status::NoPrinter);
    EXPECT_EQ(error, "Cannot list the printers: Connection refused");
}

// Jobs are withdrawn by their numbers; one that has ended meanwhile is no failure, one that
// stays is.
TEST(SystemPrintSpool, WithdrawsJobsByTheirNumbers) {
    FakePrinterSystem printers;
    FakePrinterSystem::Destination office = FakePrinterSystem::standardDestination();
    office.jobs = {{4, "a", "me"}, {5, "b", "me"}, {6, "c", "me"}};
    printers.addDestination("Office", office);
    SystemPrintSpool spool(printers);
    std::vector<int> ids;
    std::string error;
    ASSERT_TRUE(spool.activeJobIds("office", ids, error)) << error;
    EXPECT_EQ(ids, (std::vector<int>{4, 5, 6}));
    EXPECT_TRUE(spool.cancelJobs("OFFICE", {4, 6, 7}, error)) << error;
    EXPECT_EQ(printers.cancelled(), (std::vector<int>{4, 6}));
    ASSERT_TRUE(spool.activeJobIds("Office", ids, error));
    EXPECT_EQ(ids, (std::vector<int>{5}));
    EXPECT_FALSE(spool.activeJobIds("Gone", ids, error));
    EXPECT_EQ(error, "No printer \"Gone\"");
    printers.failWith("Cannot list the printers: Connection refused");
    EXPECT_FALSE(spool.cancelJobs("Office", {5}, error));
    EXPECT_EQ(error, "Cannot list the printers: Connection refused");
}

TEST(SystemPrintSpool, APrinterThatDoesNotPrintIsNamedWithItsReason) {
    struct Case {
        PrinterState state;
        const char* error;
    };
    const Case cases[] = {
        {{true, true, "Paused", "paused"}, "Printer \"Office\" is stopped: Paused"},
        {{true, true, "", "media-empty-error"}, "Printer \"Office\" is stopped: media-empty-error"},
        {{true, true, "", ""}, "Printer \"Office\" is stopped: no reason given"},
        {{false, false, "Rejecting Jobs", ""},
         "Printer \"Office\" does not accept jobs: Rejecting Jobs"},
    };
    for (const Case& c : cases) {
        FakePrinterSystem printers;
        printers.addDestination("Office", FakePrinterSystem::standardDestination());
        printers.setState("Office", c.state);
        SystemPrintSpool spool(printers);
        Titles titles;
        std::string error;
        EXPECT_EQ(spool.activeJobTitles("office", titles, error), PrintSpool::Status::Stopped);
        EXPECT_EQ(error, c.error);
    }
}

TEST(StorePageSetupAccess, PassesTheChoiceToTheStore) {
    PageSetupStore store;
    StorePageSetupAccess access(store);
    EXPECT_EQ(access.GetCurrentValue(), 25);
    access.Update(264, "A4", "Office", 1);
    std::string paper;
    std::string printer;
    std::int32_t orientation = 0;
    ASSERT_TRUE(access.LookupByKey(264, paper, printer, orientation));
    EXPECT_EQ(paper + "|" + printer + "|" + std::to_string(orientation), "A4|Office|1");
    ASSERT_TRUE(access.LookupCurrent(paper, printer, orientation));
    EXPECT_EQ(printer, "Office");
    access.SetCurrentValue(37);
    EXPECT_EQ(access.GetCurrentValue(), 37);
}

}  // namespace
}  // namespace paginor
