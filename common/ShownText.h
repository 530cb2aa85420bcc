#ifndef STRATA_COMMON_SHOWNTEXT_H_
#define STRATA_COMMON_SHOWNTEXT_H_

#include <string>

// Texts from the user's files and answers on their way to the terminal: a
// control character in them (an escape sequence among others) could move the
// cursor, clear the screen or retitle the window, so none is shown as it is.

// Whether c is an ASCII control character: below 0x20, or 0x7f.
bool IsControlCharacter(char c);

// text with every control character replaced by '?'.
std::string ShownText(const std::string& text);
// The same for a message of whole lines: its line feeds stay.
std::string ShownLines(const std::string& text);

// A value in a message (a user name, a word of the command line): shown as
// ShownText shows it, and cut to its first 40 bytes and "..." when longer,
// since a value that long is no message either. A null value shows as "".
std::string ShownValue(const char* value);
std::string ShownValue(const std::string& value);

#endif  // STRATA_COMMON_SHOWNTEXT_H_
