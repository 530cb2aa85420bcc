#include "common/ShownText.h"

bool IsControlCharacter(char c) {
  unsigned char byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7f;
}

namespace {

const size_t kShownValueLength = 40;

}  // namespace

std::string ShownText(const std::string& text) {
  std::string shown = text;
  for (char& c : shown) {
    if (IsControlCharacter(c))
      c = '?';
  }
  return shown;
}

std::string ShownValue(const std::string& value) {
  if (value.size() <= kShownValueLength)
    return ShownText(value);
  return ShownText(value.substr(0, kShownValueLength)) + "...";
}

std::string ShownValue(const char* value) {
  return ShownValue(std::string(value != nullptr ? value : ""));
}

std::string ShownLines(const std::string& text) {
  std::string shown = text;
  for (char& c : shown) {
    if (c != '\n' && IsControlCharacter(c))
      c = '?';
  }
  return shown;
}
