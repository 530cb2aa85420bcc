#ifndef STRATA_COMMON_ISONEOF_H_
#define STRATA_COMMON_ISONEOF_H_

#include <string.h>

#include <initializer_list>

// Whether text equals one of forms exactly (the whole text, not a prefix),
// as command-line options are matched.
inline bool IsOneOf(const char* text, std::initializer_list<const char*> forms) {
  for (const char* form : forms) {
    if (strcmp(text, form) == 0)
      return true;
  }
  return false;
}

// The same for a list that ends with a null pointer.
inline bool IsOneOf(const char* text, const char* const* forms) {
  for (; *forms != nullptr; ++forms) {
    if (strcmp(text, *forms) == 0)
      return true;
  }
  return false;
}

#endif  // STRATA_COMMON_ISONEOF_H_
