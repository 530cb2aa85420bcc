#include "driver/settings/ChangedConfigQuestion.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <strings.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

#include "common/ScopedFd.h"
#include "common/ShownText.h"
#include "common/SignalCleanup.h"
#include "common/SystemError.h"
#include "common/WaitStatus.h"
#include "console/ConsoleUI.h"

namespace {

const char kDiffProgram[] = "diff";
const char kMask[] = "********";
// More than any configuration file's differences; the rest is not shown.
const size_t kMostShown = 4 * 1024 * 1024;

bool IsNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// The value that follows a name ending in "password" at name, if any:
// its start and end in line.
bool FindPasswordValue(const std::string& line, size_t name, size_t* start, size_t* end) {
  size_t at = name + 8;
  while (at < line.size() && IsNameCharacter(line[at]))
    ++at;
  while (at < line.size() && line[at] == ' ')
    ++at;
  if (at >= line.size() || (line[at] != '=' && line[at] != ':'))
    return false;
  ++at;
  while (at < line.size() && line[at] == ' ')
    ++at;
  if (at < line.size() && (line[at] == '"' || line[at] == '\'')) {
    size_t close = line.find(line[at], at + 1);
    *start = at + 1;
    *end = close == std::string::npos ? line.size() : close;
    return true;
  }
  *start = at;
  *end = at;
  while (*end < line.size() && line[*end] != ' ' && line[*end] != '\t' && line[*end] != '\n')
    ++*end;
  return true;
}

std::string MaskedLine(std::string line) {
  for (size_t at = 0; at + 8 <= line.size(); ++at) {
    size_t start = 0;
    size_t end = 0;
    if (strncasecmp(line.c_str() + at, "password", 8) != 0 ||
        !FindPasswordValue(line, at, &start, &end))
      continue;
    if (end > start)
      line.replace(start, end - start, kMask);
    at = start + (end > start ? sizeof kMask - 1 : 0);
  }
  for (char& c : line) {
    if (IsControlCharacter(c) && c != '\t' && c != '\n')
      c = '?';
  }
  return line;
}

bool InputHasEnded() {
  return feof(stdin) || ferror(stdin);
}

// Owns an answer of the console.
struct Answer {
  char* text = nullptr;
  ~Answer() { delete[] text; }
};

// Appends what fd gives until its end (the first kMostShown bytes of it).
void ReadToEnd(int fd, std::string* output) {
  char buffer[8192];
  for (;;) {
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      return;
    if (output->size() < kMostShown)
      output->append(buffer, static_cast<size_t>(got));
  }
}

// Runs diff -u with the labels on the two files: true with its output and
// wait status, or false with why it could not be run.
bool RunDiff(const std::string& yours, const std::string& theNew, const std::string& yoursLabel,
             const std::string& newLabel, std::string* output, int* status, std::string* why) {
  int out[2];
  int failed[2];
  if (pipe2(out, O_CLOEXEC) != 0) {
    *why = ErrnoText(errno);
    return false;
  }
  ScopedFd outRead(out[0]);
  ScopedFd outWrite(out[1]);
  if (pipe2(failed, O_CLOEXEC) != 0) {
    *why = ErrnoText(errno);
    return false;
  }
  ScopedFd failedRead(failed[0]);
  ScopedFd failedWrite(failed[1]);
  const char* argv[] = {kDiffProgram,       "-u",           "--label",
                        yoursLabel.c_str(), "--label",      newLabel.c_str(),
                        yours.c_str(),      theNew.c_str(), nullptr};
  pid_t pid;
  {
    // Killed with setup should an interrupt end it meanwhile.
    CleanupSignalBlock block;
    pid = fork();
    if (pid == 0) {
      // The block is setup's: diff ends on an interrupt like any command.
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      // Its complaints too: they name the files, shown only once masked.
      dup2(outWrite.Get(), 1);
      dup2(outWrite.Get(), 2);
      execvp(kDiffProgram, const_cast<char* const*>(argv));
      int err = errno;
      ssize_t ignored = write(failedWrite.Get(), &err, sizeof err);
      (void)ignored;
      _exit(127);
    }
    if (pid > 0)
      KillOnSignal(pid);
  }
  if (pid < 0) {
    *why = ErrnoText(errno);
    return false;
  }
  outWrite.Reset(-1);
  failedWrite.Reset(-1);
  ReadToEnd(outRead.Get(), output);
  int err = 0;
  ssize_t got = read(failedRead.Get(), &err, sizeof err);
  {
    CleanupSignalBlock block;
    while (waitpid(pid, status, 0) < 0 && errno == EINTR) {
    }
    ForgetChild(pid);
  }
  if (got == static_cast<ssize_t>(sizeof err)) {
    *why = ErrnoMessage(kDiffProgram, err);
    return false;
  }
  return true;
}

}  // namespace

std::string ChangedConfigQuestion::Masked(const std::string& text) {
  std::string shown;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    shown += MaskedLine(text.substr(start, end - start));
    start = end;
  }
  return shown;
}

bool ChangedConfigQuestion::Ask(const std::string& shownPath, const std::string& yours,
                                const std::string& theNew, Choice* choice, std::string* error) {
  const std::string path = ShownText(shownPath);
  std::string preamble = "\nThe configuration file " + path +
                         " has been changed since it was installed.\n" +
                         "    keep: keep yours; the new one is written beside it as " + path +
                         ".new\n" + "    new:  take the new one; yours is kept as " + path +
                         ".saved\n" + "    diff: show the differences\n";
  for (;;) {
    Answer answer;
    answer.text = m_ui.PromptForItem(
        "Keep yours, take the new one or show the differences? (keep, new or diff)", "keep",
        nullptr, preamble.c_str());
    preamble.clear();
    if (answer.text == nullptr && InputHasEnded()) {
      *error = "ERROR: The input ended before the question about " + path + " was answered\n";
      return false;
    }
    const char* text = answer.text != nullptr ? answer.text : "keep";
    if (strcasecmp(text, "keep") == 0 || strcasecmp(text, "k") == 0) {
      *choice = Choice::kKeep;
      return true;
    }
    if (strcasecmp(text, "new") == 0 || strcasecmp(text, "n") == 0) {
      *choice = Choice::kTakeNew;
      return true;
    }
    if (strcasecmp(text, "diff") == 0 || strcasecmp(text, "d") == 0)
      ShowDifferences(path, yours, theNew);
    else
      m_ui.ShowErrorMessage("Please answer keep, new or diff.\n");
  }
}

void ChangedConfigQuestion::ShowDifferences(const std::string& shownPath, const std::string& yours,
                                            const std::string& theNew) {
  m_ui.FlushOutput();
  std::string output;
  int status = 0;
  std::string why;
  if (!RunDiff(yours, theNew, shownPath + " (yours)", shownPath + ".new (the new one)", &output,
               &status, &why)) {
    m_ui.ShowErrorMessage("ERROR: Unable to show the differences (%s).\n", why.c_str());
    return;
  }
  // diff ends with 0 for the same text, 1 for differences, 2 for trouble.
  if (!WIFEXITED(status) || WEXITSTATUS(status) > 1) {
    m_ui.ShowErrorMessage("%sERROR: Unable to show the differences (%s).\n", Masked(output).c_str(),
                          WaitStatusText(kDiffProgram, status).c_str());
    return;
  }
  if (WEXITSTATUS(status) == 0) {
    m_ui.ShowMessage("\nThe texts are the same; only the mode differs.\n");
    return;
  }
  std::string shown = Masked(output);
  if (!shown.empty() && shown.back() != '\n')
    shown += '\n';
  m_ui.ShowMessage("\n%s", shown.c_str());
}
