#include "console/ConsoleUI.h"

#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <string>

#include "common/DefaultSignalAction.h"
#include "credentials/PasswordTool.h"

const char ConsoleUI::kDisplayTextFile[] = "_license.txt";

namespace {

// While echo is off, these signals would otherwise end the process with the
// user's terminal left silent and without line editing; ISIG stays on, so the
// user can send SIGINT and SIGQUIT from the keyboard. The handler puts the
// settings back and then lets the signal take its default course.
const int kRestoreSignals[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};
const int kRestoreSignalCount = sizeof(kRestoreSignals) / sizeof(kRestoreSignals[0]);

struct termio g_restoreTermio;
volatile sig_atomic_t g_restoreArmed = 0;
struct sigaction g_previousActions[kRestoreSignalCount];
bool g_handlerInstalled[kRestoreSignalCount];

// Async-signal-safe: only ioctl and what EndByDefaultAction does.
void RestoreTerminalAndDie(int sig) {
  if (g_restoreArmed)
    ioctl(0, TCSETA, &g_restoreTermio);
  EndByDefaultAction(sig);
}

// Arms the handlers with the settings to restore. A signal that the process
// ignores or handles itself is left alone: only a signal that would end the
// process with its default action needs the terminal put back first.
void ArmTerminalRestore(const struct termio& saved) {
  if (g_restoreArmed)
    return;  // Echo is already off; keep the settings from before that.
  g_restoreTermio = saved;
  g_restoreArmed = 1;
  for (int i = 0; i < kRestoreSignalCount; ++i) {
    g_handlerInstalled[i] = false;
    if (sigaction(kRestoreSignals[i], nullptr, &g_previousActions[i]) != 0)
      continue;
    if ((g_previousActions[i].sa_flags & SA_SIGINFO) || g_previousActions[i].sa_handler != SIG_DFL)
      continue;
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = RestoreTerminalAndDie;
    sigfillset(&action.sa_mask);
    if (sigaction(kRestoreSignals[i], &action, nullptr) == 0)
      g_handlerInstalled[i] = true;
  }
}

void DisarmTerminalRestore() {
  if (!g_restoreArmed)
    return;
  g_restoreArmed = 0;
  for (int i = 0; i < kRestoreSignalCount; ++i) {
    if (g_handlerInstalled[i])
      sigaction(kRestoreSignals[i], &g_previousActions[i], nullptr);
    g_handlerInstalled[i] = false;
  }
}

// Reads one whole line of standard input into line, without its line feed.
// A last line without a line feed counts. Returns false at end of input or
// on a read error. A line is read whole, however long, so that no remainder
// of it is taken for the answer to the next question.
bool ReadLine(std::string* line) {
  char* buffer = nullptr;
  size_t capacity = 0;
  ssize_t length = getline(&buffer, &capacity, stdin);
  if (length < 0) {
    free(buffer);
    return false;
  }
  if (length > 0 && buffer[length - 1] == '\n')
    buffer[length - 1] = '\0';
  // The answer is a C string: it ends at the first NUL the user typed.
  line->assign(buffer);
  free(buffer);
  return true;
}

bool IsEmpty(const char* text) {
  return text == nullptr || text[0] == '\0';
}

// Releases a string the dialogue allocated and leaves its place null.
void Discard(char** text) {
  char* old = *text;
  *text = nullptr;
  delete[] old;
}

}  // namespace

ConsoleUI::ConsoleUI() : m_bInputEnded(false), m_nDotPid(0) {
  // An all-zero record marks "nothing saved yet" for SetEchoOn; no terminal
  // reports all-zero settings (that would include the hang-up speed B0).
  memset(&m_savedTermio, 0, sizeof m_savedTermio);
}

ConsoleUI::~ConsoleUI() {}

char* ConsoleUI::PromptForItem(const char* label, const char* defaultValue, char** answer,
                               const char* preamble) {
  if (preamble != nullptr)
    printf("%s", preamble);
  if (label != nullptr)
    printf("%s ", label);
  printf("[%s]: ", defaultValue != nullptr ? defaultValue : "");
  fflush(nullptr);

  std::string line;
  m_bInputEnded = false;
  if (!ReadLine(&line)) {
    m_bInputEnded = true;
    return nullptr;
  }
  if (line.empty())
    return nullptr;
  char* text = new char[line.size() + 1];
  memcpy(text, line.c_str(), line.size() + 1);
  if (answer != nullptr)
    *answer = text;
  return text;
}

void ConsoleUI::ShowMessage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vprintf(format, args);
  va_end(args);
}

void ConsoleUI::ShowErrorMessage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vprintf(format, args);
  va_end(args);
}

void ConsoleUI::FlushOutput() {
  fflush(nullptr);
}

void ConsoleUI::WaitForEnter(const char* prompt) {
  if (prompt != nullptr)
    printf("%s", prompt);
  std::string discarded;
  ReadLine(&discarded);
}

void ConsoleUI::ClearScreen() {
  printf("\n");
  // The line feed must reach the terminal before "clear" writes to it.
  fflush(nullptr);
  system("clear");
}

const char* ConsoleUI::GetPagerCmd() {
  // Decided once and copied, so a later change of PAGER has no effect. An
  // empty PAGER counts as unset: it would make the shell run the text file
  // itself as a command.
  static const std::string* pager = [] {
    const char* env = getenv("PAGER");
    return new std::string(env != nullptr && env[0] != '\0' ? env : "more");
  }();
  return pager->c_str();
}

void ConsoleUI::DisplayTextFile(const char* fileName) {
  std::string command = std::string(GetPagerCmd()) + " " + (fileName ? fileName : "");
  // What was printed before must appear before the pager's screen.
  fflush(nullptr);
  system(command.c_str());
}

void ConsoleUI::DisplayText(const char* text) {
  if (text == nullptr)
    return;
  FILE* file = fopen(kDisplayTextFile, "w");
  if (file != nullptr) {
    bool written = fputs(text, file) >= 0;
    if (fclose(file) == 0 && written) {
      DisplayTextFile(kDisplayTextFile);
      remove(kDisplayTextFile);
      return;
    }
    remove(kDisplayTextFile);
  }
  // Without the file the pager cannot show the text; the user still sees it.
  printf("%s", text);
  fflush(nullptr);
}

void ConsoleUI::PromptForUsernamePassword(char** userName, char** password, const char* message) {
  // Shown as text, not used as a format: a "%" in it must not read arguments
  // that were never passed.
  if (message != nullptr)
    ShowMessage("%s", message);
  if (!IsEmpty(*userName) && !IsEmpty(*password))
    return;

  // Strings this dialogue allocated and may still discard. The caller's own
  // strings are never released here: they may be constants or defaults.
  char* ownUserName = nullptr;
  char* confirmation = nullptr;
  bool echoOff = false;

  // At end of input nothing more can be asked: leave the user name if one
  // is set, no password, and a working terminal.
  auto endOfInput = [&]() {
    if (echoOff)
      SetEchoOn();
    delete[] confirmation;
    // With echo off the password is one this dialogue read; before that it
    // may still be the caller's.
    if (echoOff)
      Discard(password);
    *password = nullptr;
    if (IsEmpty(*userName)) {
      if (*userName == ownUserName)
        delete[] ownUserName;
      *userName = nullptr;
    }
  };

  for (;;) {
    // The user name; Enter keeps the current one.
    for (bool first = true; first || IsEmpty(*userName); first = false) {
      if (!first)
        ShowErrorMessage("Username not specified!\n");
      char* before = *userName;
      m_bInputEnded = false;
      char* answer = PromptForItem("Username", before, userName, "");
      if (answer == nullptr && m_bInputEnded) {
        endOfInput();
        return;
      }
      if (answer != nullptr) {
        if (before == ownUserName && before != answer)
          delete[] before;
        ownUserName = answer;
      }
    }

    SetEchoOff();
    echoOff = true;
    // From here on every password is one this dialogue read.
    *password = nullptr;
    while (*password == nullptr) {
      m_bInputEnded = false;
      PromptForItem("Password", "", password, "");
      ShowMessage("\n");
      if (*password == nullptr && m_bInputEnded) {
        endOfInput();
        return;
      }
      if (!PasswordTool::PasswordIsOK(*userName, *password)) {
        Discard(password);
        ShowErrorMessage("Invalid password entered, try again.\n");
      }
    }

    while (confirmation == nullptr) {
      m_bInputEnded = false;
      PromptForItem("Confirm Password", "", &confirmation, "");
      ShowMessage("\n");
      if (confirmation == nullptr && m_bInputEnded) {
        endOfInput();
        return;
      }
      if (!PasswordTool::PasswordIsOK(*userName, confirmation)) {
        Discard(&confirmation);
        ShowErrorMessage("Invalid password entered, try again.\n");
      }
    }

    SetEchoOn();
    echoOff = false;

    if (strcmp(*password, confirmation) != 0) {
      ShowErrorMessage("Passwords don't match!\n");
      WaitForEnter("Press [Enter] to try again.");
      Discard(password);
    }
    Discard(&confirmation);

    if (!IsEmpty(*userName) && !IsEmpty(*password))
      return;
  }
}

void ConsoleUI::PrintUsage(const char* programPath, const char* option) {
  if (option != nullptr)
    fprintf(stderr, "Error: unknown option %s\n\n", option);
  const char* name = programPath != nullptr ? programPath : "";
  for (const char* p = name; *p != '\0'; ++p) {
    if (*p == '/' || *p == '\\')
      name = p + 1;
  }
  fprintf(stderr, "Usage: %s [options]\n", name);
}

void ConsoleUI::SetEchoOff() {
  // Only a real terminal needs putting back when a signal ends the process;
  // on anything else both requests fail and change nothing.
  bool isTerminal = ioctl(0, TCGETA, &m_savedTermio) == 0;
  struct termio quiet = m_savedTermio;
  quiet.c_lflag &= ~(ICANON | ECHO | ECHOE | ECHOK | ECHONL);
  quiet.c_cc[VMIN] = 1;
  quiet.c_cc[VTIME] = 0;
  if (isTerminal)
    ArmTerminalRestore(m_savedTermio);
  ioctl(0, TCSETA, &quiet);
}

void ConsoleUI::SetEchoOn() {
  static const struct termio kNothingSaved = {};
  if (memcmp(&m_savedTermio, &kNothingSaved, sizeof m_savedTermio) != 0)
    ioctl(0, TCSETA, &m_savedTermio);
  DisarmTerminalRestore();
}

void ConsoleUI::StartPrintingDots() {
  if (m_nDotPid != 0)
    StopPrintingDots();
  // Anything still buffered would otherwise be written twice: once by this
  // process and once by the child's copy of the buffers.
  fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) {
    m_nDotPid = 0;
    return;
  }
  if (pid == 0) {
    // The child must end on SIGTERM whatever the installer did with it.
    signal(SIGTERM, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    for (int i = 0; i < 31; ++i) {
      sleep(2);
      printf(".");
      fflush(nullptr);
    }
    // _exit: the parent's exit handlers and destructors are not the child's.
    _exit(0);
  }
  m_nDotPid = pid;
}

void ConsoleUI::StopPrintingDots() {
  if (m_nDotPid != 0)
    kill(m_nDotPid, SIGTERM);
  m_nDotPid = 0;
}
