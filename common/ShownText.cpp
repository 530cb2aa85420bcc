#include "common/ShownText.h"

bool IsControlCharacter(char c) {
  unsigned char byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7f;
}

std::string ShownText(const std::string& text) {
  std::string shown = text;
  for (char& c : shown) {
    if (IsControlCharacter(c))
      c = '?';
  }
  return shown;
}

std::string ShownLines(const std::string& text) {
  std::string shown = text;
  for (char& c : shown) {
    if (c != '\n' && IsControlCharacter(c))
      c = '?';
  }
  return shown;
}
