#ifndef STRATA_DRIVER_SETUPCONSOLE_H_
#define STRATA_DRIVER_SETUPCONSOLE_H_

#include "console/ConsoleUI.h"

// The framework's console as setup uses it. A user name that the server's
// databases cannot hold (driver/SettingRules.h) is refused as soon as it is
// typed and asked for again, before any password is: the user-name and
// password dialogue asks its user name through PromptForItem with the
// label "Username".
class SetupConsole : public ConsoleUI {
 public:
  SetupConsole() {}

  char* PromptForItem(const char* label, const char* defaultValue, char** answer,
                      const char* preamble) override;
};

#endif  // STRATA_DRIVER_SETUPCONSOLE_H_
