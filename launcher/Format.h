#ifndef STRATA_LAUNCHER_FORMAT_H_
#define STRATA_LAUNCHER_FORMAT_H_

#include <string>

// printf-style formatting into a string of whatever length the result needs.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

#endif  // STRATA_LAUNCHER_FORMAT_H_
