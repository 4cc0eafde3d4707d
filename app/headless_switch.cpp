#include "app/headless_switch.h"

#include "platform/settings_store.h"
#include "platform/settings_table.h"

namespace paginor {

bool IsHeadlessSwitch(const std::string& commandLine) {
    return commandLine == "--install" || commandLine == "-install" || commandLine == "--uninstall";
}

int RunHeadlessSwitch(const std::string& commandLine, SettingsStore& store,
                      const InstallEnvironment& env, std::ostream& errors) {
    if (commandLine == "--uninstall") {
        UninstallSettings(store);
        UnregisterReportFileTypes(env);
        if (keyExists(store, kPaginorKey)) {
            errors << "The settings cannot be removed.\n";
            return 1;
        }
        return 0;
    }
    const std::string error = InstallSettings(store, env);
    if (!error.empty()) {
        errors << "The settings cannot be written: " << error << "\n";
        return 1;
    }
    return 0;
}

}  // namespace paginor
