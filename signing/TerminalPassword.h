#ifndef STRATA_SIGNING_TERMINALPASSWORD_H_
#define STRATA_SIGNING_TERMINALPASSWORD_H_

#include <string>

// Asks for a password on the process's terminal (/dev/tty, whatever
// standard input and output are) without echo, and reads one line. The
// terminal's settings are put back before it returns. False with a message
// when there is no terminal, or the input ends before a line does.
bool AskPassword(const std::string& prompt, std::string* password, std::string* error);

#endif  // STRATA_SIGNING_TERMINALPASSWORD_H_
