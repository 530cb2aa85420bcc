#ifndef STRATA_COMMON_SHELLQUOTE_H_
#define STRATA_COMMON_SHELLQUOTE_H_

#include <string>

// Words for /bin/sh command lines, one function per quoting rule.

// text as one word, whatever it holds: in single quotes, each ' written as
// '\''.
std::string ShellQuote(const std::string& text);

// text as one word, unchanged when it holds only characters that the shell
// takes literally (so ordinary paths keep their form), as ShellQuote
// otherwise.
std::string ShellQuoteIfNeeded(const std::string& text);

#endif  // STRATA_COMMON_SHELLQUOTE_H_
