#ifndef STRATA_DRIVER_SETTINGS_SETUPCONSOLE_H_
#define STRATA_DRIVER_SETTINGS_SETUPCONSOLE_H_

#include "console/ConsoleUI.h"

// The framework's console as setup uses it. A user name that the server's
// databases cannot hold (driver/settings/SettingRules.h) is refused as soon as it is
// typed and asked for again, before any password is: the user-name and
// password dialogue asks its user name through PromptForItem with the
// label "Username". Likewise a password that the server's files cannot hold,
// or an empty one, is refused with the rule that it breaks, and asked for
// again, before the framework would only say that it is invalid.
//
// It prints no progress dots: the clean-up they would accompany takes far
// less than the first dot, and the printer process, which nobody waits for,
// could outlive setup holding the package's lock on its start directory, so
// that a package started right after would be refused.
class SetupConsole : public ConsoleUI {
 public:
  SetupConsole() {}

  char* PromptForItem(const char* label, const char* defaultValue, char** answer,
                      const char* preamble) override;
  void StartPrintingDots() override {}
  void StopPrintingDots() override {}

 private:
  char* PromptForUserName(const char* label, const char* defaultValue, char** answer,
                          const char* preamble);
  char* PromptForPassword(const char* label, const char* defaultValue, char** answer,
                          const char* preamble);
};

#endif  // STRATA_DRIVER_SETTINGS_SETUPCONSOLE_H_
