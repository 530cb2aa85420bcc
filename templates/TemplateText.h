#ifndef STRATA_TEMPLATES_TEMPLATETEXT_H_
#define STRATA_TEMPLATES_TEMPLATETEXT_H_

#include <stddef.h>

#include <vector>

// Builds the text of a generated file line by line in a buffer that belongs to
// one template writer and outlives the call. The buffer starts at 64,000 bytes
// and grows whenever a line would not fit, so no text is ever cut. Growing
// moves the text: a pointer from an earlier call then dangles, which callers
// accept since a text is only valid until the writer's next call anyway.
class TemplateText {
 public:
  // Starts an empty text at the first byte of `buffer`.
  explicit TemplateText(std::vector<char>* buffer);

  TemplateText(const TemplateText&) = delete;
  TemplateText& operator=(const TemplateText&) = delete;

  // Appends one line: the formatted text and a line feed.
  void Line(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // Appends a line with no characters at all.
  void EmptyLine();

  // The NUL-terminated text built so far, in the buffer.
  char* Text() { return m_pBuffer->data(); }
  size_t Length() const { return m_nLength; }

 private:
  // Makes room for `extra` more characters and the NUL behind them.
  void Reserve(size_t extra);
  // Appends the line feed that ends every line.
  void EndLine();

  std::vector<char>* m_pBuffer;
  size_t m_nLength;
};

// A text argument that may still be unset: null is written as the empty text.
inline const char* TextOrEmpty(const char* text) {
  return text ? text : "";
}

#endif  // STRATA_TEMPLATES_TEMPLATETEXT_H_
