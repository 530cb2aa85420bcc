// Ownership of the texts that a ServerInstaller allocates or is handed.
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

char* ServerInstaller::CopyForStore(const char* text) {
  return m_nOwnStores > 0 ? OwnedCopy(text) : NewCopy(text);
}
