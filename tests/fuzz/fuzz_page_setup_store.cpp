// Reads arbitrary bytes as "pagesetup.dat". A file that passes the load checks must answer every
// look-up, take updates and save what it reads back the same; one that fails them is kept aside
// as ".bad" and a new store starts.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "app/print/page_setup_store.h"
#include "tests/fuzz/fuzz_support.h"

using namespace paginor;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::filesystem::remove(fuzz::scratchFolder() + "/pagesetup.dat.bad");
    const std::string path = fuzz::writeScratchFile("pagesetup.dat", bytes);

    PageSetupStore store;
    store.Load(path);
    const bool kept = std::filesystem::exists(path + ".bad");
    fuzz::check(store.loadProblem().empty() != kept, "a refused file is kept aside, and only then",
                store.loadProblem());

    std::string paper;
    std::string printer;
    int orientation = 0;
    for (const int key : {0, 1, 792, 1123, -1}) {
        store.LookupByKey(key, paper, printer, orientation);
    }
    store.LookupCurrent(paper, printer, orientation);
    store.LookupByPaper(paper, printer, orientation);
    store.GetCurrentValue();

    // Whatever was read takes updates, and saves and reloads as itself.
    store.Update(842, "A4", "Queue", 1);
    store.SetCurrent("Letter", "Queue", 0);
    store.SetCurrentValue(40);
    std::string error;
    fuzz::check(store.Save(error), "a store saves", error);
    PageSetupStore again;
    again.Load(path);
    fuzz::check(again.loadProblem().empty(), "a saved store loads", again.loadProblem());
    fuzz::check(again.bytes() == store.bytes(), "a saved store reads back the same");
    fuzz::check(again.LookupByKey(842, paper, printer, orientation) && paper == "A4" &&
                    printer == "Queue" && orientation == 1,
                "an update reads back");
    return 0;
}
