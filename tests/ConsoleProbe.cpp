// A test-only program that drives ConsoleUI operations on its own standard
// streams, so that tests can run them on a real terminal or on pipes.
//
//   console_probe prompt LABEL DEFAULT PREAMBLE COUNT
//   console_probe userpass USER PASSWORD MESSAGE
//   console_probe echo | echo-on-only | dots
//   console_probe display TEXT | display-null | pager-twice TEXT
//   console_probe clear
//   console_probe usage PATH OPTION
//
// An argument "@null" stands for a null pointer. Results are printed as
// "name=[text]" or "name=(null)".
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "console/ConsoleUI.h"

namespace {

const char* Arg(const char* text) {
  return strcmp(text, "@null") == 0 ? nullptr : text;
}

std::string Shown(const char* text) {
  return text == nullptr ? "(null)" : "[" + std::string(text) + "]";
}

int Prompt(ConsoleUI* ui, char** argv) {
  const char* defaultValue = Arg(argv[3]);
  int count = atoi(argv[5]);
  for (int i = 0; i < count; ++i) {
    // The answer starts out as the caller's default, as the installer's do.
    char* answer = const_cast<char*>(defaultValue);
    char* result = ui->PromptForItem(Arg(argv[2]), defaultValue, &answer, Arg(argv[4]));
    printf("result=%s answer=%s same=%d\n", Shown(result).c_str(), Shown(answer).c_str(),
           result == answer);
    delete[] result;
  }
  return 0;
}

int UserPass(ConsoleUI* ui, char** argv) {
  char* given[2] = {const_cast<char*>(Arg(argv[2])), const_cast<char*>(Arg(argv[3]))};
  char* userName = given[0];
  char* password = given[1];
  ui->PromptForUsernamePassword(&userName, &password, Arg(argv[4]));
  printf("user=%s password=%s\n", Shown(userName).c_str(), Shown(password).c_str());
  // What differs from the arguments was allocated by the dialogue for us.
  if (userName != given[0])
    delete[] userName;
  if (password != given[1])
    delete[] password;
  return 0;
}

int Echo(ConsoleUI* ui) {
  ui->SetEchoOff();
  char* answer = ui->PromptForItem("Secret", "", nullptr, "");
  ui->SetEchoOn();
  printf("\nsecret=");
  for (const char* p = answer; p != nullptr && *p != '\0'; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c < 0x20 || c >= 0x7f)
      printf("\\x%02x", c);
    else
      putchar(c);
  }
  printf("\n");
  delete[] answer;
  ui->WaitForEnter("again: ");
  printf("done\n");
  return 0;
}

int EchoOnOnly(ConsoleUI* ui) {
  ui->SetEchoOn();
  ui->WaitForEnter("ready: ");
  printf("done\n");
  return 0;
}

int Dots(ConsoleUI* ui) {
  // Left in the buffer on purpose: it must not be printed twice.
  ui->ShowMessage("pending");
  ui->StartPrintingDots();
  ui->WaitForEnter(nullptr);
  ui->StopPrintingDots();
  printf("stopped\n");
  return 0;
}

int Display(ConsoleUI* ui, const char* text) {
  ui->DisplayText(text);
  printf("license file %s\n", access("_license.txt", F_OK) == 0 ? "left" : "gone");
  return 0;
}

int PagerTwice(ConsoleUI* ui, const char* text) {
  printf("pager=%s\n", ui->GetPagerCmd());
  fflush(stdout);
  ui->DisplayText(text);
  // Too late: the pager was chosen on first use.
  setenv("PAGER", "changed-pager", 1);
  printf("pager=%s\n", ui->GetPagerCmd());
  fflush(stdout);
  ui->DisplayText(text);
  return 0;
}

int Usage(ConsoleUI* ui, char** argv) {
  ui->ShowMessage("message %d\n", 1);
  ui->ShowErrorMessage("error %s\n", "two");
  ui->PrintUsage(Arg(argv[2]), Arg(argv[3]));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2)
    return 2;
  std::string what = argv[1];
  ConsoleUI ui;
  if (what == "prompt" && argc == 6)
    return Prompt(&ui, argv);
  if (what == "userpass" && argc == 5)
    return UserPass(&ui, argv);
  if (what == "echo")
    return Echo(&ui);
  if (what == "echo-on-only")
    return EchoOnOnly(&ui);
  if (what == "dots")
    return Dots(&ui);
  if (what == "display" && argc == 3)
    return Display(&ui, argv[2]);
  if (what == "display-null")
    return Display(&ui, nullptr);
  if (what == "pager-twice" && argc == 3)
    return PagerTwice(&ui, argv[2]);
  if (what == "clear") {
    ui.ClearScreen();
    return 0;
  }
  if (what == "usage" && argc == 4)
    return Usage(&ui, argv);
  fprintf(stderr, "console_probe: bad arguments\n");
  return 2;
}
