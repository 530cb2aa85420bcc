#include "console/ConsoleUI.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
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

#include "common/Format.h"
#include "tests/PtySession.h"

namespace {

const char kProbe[] = CONSOLE_PROBE;
// Generous: the machine that runs the tests may be heavily loaded.
const double kPatience = 30.0;

double Now() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

// The probe with args, to start on a terminal or run without one.
ProgramRun Probe(const std::vector<std::string>& args) {
  ProgramRun run;
  run.program = kProbe;
  run.argv = {kProbe};
  run.argv.insert(run.argv.end(), args.begin(), args.end());
  return run;
}

// A change to the environment of a started program; a null value unsets.
struct EnvChange {
  const char* name;
  const char* value;
};

// Runs the probe with input on its standard input, a pipe, and its output
// collected: no terminal.
ProcessResult RunPiped(const std::vector<std::string>& args, const std::string& input,
                       const std::vector<EnvChange>& env = {}, const std::string& dir = "") {
  ProgramRun run = Probe(args);
  run.input = input;
  run.cwd = dir;
  for (const EnvChange& e : env) {
    if (e.value != nullptr && e.value[0] == '\0')
      run.emptyEnv.push_back(e.name);
    else
      run.env.emplace_back(e.name, e.value != nullptr ? e.value : "");
  }
  return RunProgram(run);
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
    PtySession term;
    ASSERT_TRUE(term.Start(Probe({"prompt", "Username", "admin", "", "1"})));
    ASSERT_TRUE(term.Expect("Username [admin]: ")) << term.Output();
    // Enter keeps the default: no answer, and the caller's value untouched.
    term.Send("\n");
    ProcessResult end;
    ASSERT_TRUE(term.WaitExit(&end));
    EXPECT_EQ("Username [admin]: \nresult=(null) answer=[admin] same=0\n", term.Output());
  }
  {
    PtySession term;
    ASSERT_TRUE(term.Start(Probe({"prompt", "Password", "@null", "@null", "1"})));
    ASSERT_TRUE(term.Expect("Password []: ")) << term.Output();
    term.Send("new value\n");
    ProcessResult end;
    ASSERT_TRUE(term.WaitExit(&end));
    EXPECT_EQ("Password []: new value\nresult=[new value] answer=[new value] same=1\n",
              term.Output());
  }
  {
    // Preamble first, without a line end added; no label at all.
    PtySession term;
    ASSERT_TRUE(term.Start(Probe({"prompt", "@null", "x", "Choose:\n", "1"})));
    ASSERT_TRUE(term.Expect("Choose:\n[x]: ")) << term.Output();
    term.Send("y\n");
    ASSERT_TRUE(term.Expect("result=[y]")) << term.Output();
  }
}

TEST(ConsoleUI, PromptAnswersOnATerminal) {
  PtySession term;
  ASSERT_TRUE(term.Start(Probe({"prompt", "Port", "554", "", "3"})));
  // Blanks are an answer.
  ASSERT_TRUE(term.Expect("Port [554]: ")) << term.Output();
  term.Send("   \n");
  ASSERT_TRUE(term.Expect("result=[   ] answer=[   ] same=1\n")) << term.Output();
  // A last line without a line feed, ended by end of input, is taken whole;
  // after it, end of input is no answer.
  ASSERT_TRUE(term.Expect("Port [554]: ")) << term.Output();
  term.Send("8554\x04");
  term.Send("\x04");
  ASSERT_TRUE(term.Expect("result=[8554] answer=[8554] same=1\n")) << term.Output();
  ASSERT_TRUE(term.Expect("Port [554]: result=(null) answer=[554] same=0\n")) << term.Output();
  ProcessResult end;
  ASSERT_TRUE(term.WaitExit(&end));
}

TEST(ConsoleUI, PromptOnPipes) {
  {
    ProcessResult run = RunPiped({"prompt", "Name", "@null", "", "4"}, "first\n\nlast");
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
    ProcessResult run = RunPiped({"prompt", "Name", "@null", "", "2"}, longLine + "\nnext\n");
    EXPECT_EQ("Name []: result=[" + longLine + "] answer=[" + longLine +
                  "] same=1\nName []: result=[next] answer=[next] same=1\n",
              run.out);
  }
}

TEST(ConsoleUI, UsernamePasswordDialogueWithRetry) {
  PtySession term;
  ASSERT_TRUE(term.Start(Probe({"userpass", "@null", "@null", "Administrator account\n"})));
  ASSERT_TRUE(term.Expect("Username []: ")) << term.Output();
  struct termios before = term.Settings();
  ASSERT_TRUE(EchoOn(before));
  term.Send("\n");
  ASSERT_TRUE(term.Expect("Username []: ")) << term.Output();
  term.Send("admin\n");

  ASSERT_TRUE(term.Expect("Password []: ")) << term.Output();
  struct termios quiet = term.Settings();
  EXPECT_FALSE(EchoOn(quiet));
  EXPECT_FALSE(LineEditingOn(quiet));
  term.Send("\n");
  ASSERT_TRUE(term.Expect("Password []: ")) << term.Output();
  term.Send("first-try\n");
  ASSERT_TRUE(term.Expect("Confirm Password []: ")) << term.Output();
  term.Send("other\n");

  // After a mismatch echo is back on while the dialogue waits for Enter.
  ASSERT_TRUE(term.Expect("Press [Enter] to try again.")) << term.Output();
  struct termios pause = term.Settings();
  EXPECT_TRUE(EchoOn(pause));
  EXPECT_TRUE(LineEditingOn(pause));
  term.Send("\n");

  ASSERT_TRUE(term.Expect("Username [admin]: ")) << term.Output();
  term.Send("\n");
  ASSERT_TRUE(term.Expect("Password []: ")) << term.Output();
  term.Send("s3cret\n");
  ASSERT_TRUE(term.Expect("Confirm Password []: ")) << term.Output();
  term.Send("s3cret\n");
  ProcessResult end;
  ASSERT_TRUE(term.WaitExit(&end));
  EXPECT_TRUE(end.exited && end.code == 0) << end.code;

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
    ProcessResult run =
        RunPiped({"userpass", "@null", "@null", "Account\n"}, "bob\nsecret\nsecret\n");
    EXPECT_EQ(
        "Account\nUsername []: Password []: \nConfirm Password []: \n"
        "user=[bob] password=[secret]\n",
        run.out);
    EXPECT_TRUE(run.exited && run.code == 0);
  }
  {
    // Both given: only the message, nothing read.
    ProcessResult run = RunPiped({"userpass", "root", "pw", "Account\n"}, "");
    EXPECT_EQ("Account\nuser=[root] password=[pw]\n", run.out);
  }
  {
    // An empty user name counts as missing; the given password is asked
    // again all the same.
    ProcessResult run = RunPiped({"userpass", "", "pw", ""}, "\nann\nx\nx\n");
    EXPECT_EQ(
        "Username []: Username not specified!\nUsername []: Password []: \n"
        "Confirm Password []: \nuser=[ann] password=[x]\n",
        run.out);
  }
  {
    // A given user name is the default, and Enter keeps it.
    ProcessResult run = RunPiped({"userpass", "admin", "@null", ""}, "\npw\npw\n");
    EXPECT_EQ(
        "Username [admin]: Password []: \nConfirm Password []: \nuser=[admin] password=[pw]\n",
        run.out);
  }
  {
    // A new name replaces the caller's, which the dialogue does not release
    // (here it is not even on the heap).
    ProcessResult run = RunPiped({"userpass", "admin", "@null", ""}, "root\npw\npw\n");
    EXPECT_EQ("Username [admin]: Password []: \nConfirm Password []: \nuser=[root] password=[pw]\n",
              run.out);
    EXPECT_TRUE(run.exited && run.code == 0) << run.err;
  }
  {
    // After a mismatch a new name replaces the one typed before; the
    // dialogue releases what it discards (the leak checker watches).
    ProcessResult run =
        RunPiped({"userpass", "@null", "@null", ""}, "bob\npw\nwp\n\nalice\nx\nx\n");
    EXPECT_EQ(
        "Username []: Password []: \nConfirm Password []: \nPasswords don't match!\n"
        "Press [Enter] to try again.Username [bob]: Password []: \nConfirm Password []: \n"
        "user=[alice] password=[x]\n",
        run.out);
    EXPECT_TRUE(run.exited && run.code == 0) << run.err;
  }
  {
    // An empty confirmation is rejected and only the confirmation is asked
    // again.
    ProcessResult run = RunPiped({"userpass", "@null", "@null", ""}, "bob\npw\n\npw\n");
    EXPECT_EQ(
        "Username []: Password []: \nConfirm Password []: \n"
        "Invalid password entered, try again.\n"
        "Confirm Password []: \nuser=[bob] password=[pw]\n",
        run.out);
    EXPECT_TRUE(run.exited && run.code == 0) << run.err;
  }
  {
    // The message is shown as it is, even with a conversion character.
    ProcessResult run = RunPiped({"userpass", "u", "p", "100% sure %s\n"}, "");
    EXPECT_EQ("100% sure %s\nuser=[u] password=[p]\n", run.out);
  }
}

namespace {

// A console whose user is a script: prompts take their answers from a list
// (a null entry is the Enter key alone; after the last one, input has ended)
// and every operation the dialogue calls is logged, so the dialogue's calls
// through the virtual table can be followed. Standard input is never read.
class ScriptedConsole : public ConsoleUI {
 public:
  explicit ScriptedConsole(std::vector<const char*> answers) : m_answers(answers) {}

  char* PromptForItem(const char* label, const char* defaultValue, char** answer,
                      const char* /*preamble*/) override {
    m_log.push_back(std::string(label) + " [" + (defaultValue ? defaultValue : "") + "]");
    if (m_next >= m_answers.size()) {
      // A dialogue that keeps asking after the end would never finish.
      if (++m_next > m_answers.size() + 20) {
        fprintf(stderr, "the dialogue does not end\n");
        _exit(97);
      }
      m_bInputEnded = true;
      return nullptr;
    }
    if (m_answers[m_next] == nullptr) {
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
    m_log.push_back("message " + FormatTextV(format, args));
    va_end(args);
  }
  void ShowErrorMessage(const char* format, ...) override {
    va_list args;
    va_start(args, format);
    m_log.push_back("error " + FormatTextV(format, args));
    va_end(args);
  }
  void WaitForEnter(const char* prompt) override { m_log.push_back(std::string("wait ") + prompt); }
  void SetEchoOff() override { m_log.push_back("echo off"); }
  void SetEchoOn() override { m_log.push_back("echo on"); }
  const char* GetPagerCmd() override { return "sh -c 'cp \"$0\" copy.txt'"; }
  void DisplayTextFile(const char* fileName) override {
    m_log.push_back(std::string("display ") + fileName + ": " + ReadFile(fileName));
    ConsoleUI::DisplayTextFile(fileName);
  }
  void StopPrintingDots() override {
    m_log.push_back("stop dots");
    ConsoleUI::StopPrintingDots();
  }

  const std::vector<std::string>& Log() const { return m_log; }

 private:
  std::vector<const char*> m_answers;
  size_t m_next = 0;
  std::vector<std::string> m_log;
};

}  // namespace

TEST(ConsoleUI, DialogueCallsThroughTheVirtualTable) {
  ScriptedConsole ui({nullptr, "admin", nullptr, "pw1", "pw2", nullptr, "pw", nullptr, "pw"});
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
      "error Invalid password entered, try again.\n",
      "Confirm Password []",
      "message \n",
      "echo on",
  };
  EXPECT_EQ(expected, ui.Log());
  delete[] userName;
  delete[] password;
}

TEST(ConsoleUI, DerivedPromptDecidesWhenInputHasEnded) {
  // The real standard input plays no part when the console's own
  // PromptForItem does not read it.
  {
    // At its end: a prompt without an answer is still just the Enter key.
    ProcessResult run = RunForked(ForkOptions::MarkReturn(), [] {
      if (getchar() != EOF || !feof(stdin))
        _exit(98);
      ScriptedConsole ui({nullptr, "bob", "pw", "pw"});
      char* userName = nullptr;
      char* password = nullptr;
      ui.PromptForUsernamePassword(&userName, &password, "");
      printf("user=%s password=%s\n", userName ? userName : "(null)",
             password ? password : "(null)");
      delete[] userName;
      delete[] password;
    });
    EXPECT_EQ(kBodyReturned, run.code) << run.err;
    EXPECT_EQ("user=bob password=pw\n", run.out);
  }
  {
    // Not at its end: the script's end ends the dialogue.
    ProcessResult run = RunForked(ForkOptions::MarkReturn(), [] {
      int fds[2];
      if (pipe(fds) != 0 || dup2(fds[0], 0) < 0)
        _exit(98);
      ScriptedConsole ui({"bob", "pw"});
      char* userName = nullptr;
      char* password = nullptr;
      ui.PromptForUsernamePassword(&userName, &password, "");
      printf("user=%s password=%s\n", userName ? userName : "(null)",
             password ? password : "(null)");
      delete[] userName;
    });
    EXPECT_EQ(kBodyReturned, run.code) << run.err;
    EXPECT_EQ("user=bob password=(null)\n", run.out);
  }
}

TEST(ConsoleUI, PagerAndDotsCallThroughTheVirtualTable) {
  TempDir work;
  {
    ScriptedConsole ui({});
    ScopedChdir here(work.path());
    ASSERT_TRUE(here.Ok());
    // DisplayText writes the file and hands it to this console's
    // DisplayTextFile, which runs this console's pager.
    ui.DisplayText("Line one\nLine two\n");
    EXPECT_EQ((std::vector<std::string>{"display _license.txt: Line one\nLine two\n"}), ui.Log());
    EXPECT_EQ("Line one\nLine two\n", ReadFile("copy.txt"));
    EXPECT_NE(0, access("_license.txt", F_OK));
  }

  // Only a running printer is stopped before the next one starts.
  ScriptedConsole ui({});
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
    ProcessResult run = RunPiped({"userpass", "@null", "@null", ""}, "");
    EXPECT_EQ("Username []: user=(null) password=(null)\n", run.out);
    EXPECT_TRUE(run.exited && run.code == 0);
  }
  {
    // The user name was answered; the password could not be asked.
    ProcessResult run = RunPiped({"userpass", "@null", "@null", ""}, "bob\n");
    EXPECT_EQ("Username []: Password []: \nuser=[bob] password=(null)\n", run.out);
  }
  {
    // A password without its confirmation is no password.
    ProcessResult run = RunPiped({"userpass", "@null", "@null", ""}, "bob\npw\n");
    EXPECT_EQ("Username []: Password []: \nConfirm Password []: \nuser=[bob] password=(null)\n",
              run.out);
  }
  {
    // Input ends while waiting after a mismatch.
    ProcessResult run = RunPiped({"userpass", "@null", "@null", ""}, "bob\npw\nwp\n");
    EXPECT_EQ(
        "Username []: Password []: \nConfirm Password []: \nPasswords don't match!\n"
        "Press [Enter] to try again.Username [bob]: user=[bob] password=(null)\n",
        run.out);
  }
  {
    // On a terminal: Ctrl-D at the user-name prompt.
    PtySession term;
    ASSERT_TRUE(term.Start(Probe({"userpass", "@null", "@null", ""})));
    ASSERT_TRUE(term.Expect("Username []: ")) << term.Output();
    term.Send("\x04");
    ProcessResult end;
    ASSERT_TRUE(term.WaitExit(&end));
    EXPECT_EQ("Username []: user=(null) password=(null)\n", term.Output());
    struct termios after = term.Settings();
    EXPECT_TRUE(EchoOn(after));
    EXPECT_TRUE(LineEditingOn(after));
  }
}

TEST(ConsoleUI, SignalAtPasswordPromptRestoresTerminal) {
  // Where a core dump of SIGQUIT would go.
  TempDir work;
  for (int sig : {SIGINT, SIGQUIT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(sig));
    PtySession term;
    ProgramRun run = Probe({"userpass", "admin", "@null", ""});
    run.cwd = work.path();
    ASSERT_TRUE(term.Start(run));
    ASSERT_TRUE(term.Expect("Username [admin]: ")) << term.Output();
    term.Send("\n");
    ASSERT_TRUE(term.Expect("Password []: ")) << term.Output();
    ASSERT_FALSE(EchoOn(term.Settings()));
    // The keyboard's signals as the user types them.
    if (sig == SIGINT)
      term.Send("\x03");  // Ctrl-C
    else if (sig == SIGQUIT)
      term.Send("\x1c");  // Ctrl-Backslash
    else
      term.Signal(sig);
    ProcessResult end;
    ASSERT_TRUE(term.WaitExit(&end));
    // The process ended as the signal says, not through the dialogue.
    EXPECT_TRUE(!end.exited && end.code == sig) << end.code;
    EXPECT_EQ(std::string::npos, term.Output().find("user=")) << term.Output();
    struct termios after = term.Settings();
    EXPECT_TRUE(EchoOn(after));
    EXPECT_TRUE(LineEditingOn(after));
  }
}

TEST(ConsoleUI, EchoOffChangesOnlyEchoAndLineEditing) {
  PtySession term;
  ASSERT_TRUE(term.Start(Probe({"echo"})));
  ASSERT_TRUE(term.Expect("Secret []: ")) << term.Output();
  struct termios quiet = term.Settings();
  // Erase characters reach the answer unedited.
  term.Send("ab\x7f\n");
  ASSERT_TRUE(term.Expect("again: ")) << term.Output();
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
  ProcessResult end;
  ASSERT_TRUE(term.WaitExit(&end));
  // Nothing typed while echo was off appears; what follows is echoed again.
  EXPECT_EQ("Secret []: \nsecret=ab\\x7f\nagain: typed\ndone\n", term.Output());

  {
    // Echo on without an earlier echo off leaves the terminal alone.
    PtySession other;
    ASSERT_TRUE(other.Start(Probe({"echo-on-only"})));
    ASSERT_TRUE(other.Expect("ready: ")) << other.Output();
    struct termios t = other.Settings();
    EXPECT_TRUE(EchoOn(t));
    EXPECT_TRUE(LineEditingOn(t));
    EXPECT_EQ(normal.c_cflag, t.c_cflag);
    other.Send("\n");
    ASSERT_TRUE(other.Expect("done\n")) << other.Output();
  }
  {
    // On pipes both requests do nothing.
    ProcessResult run = RunPiped({"echo"}, "ab\nx\n");
    EXPECT_EQ("Secret []: \nsecret=ab\nagain: done\n", run.out);
  }
}

TEST(ConsoleUI, PagerShowsTextThroughLicenseFile) {
  TempDir bin;
  WriteFile(bin / "more", "#!/bin/sh\necho \"more $*\"\ncat \"$1\"\n", 0755);
  WriteFile(bin / "mypager", "#!/bin/sh\necho \"mypager $*\"\ncat \"$1\"\n", 0755);
  std::string path = bin.path() + ":/usr/bin:/bin";
  TempDir work;
  {
    ProcessResult run = RunPiped({"display", "Terms\nof use\n"}, "",
                                 {{"PAGER", nullptr}, {"PATH", path.c_str()}}, work.path());
    EXPECT_EQ("more _license.txt\nTerms\nof use\nlicense file gone\n", run.out);
  }
  {
    // Read once: a later change of PAGER has no effect.
    ProcessResult run = RunPiped({"pager-twice", "text\n"}, "",
                                 {{"PAGER", "mypager"}, {"PATH", path.c_str()}}, work.path());
    EXPECT_EQ(
        "pager=mypager\nmypager _license.txt\ntext\n"
        "pager=mypager\nmypager _license.txt\ntext\n",
        run.out);
  }
  {
    // An empty PAGER is taken as unset.
    ProcessResult run =
        RunPiped({"pager-twice", "t\n"}, "", {{"PAGER", ""}, {"PATH", path.c_str()}}, work.path());
    EXPECT_EQ("pager=more\nmore _license.txt\nt\npager=more\nmore _license.txt\nt\n", run.out);
  }
  {
    // No text, no pager.
    ProcessResult run = RunPiped({"display-null"}, "", {{"PATH", path.c_str()}}, work.path());
    EXPECT_EQ("license file gone\n", run.out);
  }
  {
    // When the file cannot be made, the text is shown all the same.
    TempDir blocked;
    mkdir((blocked.path() + "/_license.txt").c_str(), 0755);
    ProcessResult run =
        RunPiped({"display", "Terms\n"}, "", {{"PATH", path.c_str()}}, blocked.path());
    EXPECT_EQ("Terms\nlicense file left\n", run.out);
    struct stat st;
    EXPECT_EQ(0, stat((blocked.path() + "/_license.txt").c_str(), &st));
  }
  struct stat st;
  EXPECT_NE(0, stat((work.path() + "/_license.txt").c_str(), &st));
}

TEST(ConsoleUI, ClearScreenRunsClear) {
  TempDir bin;
  WriteFile(bin / "clear", "#!/bin/sh\necho CLEARED\n", 0755);
  std::string path = bin.path() + ":/usr/bin:/bin";
  ProcessResult run = RunPiped({"clear"}, "", {{"PATH", path.c_str()}});
  EXPECT_EQ("\nCLEARED\n", run.out);
}

TEST(ConsoleUI, MessagesAndUsageStreams) {
  {
    ProcessResult run = RunPiped({"usage", "/tmp/x/setup", "-q"}, "");
    // Error messages go to standard output like any other message.
    EXPECT_EQ("message 1\nerror two\n", run.out);
    EXPECT_EQ("Error: unknown option -q\n\nUsage: setup [options]\n", run.err);
    EXPECT_TRUE(run.exited && run.code == 0);
  }
  {
    ProcessResult run = RunPiped({"usage", "C:\\inst\\setup.exe", "@null"}, "");
    EXPECT_EQ("Usage: setup.exe [options]\n", run.err);
  }
  {
    ProcessResult run = RunPiped({"usage", "setup", "--bogus"}, "");
    EXPECT_EQ("Error: unknown option --bogus\n\nUsage: setup [options]\n", run.err);
  }
}

TEST(ConsoleUI, DotPrinterShowsDotsAndPrintsPendingOutputOnce) {
  PtySession term;
  ASSERT_TRUE(term.Start(Probe({"dots"})));
  ASSERT_TRUE(term.Expect("pending")) << term.Output();
  ASSERT_TRUE(term.Expect(".")) << term.Output();
  term.Send("\n");
  ASSERT_TRUE(term.Expect("stopped\n")) << term.Output();
  ProcessResult end;
  ASSERT_TRUE(term.WaitExit(&end));
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
