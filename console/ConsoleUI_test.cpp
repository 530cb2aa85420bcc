#include "console/ConsoleUI.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

const char kProbe[] = CONSOLE_PROBE;
// Generous: the machine that runs the tests may be heavily loaded.
const double kPatience = 30.0;

double Now() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  return quoted + "'";
}

std::string ProbeCommand(const std::vector<std::string>& args) {
  std::string command = Quote(kProbe);
  for (const std::string& a : args)
    command += " " + Quote(a);
  return command;
}

// A change to the environment of a started program; a null value unsets.
struct EnvChange {
  const char* name;
  const char* value;
};

// Runs in a freshly forked child, before exec.
void PrepareChild(const std::vector<EnvChange>& env, const std::string& dir) {
  for (const EnvChange& e : env) {
    if (e.value == nullptr)
      unsetenv(e.name);
    else
      setenv(e.name, e.value, 1);
  }
  if (!dir.empty() && chdir(dir.c_str()) != 0)
    _exit(126);
}

// A scratch directory, removed with its contents at the end of the test.
class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/console-XXXXXX";
    m_path = mkdtemp(pattern);
  }
  ~TempDir() { system(("rm -rf " + Quote(m_path)).c_str()); }
  const std::string& Path() const { return m_path; }
  void WriteScript(const std::string& name, const std::string& body) {
    std::string path = m_path + "/" + name;
    FILE* file = fopen(path.c_str(), "w");
    ASSERT_NE(nullptr, file);
    fputs(body.c_str(), file);
    fclose(file);
    chmod(path.c_str(), 0755);
  }

 private:
  std::string m_path;
};

// A program started by /bin/sh on a new pseudo-terminal, driven from the
// master side as a user at a keyboard would. The output is collected with
// the terminal's carriage returns removed.
class Terminal {
 public:
  Terminal() = default;
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;
  ~Terminal() {
    if (m_pid > 0) {
      kill(-m_pid, SIGKILL);
      waitpid(m_pid, nullptr, 0);
    }
    if (m_master >= 0)
      close(m_master);
  }

  void Start(const std::string& command, const std::vector<EnvChange>& env = {},
             const std::string& dir = "") {
    fflush(nullptr);
    m_pid = forkpty(&m_master, nullptr, nullptr, nullptr);
    ASSERT_GE(m_pid, 0) << strerror(errno);
    if (m_pid == 0) {
      PrepareChild(env, dir);
      execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
  }

  // Waits for text to appear in the output after the previous match.
  bool WaitFor(const std::string& text) {
    double deadline = Now() + kPatience;
    for (;;) {
      std::string::size_type at = m_output.find(text, m_matched);
      if (at != std::string::npos) {
        m_matched = at + text.size();
        return true;
      }
      if (m_closed || Now() > deadline)
        return false;
      ReadSome(100);
    }
  }

  void Send(const std::string& keys) {
    ASSERT_EQ(static_cast<ssize_t>(keys.size()), write(m_master, keys.data(), keys.size()));
  }

  // The terminal's settings as the program left them (Linux reports the
  // slave's settings on the master).
  struct termios Settings() {
    struct termios t;
    memset(&t, 0, sizeof t);
    EXPECT_EQ(0, tcgetattr(m_master, &t)) << strerror(errno);
    return t;
  }

  // Waits for the program to end and collects the rest of its output.
  bool WaitExit(int* status) {
    double deadline = Now() + kPatience;
    while (Now() <= deadline) {
      pid_t done = waitpid(m_pid, status, WNOHANG);
      if (done == m_pid) {
        m_pid = -1;
        while (!m_closed && Now() <= deadline)
          ReadSome(100);
        return true;
      }
      ReadSome(50);
    }
    return false;
  }

  void Signal(int sig) { kill(-m_pid, sig); }
  const std::string& Output() const { return m_output; }

 private:
  void ReadSome(int timeoutMs) {
    if (m_closed) {
      usleep(timeoutMs * 1000);
      return;
    }
    struct pollfd p = {m_master, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0)
      return;
    char chunk[4096];
    ssize_t n = read(m_master, chunk, sizeof chunk);
    if (n <= 0) {
      // EIO: every process holding the terminal has gone.
      if (n == 0 || errno != EINTR)
        m_closed = true;
      return;
    }
    for (ssize_t i = 0; i < n; ++i) {
      if (chunk[i] != '\r')
        m_output += chunk[i];
    }
  }

  pid_t m_pid = -1;
  int m_master = -1;
  bool m_closed = false;
  std::string m_output;
  std::string::size_type m_matched = 0;
};

struct ProbeRun {
  std::string out;
  std::string err;
  int status = -1;
};

// Runs the probe with standard input and output on pipes: no terminal.
ProbeRun RunPiped(const std::vector<std::string>& args, const std::string& input,
                  const std::vector<EnvChange>& env = {}, const std::string& dir = "") {
  ProbeRun run;
  int in[2], out[2], err[2];
  if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0)
    return run;
  fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0)
    return run;
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
      close(fd);
    PrepareChild(env, dir);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(kProbe));
    for (const std::string& a : args)
      argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(kProbe, argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  // The inputs are far smaller than a pipe's buffer.
  if (write(in[1], input.data(), input.size()) != static_cast<ssize_t>(input.size()))
    ADD_FAILURE() << "short write to the probe";
  close(in[1]);
  struct pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&run.out, &run.err};
  int open = 2;
  double deadline = Now() + kPatience;
  while (open > 0 && Now() <= deadline) {
    if (poll(fds, 2, 100) <= 0)
      continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0)
        continue;
      char chunk[4096];
      ssize_t n = read(fds[i].fd, chunk, sizeof chunk);
      if (n > 0) {
        sinks[i]->append(chunk, n);
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  if (open > 0)
    kill(pid, SIGKILL);
  waitpid(pid, &run.status, 0);
  return run;
}

bool EchoOn(const struct termios& t) {
  return (t.c_lflag & ECHO) != 0;
}
bool LineEditingOn(const struct termios& t) {
  return (t.c_lflag & ICANON) != 0;
}

// Waits up to the test's patience for a child of this process to end.
pid_t ReapChild(int* status) {
  double deadline = Now() + kPatience;
  while (Now() <= deadline) {
    pid_t pid = waitpid(-1, status, WNOHANG);
    if (pid != 0)
      return pid;
    usleep(10000);
  }
  return 0;
}

}  // namespace

TEST(ConsoleUI, PromptShowsLabelAndDefault) {
  {
    Terminal term;
    term.Start(ProbeCommand({"prompt", "Username", "admin", "", "1"}));
    ASSERT_TRUE(term.WaitFor("Username [admin]: ")) << term.Output();
    // Enter keeps the default: no answer, and the caller's value untouched.
    term.Send("\n");
    int status;
    ASSERT_TRUE(term.WaitExit(&status));
    EXPECT_EQ("Username [admin]: \nresult=(null) answer=[admin] same=0\n", term.Output());
  }
  {
    Terminal term;
    term.Start(ProbeCommand({"prompt", "Password", "@null", "@null", "1"}));
    ASSERT_TRUE(term.WaitFor("Password []: ")) << term.Output();
    term.Send("new value\n");
    int status;
    ASSERT_TRUE(term.WaitExit(&status));
    EXPECT_EQ("Password []: new value\nresult=[new value] answer=[new value] same=1\n",
              term.Output());
  }
  {
    // Preamble first, without a line end added; no label at all.
    Terminal term;
    term.Start(ProbeCommand({"prompt", "@null", "x", "Choose:\n", "1"}));
    ASSERT_TRUE(term.WaitFor("Choose:\n[x]: ")) << term.Output();
    term.Send("y\n");
    ASSERT_TRUE(term.WaitFor("result=[y]")) << term.Output();
  }
}

TEST(ConsoleUI, PromptAnswersOnATerminal) {
  Terminal term;
  term.Start(ProbeCommand({"prompt", "Port", "554", "", "3"}));
  // Blanks are an answer.
  ASSERT_TRUE(term.WaitFor("Port [554]: ")) << term.Output();
  term.Send("   \n");
  ASSERT_TRUE(term.WaitFor("result=[   ] answer=[   ] same=1\n")) << term.Output();
  // A last line without a line feed, ended by end of input, is taken whole;
  // after it, end of input is no answer.
  ASSERT_TRUE(term.WaitFor("Port [554]: ")) << term.Output();
  term.Send("8554\x04");
  term.Send("\x04");
  ASSERT_TRUE(term.WaitFor("result=[8554] answer=[8554] same=1\n")) << term.Output();
  ASSERT_TRUE(term.WaitFor("Port [554]: result=(null) answer=[554] same=0\n")) << term.Output();
  int status;
  ASSERT_TRUE(term.WaitExit(&status));
}

TEST(ConsoleUI, PromptOnPipes) {
  {
    ProbeRun run = RunPiped({"prompt", "Name", "@null", "", "4"}, "first\n\nlast");
    EXPECT_EQ(
        "Name []: result=[first] answer=[first] same=1\n"
        "Name []: result=(null) answer=(null) same=1\n"
        "Name []: result=[last] answer=[last] same=1\n"
        "Name []: result=(null) answer=(null) same=1\n",
        run.out);
    EXPECT_EQ("", run.err);
  }
  {
    // A line longer than the 4096-byte line buffer is one answer, not the
    // answers to two questions.
    std::string longLine(6000, 'x');
    ProbeRun run = RunPiped({"prompt", "Name", "@null", "", "2"}, longLine + "\nnext\n");
    EXPECT_EQ("Name []: result=[" + longLine + "] answer=[" + longLine +
                  "] same=1\nName []: result=[next] answer=[next] same=1\n",
              run.out);
  }
}

TEST(ConsoleUI, UsernamePasswordDialogueWithRetry) {
  Terminal term;
  term.Start(ProbeCommand({"userpass", "@null", "@null", "Administrator account\n"}));
  ASSERT_TRUE(term.WaitFor("Username []: ")) << term.Output();
  struct termios before = term.Settings();
  ASSERT_TRUE(EchoOn(before));
  term.Send("\n");
  ASSERT_TRUE(term.WaitFor("Username []: ")) << term.Output();
  term.Send("admin\n");

  ASSERT_TRUE(term.WaitFor("Password []: ")) << term.Output();
  struct termios quiet = term.Settings();
  EXPECT_FALSE(EchoOn(quiet));
  EXPECT_FALSE(LineEditingOn(quiet));
  term.Send("\n");
  ASSERT_TRUE(term.WaitFor("Password []: ")) << term.Output();
  term.Send("first-try\n");
  ASSERT_TRUE(term.WaitFor("Confirm Password []: ")) << term.Output();
  term.Send("other\n");

  // After a mismatch echo is back on while the dialogue waits for Enter.
  ASSERT_TRUE(term.WaitFor("Press [Enter] to try again.")) << term.Output();
  struct termios pause = term.Settings();
  EXPECT_TRUE(EchoOn(pause));
  EXPECT_TRUE(LineEditingOn(pause));
  term.Send("\n");

  ASSERT_TRUE(term.WaitFor("Username [admin]: ")) << term.Output();
  term.Send("\n");
  ASSERT_TRUE(term.WaitFor("Password []: ")) << term.Output();
  term.Send("s3cret\n");
  ASSERT_TRUE(term.WaitFor("Confirm Password []: ")) << term.Output();
  term.Send("s3cret\n");
  int status;
  ASSERT_TRUE(term.WaitExit(&status));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

  // What the user saw, byte for byte: no password was echoed.
  EXPECT_EQ(
      "Administrator account\n"
      "Username []: \n"
      "Username not specified!\n"
      "Username []: admin\n"
      "Password []: \n"
      "Invalid password entered, try again.\n"
      "Password []: \n"
      "Confirm Password []: \n"
      "Passwords don't match!\n"
      "Press [Enter] to try again.\n"
      "Username [admin]: \n"
      "Password []: \n"
      "Confirm Password []: \n"
      "user=[admin] password=[s3cret]\n",
      term.Output());
  struct termios after = term.Settings();
  EXPECT_EQ(before.c_lflag, after.c_lflag);
}

TEST(ConsoleUI, UsernamePasswordOnPipes) {
  {
    // Not a terminal: the echo requests do nothing and the dialogue works.
    ProbeRun run = RunPiped({"userpass", "@null", "@null", "Account\n"}, "bob\nsecret\nsecret\n");
    EXPECT_EQ(
        "Account\nUsername []: Password []: \nConfirm Password []: \n"
        "user=[bob] password=[secret]\n",
        run.out);
    EXPECT_EQ(0, run.status);
  }
  {
    // Both given: only the message, nothing read.
    ProbeRun run = RunPiped({"userpass", "root", "pw", "Account\n"}, "");
    EXPECT_EQ("Account\nuser=[root] password=[pw]\n", run.out);
  }
  {
    // An empty user name counts as missing; the given password is asked
    // again all the same.
    ProbeRun run = RunPiped({"userpass", "", "pw", ""}, "\nann\nx\nx\n");
    EXPECT_EQ(
        "Username []: Username not specified!\nUsername []: Password []: \n"
        "Confirm Password []: \nuser=[ann] password=[x]\n",
        run.out);
  }
  {
    // A given user name is the default, and Enter keeps it.
    ProbeRun run = RunPiped({"userpass", "admin", "@null", ""}, "\npw\npw\n");
    EXPECT_EQ(
        "Username [admin]: Password []: \nConfirm Password []: \nuser=[admin] password=[pw]\n",
        run.out);
  }
  {
    // A new name replaces the caller's, which the dialogue does not release
    // (here it is not even on the heap).
    ProbeRun run = RunPiped({"userpass", "admin", "@null", ""}, "root\npw\npw\n");
    EXPECT_EQ("Username [admin]: Password []: \nConfirm Password []: \nuser=[root] password=[pw]\n",
              run.out);
    EXPECT_EQ(0, run.status) << run.err;
  }
  {
    // After a mismatch a new name replaces the one typed before; the
    // dialogue releases what it discards (the leak checker watches).
    ProbeRun run = RunPiped({"userpass", "@null", "@null", ""}, "bob\npw\nwp\n\nalice\nx\nx\n");
    EXPECT_EQ(
        "Username []: Password []: \nConfirm Password []: \nPasswords don't match!\n"
        "Press [Enter] to try again.Username [bob]: Password []: \nConfirm Password []: \n"
        "user=[alice] password=[x]\n",
        run.out);
    EXPECT_EQ(0, run.status) << run.err;
  }
  {
    // The message is shown as it is, even with a conversion character.
    ProbeRun run = RunPiped({"userpass", "u", "p", "100% sure %s\n"}, "");
    EXPECT_EQ("100% sure %s\nuser=[u] password=[p]\n", run.out);
  }
}

namespace {

// A console whose user is a script: prompts take their answers from a list
// and every operation the dialogue calls is logged, so the dialogue's calls
// through the virtual table can be followed.
class ScriptedConsole : public ConsoleUI {
 public:
  explicit ScriptedConsole(std::vector<const char*> answers) : m_answers(answers) {}

  char* PromptForItem(const char* label, const char* defaultValue, char** answer,
                      const char* /*preamble*/) override {
    m_log.push_back(std::string(label) + " [" + (defaultValue ? defaultValue : "") + "]");
    if (m_next >= m_answers.size() || m_answers[m_next] == nullptr) {
      ++m_next;
      return nullptr;
    }
    const char* text = m_answers[m_next++];
    char* copy = new char[strlen(text) + 1];
    strcpy(copy, text);
    if (answer != nullptr)
      *answer = copy;
    return copy;
  }
  void ShowMessage(const char* format, ...) override {
    va_list args;
    va_start(args, format);
    m_log.push_back("message " + Format(format, args));
    va_end(args);
  }
  void ShowErrorMessage(const char* format, ...) override {
    va_list args;
    va_start(args, format);
    m_log.push_back("error " + Format(format, args));
    va_end(args);
  }
  void WaitForEnter(const char* prompt) override { m_log.push_back(std::string("wait ") + prompt); }
  void SetEchoOff() override { m_log.push_back("echo off"); }
  void SetEchoOn() override { m_log.push_back("echo on"); }
  const char* GetPagerCmd() override { return "sh -c 'cp \"$0\" copy.txt'"; }
  void StopPrintingDots() override {
    m_log.push_back("stop dots");
    ConsoleUI::StopPrintingDots();
  }

  const std::vector<std::string>& Log() const { return m_log; }

 private:
  static std::string Format(const char* format, va_list args) {
    char text[256];
    vsnprintf(text, sizeof text, format, args);
    return text;
  }

  std::vector<const char*> m_answers;
  size_t m_next = 0;
  std::vector<std::string> m_log;
};

}  // namespace

TEST(ConsoleUI, DialogueCallsThroughTheVirtualTable) {
  ScriptedConsole ui({nullptr, "admin", nullptr, "pw1", "pw2", nullptr, "pw", "pw"});
  char* userName = nullptr;
  char* password = nullptr;
  ui.PromptForUsernamePassword(&userName, &password, "Account\n");
  EXPECT_STREQ("admin", userName);
  EXPECT_STREQ("pw", password);
  const std::vector<std::string> expected = {
      "message Account\n",
      "Username []",
      "error Username not specified!\n",
      "Username []",
      "echo off",
      "Password []",
      "message \n",
      "error Invalid password entered, try again.\n",
      "Password []",
      "message \n",
      "Confirm Password []",
      "message \n",
      "echo on",
      "error Passwords don't match!\n",
      "wait Press [Enter] to try again.",
      "Username [admin]",
      "echo off",
      "Password []",
      "message \n",
      "Confirm Password []",
      "message \n",
      "echo on",
  };
  EXPECT_EQ(expected, ui.Log());
  delete[] userName;
  delete[] password;
}

TEST(ConsoleUI, PagerAndDotsCallThroughTheVirtualTable) {
  TempDir work;
  char saved[4096];
  ASSERT_NE(nullptr, getcwd(saved, sizeof saved));
  ASSERT_EQ(0, chdir(work.Path().c_str()));
  ScriptedConsole ui({});
  // DisplayText writes the file, DisplayTextFile runs this console's pager.
  ui.DisplayText("Line one\nLine two\n");
  FILE* copy = fopen("copy.txt", "r");
  char text[64] = {};
  if (copy != nullptr) {
    fread(text, 1, sizeof text - 1, copy);
    fclose(copy);
  }
  EXPECT_STREQ("Line one\nLine two\n", text);
  EXPECT_NE(0, access("_license.txt", F_OK));
  ASSERT_EQ(0, chdir(saved));

  // Only a running printer is stopped before the next one starts.
  ui.StartPrintingDots();
  EXPECT_TRUE(ui.Log().empty());
  ui.StartPrintingDots();
  ui.StopPrintingDots();
  EXPECT_EQ((std::vector<std::string>{"stop dots", "stop dots"}), ui.Log());
  int status;
  EXPECT_GT(ReapChild(&status), 0);
  EXPECT_GT(ReapChild(&status), 0);
}

TEST(ConsoleUI, EndOfInputEndsTheDialogue) {
  {
    ProbeRun run = RunPiped({"userpass", "@null", "@null", ""}, "");
    EXPECT_EQ("Username []: user=(null) password=(null)\n", run.out);
    EXPECT_EQ(0, run.status);
  }
  {
    // The user name was answered; the password could not be asked.
    ProbeRun run = RunPiped({"userpass", "@null", "@null", ""}, "bob\n");
    EXPECT_EQ("Username []: Password []: \nuser=[bob] password=(null)\n", run.out);
  }
  {
    // A password without its confirmation is no password.
    ProbeRun run = RunPiped({"userpass", "@null", "@null", ""}, "bob\npw\n");
    EXPECT_EQ("Username []: Password []: \nConfirm Password []: \nuser=[bob] password=(null)\n",
              run.out);
  }
  {
    // Input ends while waiting after a mismatch.
    ProbeRun run = RunPiped({"userpass", "@null", "@null", ""}, "bob\npw\nwp\n");
    EXPECT_EQ(
        "Username []: Password []: \nConfirm Password []: \nPasswords don't match!\n"
        "Press [Enter] to try again.Username [bob]: user=[bob] password=(null)\n",
        run.out);
  }
  {
    // On a terminal: Ctrl-D at the user-name prompt.
    Terminal term;
    term.Start(ProbeCommand({"userpass", "@null", "@null", ""}));
    ASSERT_TRUE(term.WaitFor("Username []: ")) << term.Output();
    term.Send("\x04");
    int status;
    ASSERT_TRUE(term.WaitExit(&status));
    EXPECT_EQ("Username []: user=(null) password=(null)\n", term.Output());
    struct termios after = term.Settings();
    EXPECT_TRUE(EchoOn(after));
    EXPECT_TRUE(LineEditingOn(after));
  }
}

TEST(ConsoleUI, SignalAtPasswordPromptRestoresTerminal) {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(sig));
    Terminal term;
    term.Start(ProbeCommand({"userpass", "admin", "@null", ""}));
    ASSERT_TRUE(term.WaitFor("Username [admin]: ")) << term.Output();
    term.Send("\n");
    ASSERT_TRUE(term.WaitFor("Password []: ")) << term.Output();
    ASSERT_FALSE(EchoOn(term.Settings()));
    if (sig == SIGINT)
      term.Send("\x03");  // Ctrl-C, as the user types it
    else
      term.Signal(sig);
    int status;
    ASSERT_TRUE(term.WaitExit(&status));
    // The process ended as the signal says, not through the dialogue.
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
    EXPECT_EQ(std::string::npos, term.Output().find("user=")) << term.Output();
    struct termios after = term.Settings();
    EXPECT_TRUE(EchoOn(after));
    EXPECT_TRUE(LineEditingOn(after));
  }
}

TEST(ConsoleUI, EchoOffChangesOnlyEchoAndLineEditing) {
  Terminal term;
  term.Start(ProbeCommand({"echo"}));
  ASSERT_TRUE(term.WaitFor("Secret []: ")) << term.Output();
  struct termios quiet = term.Settings();
  // Erase characters reach the answer unedited.
  term.Send("ab\x7f\n");
  ASSERT_TRUE(term.WaitFor("again: ")) << term.Output();
  struct termios normal = term.Settings();

  EXPECT_TRUE(EchoOn(normal));
  EXPECT_TRUE(LineEditingOn(normal));
  const tcflag_t cleared = ICANON | ECHO | ECHOE | ECHOK | ECHONL;
  EXPECT_EQ(normal.c_lflag & ~cleared, quiet.c_lflag);
  EXPECT_EQ(normal.c_iflag, quiet.c_iflag);
  EXPECT_EQ(normal.c_oflag, quiet.c_oflag);
  EXPECT_EQ(normal.c_cflag, quiet.c_cflag);
  EXPECT_TRUE(quiet.c_lflag & ISIG);
  EXPECT_EQ(1, quiet.c_cc[VMIN]);
  EXPECT_EQ(0, quiet.c_cc[VTIME]);

  term.Send("typed\n");
  int status;
  ASSERT_TRUE(term.WaitExit(&status));
  // Nothing typed while echo was off appears; what follows is echoed again.
  EXPECT_EQ("Secret []: \nsecret=ab\\x7f\nagain: typed\ndone\n", term.Output());

  {
    // Echo on without an earlier echo off leaves the terminal alone.
    Terminal other;
    other.Start(ProbeCommand({"echo-on-only"}));
    ASSERT_TRUE(other.WaitFor("ready: ")) << other.Output();
    struct termios t = other.Settings();
    EXPECT_TRUE(EchoOn(t));
    EXPECT_TRUE(LineEditingOn(t));
    EXPECT_EQ(normal.c_cflag, t.c_cflag);
    other.Send("\n");
    ASSERT_TRUE(other.WaitFor("done\n")) << other.Output();
  }
  {
    // On pipes both requests do nothing.
    ProbeRun run = RunPiped({"echo"}, "ab\nx\n");
    EXPECT_EQ("Secret []: \nsecret=ab\nagain: done\n", run.out);
  }
}

TEST(ConsoleUI, PagerShowsTextThroughLicenseFile) {
  TempDir bin;
  bin.WriteScript("more", "#!/bin/sh\necho \"more $*\"\ncat \"$1\"\n");
  bin.WriteScript("mypager", "#!/bin/sh\necho \"mypager $*\"\ncat \"$1\"\n");
  std::string path = bin.Path() + ":/usr/bin:/bin";
  TempDir work;
  {
    ProbeRun run = RunPiped({"display", "Terms\nof use\n"}, "",
                            {{"PAGER", nullptr}, {"PATH", path.c_str()}}, work.Path());
    EXPECT_EQ("more _license.txt\nTerms\nof use\nlicense file gone\n", run.out);
  }
  {
    // Read once: a later change of PAGER has no effect.
    ProbeRun run = RunPiped({"pager-twice", "text\n"}, "",
                            {{"PAGER", "mypager"}, {"PATH", path.c_str()}}, work.Path());
    EXPECT_EQ(
        "pager=mypager\nmypager _license.txt\ntext\n"
        "pager=mypager\nmypager _license.txt\ntext\n",
        run.out);
  }
  {
    // An empty PAGER is taken as unset.
    ProbeRun run =
        RunPiped({"pager-twice", "t\n"}, "", {{"PAGER", ""}, {"PATH", path.c_str()}}, work.Path());
    EXPECT_EQ("pager=more\nmore _license.txt\nt\npager=more\nmore _license.txt\nt\n", run.out);
  }
  {
    // No text, no pager.
    ProbeRun run = RunPiped({"display-null"}, "", {{"PATH", path.c_str()}}, work.Path());
    EXPECT_EQ("license file gone\n", run.out);
  }
  {
    // When the file cannot be made, the text is shown all the same.
    TempDir blocked;
    mkdir((blocked.Path() + "/_license.txt").c_str(), 0755);
    ProbeRun run = RunPiped({"display", "Terms\n"}, "", {{"PATH", path.c_str()}}, blocked.Path());
    EXPECT_EQ("Terms\nlicense file left\n", run.out);
    struct stat st;
    EXPECT_EQ(0, stat((blocked.Path() + "/_license.txt").c_str(), &st));
  }
  struct stat st;
  EXPECT_NE(0, stat((work.Path() + "/_license.txt").c_str(), &st));
}

TEST(ConsoleUI, ClearScreenRunsClear) {
  TempDir bin;
  bin.WriteScript("clear", "#!/bin/sh\necho CLEARED\n");
  std::string path = bin.Path() + ":/usr/bin:/bin";
  ProbeRun run = RunPiped({"clear"}, "", {{"PATH", path.c_str()}});
  EXPECT_EQ("\nCLEARED\n", run.out);
}

TEST(ConsoleUI, MessagesAndUsageStreams) {
  {
    ProbeRun run = RunPiped({"usage", "/tmp/x/setup", "-q"}, "");
    // Error messages go to standard output like any other message.
    EXPECT_EQ("message 1\nerror two\n", run.out);
    EXPECT_EQ("Error: unknown option -q\n\nUsage: setup [options]\n", run.err);
    EXPECT_EQ(0, run.status);
  }
  {
    ProbeRun run = RunPiped({"usage", "C:\\inst\\setup.exe", "@null"}, "");
    EXPECT_EQ("Usage: setup.exe [options]\n", run.err);
  }
  {
    ProbeRun run = RunPiped({"usage", "setup", "--bogus"}, "");
    EXPECT_EQ("Error: unknown option --bogus\n\nUsage: setup [options]\n", run.err);
  }
}

TEST(ConsoleUI, DotPrinterShowsDotsAndPrintsPendingOutputOnce) {
  Terminal term;
  term.Start(ProbeCommand({"dots"}));
  ASSERT_TRUE(term.WaitFor("pending")) << term.Output();
  ASSERT_TRUE(term.WaitFor(".")) << term.Output();
  term.Send("\n");
  ASSERT_TRUE(term.WaitFor("stopped\n")) << term.Output();
  int status;
  ASSERT_TRUE(term.WaitExit(&status));
  const std::string& out = term.Output();
  EXPECT_EQ(0u, out.find("pending.")) << out;
  EXPECT_EQ(out.find("pending"), out.rfind("pending")) << out;
}

TEST(ConsoleUI, DotPrinterRunsOneChildAtATime) {
  ConsoleUI ui;
  // Nothing to stop: no signal may go anywhere (a kill of id 0 would hit
  // this whole process group).
  ui.StopPrintingDots();

  ui.StartPrintingDots();
  ui.StartPrintingDots();
  int status = 0;
  pid_t first = ReapChild(&status);
  ASSERT_GT(first, 0);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  // The second child still runs.
  EXPECT_EQ(0, waitpid(-1, &status, WNOHANG));

  ui.StopPrintingDots();
  pid_t second = ReapChild(&status);
  ASSERT_GT(second, 0);
  EXPECT_NE(first, second);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  errno = 0;
  EXPECT_EQ(-1, waitpid(-1, &status, WNOHANG));
  EXPECT_EQ(ECHILD, errno);
}
