#include "app/print/print_adapters.h"

#include <gtest/gtest.h>

#include "platform/fake_printer_system.h"

namespace paginor {
namespace {

using Titles = std::vector<std::string>;

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
