#ifndef STRATA_DRIVER_SETTINGS_CHANGEDCONFIGQUESTION_H_
#define STRATA_DRIVER_SETTINGS_CHANGEDCONFIGQUESTION_H_

#include <string>

class ConsoleUI;

// The question that an interactive installation asks about one
// configuration file of the server that the administrator changed since it
// was installed, once the new one is staged and before anything is put in
// place:
//
//   The configuration file PATH has been changed since it was installed.
//       keep: keep yours; the new one is written beside it as PATH.new
//       new:  take the new one; yours is kept as PATH.saved
//       diff: show the differences
//   Keep yours, take the new one or show the differences? (keep, new or diff) [keep]:
//
// Enter keeps the administrator's file. "diff" shows `diff -u` of the two
// files, with every password value masked and no control character let
// through, and asks again; where diff cannot be run it says so and asks
// again. Nothing is written to disk.
class ChangedConfigQuestion {
 public:
  enum class Choice {
    kKeep,     // yours stays, the new one goes to NAME.new
    kTakeNew,  // the new one is installed, yours goes to NAME.saved
  };

  explicit ChangedConfigQuestion(ConsoleUI& ui) : m_ui(ui) {}

  ChangedConfigQuestion(const ChangedConfigQuestion&) = delete;
  ChangedConfigQuestion& operator=(const ChangedConfigQuestion&) = delete;

  // shownPath: the file's path in the installation directory, as the user
  // knows it (shown without control characters); yours and theNew: the
  // files to compare. True with *choice, or false with the message to end
  // with in *error when the input ended.
  bool Ask(const std::string& shownPath, const std::string& yours, const std::string& theNew,
           Choice* choice, std::string* error);

  // The lines of text as they may be shown: the value after each
  // "...password=" or "...Password:" (quoted or up to a blank) replaced by
  // "********", and each control character but a tab by '?'.
  static std::string Masked(const std::string& text);

 private:
  // diff -u of the two files, masked, on the console; or why it could not be
  // run.
  void ShowDifferences(const std::string& shownPath, const std::string& yours,
                       const std::string& theNew);

  ConsoleUI& m_ui;
};

#endif  // STRATA_DRIVER_SETTINGS_CHANGEDCONFIGQUESTION_H_
