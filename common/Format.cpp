#include "common/Format.h"

#include <stdio.h>

std::string FormatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatTextV(format, args);
  va_end(args);
  return text;
}

std::string FormatTextV(const char* format, va_list args) {
  va_list again;
  va_copy(again, args);
  int size = vsnprintf(nullptr, 0, format, again);
  va_end(again);
  std::string text;
  if (size > 0) {
    // The extra byte holds the NUL that vsnprintf always writes.
    text.resize(static_cast<size_t>(size) + 1);
    vsnprintf(&text[0], text.size(), format, args);
    text.resize(static_cast<size_t>(size));
  }
  return text;
}
