#include "launcher/Format.h"

#include <stdarg.h>
#include <stdio.h>

std::string FormatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int size = vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text;
  if (size > 0) {
    // The extra byte holds the NUL that vsnprintf always writes.
    text.resize(static_cast<size_t>(size) + 1);
    vsnprintf(&text[0], text.size(), format, again);
    text.resize(static_cast<size_t>(size));
  }
  va_end(again);
  return text;
}
