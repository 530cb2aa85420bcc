// Ownership of the texts that a ServerInstaller allocates or is handed.
#include <stdint.h>
#include <string.h>

#include <algorithm>

#include "installer/ServerInstaller.h"

char* ServerInstaller::AdoptText(char* text) {
  // Adopting twice must not release twice.
  if (text != nullptr &&
      std::find(m_ownedTexts.begin(), m_ownedTexts.end(), text) == m_ownedTexts.end()) {
    m_ownedTexts.push_back(text);
  }
  return text;
}

namespace {

char* NewCopy(const char* text) {
  size_t length = strlen(text);
  char* copy = new char[length + 1];
  memcpy(copy, text, length + 1);
  return copy;
}

}  // namespace

char* ServerInstaller::OwnedCopy(const char* text) {
  char* copy = NewCopy(text);
  // A fresh copy cannot be registered yet; skipping AdoptText's search keeps
  // a defaults file of many lines from costing time by the square.
  m_ownedTexts.push_back(copy);
  return copy;
}

bool ServerInstaller::IsOwnSetting(const void* target) const {
  // Compared as numbers: ordering pointers into different objects is not
  // defined for pointers themselves.
  uintptr_t address = reinterpret_cast<uintptr_t>(target);
  uintptr_t begin = reinterpret_cast<uintptr_t>(this);
  return address >= begin && address < begin + sizeof(ServerInstaller);
}

char* ServerInstaller::CopyFor(const void* target, const char* text) {
  return IsOwnSetting(target) ? OwnedCopy(text) : NewCopy(text);
}
