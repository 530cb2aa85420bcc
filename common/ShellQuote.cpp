#include "common/ShellQuote.h"

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  quoted += "'";
  return quoted;
}

std::string ShellQuoteIfNeeded(const std::string& text) {
  static const char kLiteral[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/._-+,:=@%";
  if (text.find_first_not_of(kLiteral) == std::string::npos)
    return text;
  return ShellQuote(text);
}
