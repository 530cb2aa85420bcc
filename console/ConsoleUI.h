#ifndef STRATA_CONSOLE_CONSOLEUI_H_
#define STRATA_CONSOLE_CONSOLEUI_H_

#include <sys/types.h>
#include <termio.h>

// The installer's dialogue with the user on the process's standard streams
// and terminal: messages, prompts with defaults, the user-name and password
// dialogue, paged text, terminal echo and a background dot printer. The
// operations call one another through the virtual table, so a derived class
// that replaces one changes those built on it.
//
// Strings handed out (answers of prompts) belong to the caller, who releases
// them with delete[]. Not copyable: an object owns its dot-printer child and
// the terminal settings it saved.
class ConsoleUI {
 public:
  // The file in the working directory through which DisplayText hands a
  // text to the pager; it is removed again once the pager has ended.
  static const char kDisplayTextFile[];

  ConsoleUI();
  virtual ~ConsoleUI();

  ConsoleUI(const ConsoleUI&) = delete;
  ConsoleUI& operator=(const ConsoleUI&) = delete;

  // Prints preamble, label and "[default]: ", reads one line. Returns a new
  // string, also stored in *answer, or null (answer untouched) when the user
  // just pressed Enter or input has ended (then m_bInputEnded is set).
  virtual char* PromptForItem(const char* label, const char* defaultValue, char** answer,
                              const char* preamble);
  // printf onto standard output, without a flush.
  virtual void ShowMessage(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // printf onto standard output as well, without a flush.
  virtual void ShowErrorMessage(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // Flushes every output stream.
  virtual void FlushOutput();
  // Prints prompt (if not null) and reads and discards one line.
  virtual void WaitForEnter(const char* prompt);
  virtual void ClearScreen();
  // The PAGER variable, or "more"; decided on the first call for the process.
  virtual const char* GetPagerCmd();
  // Runs the pager on the file and waits for it.
  virtual void DisplayTextFile(const char* fileName);
  // Shows text through the pager (by way of the file "_license.txt"), or
  // prints it directly when that file cannot be written.
  virtual void DisplayText(const char* text);
  // Asks until a user name and an acceptable, confirmed password are set.
  // When a prompt gives no answer because input has ended (m_bInputEnded),
  // it restores the terminal and returns, leaving what could not be asked
  // null.
  virtual void PromptForUsernamePassword(char** userName, char** password, const char* message);
  // On standard error: the offending option (if any) and the usage line.
  virtual void PrintUsage(const char* programPath, const char* option);
  // Saves the terminal settings of standard input and turns echo and line
  // editing off. Until SetEchoOn, SIGINT, SIGQUIT, SIGTERM and SIGHUP (where
  // they would end the process by default) restore the saved settings first.
  virtual void SetEchoOff();
  // Applies the settings saved by SetEchoOff again (nothing if none were
  // ever saved) and puts the signal handlers back.
  virtual void SetEchoOn();
  // Starts a child that prints a dot every 2 seconds (31 at most); stops an
  // earlier one first and flushes all output before the child is made.
  virtual void StartPrintingDots();
  // Sends the dot printer SIGTERM and forgets it.
  virtual void StopPrintingDots();

 protected:
  // Set by PromptForItem when it found standard input at its end, cleared
  // by the dialogue before each prompt: a prompt without an answer ends the
  // dialogue only then, not because of the state of the real standard input.
  // A derived PromptForItem that reads its input elsewhere may set it too.
  bool m_bInputEnded;

 private:
  pid_t m_nDotPid;
  struct termio m_savedTermio;
};

#endif  // STRATA_CONSOLE_CONSOLEUI_H_
