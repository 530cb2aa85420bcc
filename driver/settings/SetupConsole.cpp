#include "driver/settings/SetupConsole.h"

#include <string.h>

#include <string>

#include "common/ShownText.h"
#include "driver/settings/SettingRules.h"

namespace {

const char kUserNameLabel[] = "Username";
const char kPasswordLabel[] = "Password";
const char kConfirmationLabel[] = "Confirm Password";

// Empty counts as usable: the dialogue itself insists on a name.
bool Usable(const char* name, std::string* why) {
  return name == nullptr || name[0] == '\0' || CheckUserName(name, why);
}

}  // namespace

char* SetupConsole::PromptForItem(const char* label, const char* defaultValue, char** answer,
                                  const char* preamble) {
  if (label != nullptr && strcmp(label, kUserNameLabel) == 0)
    return PromptForUserName(label, defaultValue, answer, preamble);
  if (label != nullptr &&
      (strcmp(label, kPasswordLabel) == 0 || strcmp(label, kConfirmationLabel) == 0))
    return PromptForPassword(label, defaultValue, answer, preamble);
  return ConsoleUI::PromptForItem(label, defaultValue, answer, preamble);
}

char* SetupConsole::PromptForPassword(const char* label, const char* defaultValue, char** answer,
                                      const char* preamble) {
  for (;;) {
    char* given = ConsoleUI::PromptForItem(label, defaultValue, nullptr, preamble);
    if (given == nullptr && m_bInputEnded)
      return nullptr;
    std::string why = "it is empty";
    if (given != nullptr && given[0] != '\0' && CheckPassword(given, &why)) {
      if (answer != nullptr)
        *answer = given;
      return given;
    }
    // Typed without echo: the user's Enter left no line end.
    ShowMessage("\n");
    ShowErrorMessage("ERROR: The password cannot go into the server's files: %s (%s)\n",
                     why.c_str(), kPasswordRule);
    delete[] given;
    preamble = "";
  }
}

char* SetupConsole::PromptForUserName(const char* label, const char* defaultValue, char** answer,
                                      const char* preamble) {
  std::string why;
  // Enter must not take a default that is no name either.
  bool defaultUsable = Usable(defaultValue, &why);
  for (;;) {
    char* given = ConsoleUI::PromptForItem(label, defaultValue, nullptr, preamble);
    if (given == nullptr && (m_bInputEnded || defaultUsable))
      return nullptr;
    const char* name = given != nullptr ? given : defaultValue;
    if (given != nullptr && Usable(given, &why)) {
      if (answer != nullptr)
        *answer = given;
      return given;
    }
    ShowErrorMessage("ERROR: \"%s\" is not a valid user name: %s\n", ShownValue(name).c_str(),
                     why.c_str());
    delete[] given;
    preamble = "";
  }
}
