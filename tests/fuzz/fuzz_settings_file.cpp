// Reads arbitrary bytes as the settings file. A file that parses must read the same after it is
// written back; one that does not must leave its reason and never be rewritten.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/settings_store.h"
#include "tests/fuzz/fuzz_support.h"

using namespace paginor;

namespace {

// Walks every key below path, reading each of its values.
void readAll(const SettingsStore& store, const std::string& path, int depth) {
    std::optional<SettingsKeyContents> contents = store.enumerate(SettingsHive::CurrentUser, path);
    if (!contents || depth > 64) {
        return;
    }
    for (const SettingsNamedValue& value : contents->values) {
        std::optional<SettingsValue> read =
            store.readValue(SettingsHive::CurrentUser, path, value.name);
        fuzz::check(read && *read == value.value, "a listed value reads back", value.name);
        store.readString(SettingsHive::CurrentUser, path, value.name, 260);
        store.readDword(SettingsHive::CurrentUser, path, value.name);
    }
    for (const std::string& subkey : contents->subkeys) {
        readAll(store, path.empty() ? subkey : path + "\\" + subkey, depth + 1);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    MemorySettingsStore memory;
    std::string error;
    if (!memory.load(SettingsHive::CurrentUser, text, error)) {
        fuzz::check(!error.empty(), "a file that cannot be parsed says why");
    } else {
        const std::string written = memory.text(SettingsHive::CurrentUser);
        MemorySettingsStore again;
        fuzz::check(again.load(SettingsHive::CurrentUser, written, error), "a written file parses",
                    error);
        fuzz::check(again.text(SettingsHive::CurrentUser) == written,
                    "a written file reads the same");
    }

    const std::string path = fuzz::writeScratchFile("HKEY_CURRENT_USER.reg", text);
    FileSettingsStore store(fuzz::scratchFolder());
    const std::string problem = store.hiveProblem(SettingsHive::CurrentUser);
    fuzz::check(problem.empty() == error.empty(), "the file store reads as the parser does",
                problem);
    readAll(store, "", 0);
    if (!problem.empty()) {
        std::string writeError;
        fuzz::check(!store.setDword(SettingsHive::CurrentUser, "Software", "x", 1, writeError),
                    "a file that cannot be parsed is never rewritten");
    }
    return 0;
}
