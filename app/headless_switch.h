#pragma once

#include <ostream>
#include <string>

#include "app/settings_install.h"

namespace paginor {

class SettingsStore;

// "--install", "-install" and "--uninstall" change the settings and the file types and show no
// window: they run before any display is opened, so package scripts may run them headless.
bool IsHeadlessSwitch(const std::string& commandLine);

// Runs one of them and gives the process's exit status: 0, or 1 when the settings could not be
// written, with the reason written to errors.
int RunHeadlessSwitch(const std::string& commandLine, SettingsStore& store,
                      const InstallEnvironment& env, std::ostream& errors);

}  // namespace paginor
