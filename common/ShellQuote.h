#ifndef STRATA_COMMON_SHELLQUOTE_H_
#define STRATA_COMMON_SHELLQUOTE_H_

#include <string>

// text as one word for /bin/sh, whatever it holds: in single quotes, each '
// written as '\''.
std::string ShellQuote(const std::string& text);

#endif  // STRATA_COMMON_SHELLQUOTE_H_
