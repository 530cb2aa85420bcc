#ifndef STRATA_COMMON_FORMAT_H_
#define STRATA_COMMON_FORMAT_H_

#include <stdarg.h>

#include <string>

// printf-style formatting into a string of whatever length the result needs.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The same for the arguments of a variadic caller; args is used up, as by
// vsnprintf.
std::string FormatTextV(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

#endif  // STRATA_COMMON_FORMAT_H_
