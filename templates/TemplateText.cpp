#include "templates/TemplateText.h"

#include <stdarg.h>
#include <stdio.h>

namespace {
// The size of a generated file's buffer before any growth; the usual texts fit.
const size_t kInitialSize = 64000;
}  // namespace

TemplateText::TemplateText(std::vector<char>* buffer) : m_pBuffer(buffer), m_nLength(0) {
  if (m_pBuffer->size() < kInitialSize)
    m_pBuffer->resize(kInitialSize);
  (*m_pBuffer)[0] = '\0';
}

void TemplateText::Reserve(size_t extra) {
  size_t need = m_nLength + extra + 1;
  size_t size = m_pBuffer->size();
  if (need <= size)
    return;
  while (size < need)
    size *= 2;
  m_pBuffer->resize(size);
}

void TemplateText::Line(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);

  size_t room = m_pBuffer->size() - m_nLength;
  int n = vsnprintf(m_pBuffer->data() + m_nLength, room, format, args);
  if (n >= 0 && static_cast<size_t>(n) >= room) {
    // The line did not fit: grow and format it once more, now in full.
    Reserve(static_cast<size_t>(n));
    n = vsnprintf(m_pBuffer->data() + m_nLength, m_pBuffer->size() - m_nLength, format, again);
  }
  va_end(again);
  va_end(args);

  if (n < 0) {
    // Only a line of more than INT_MAX characters fails; keep the text whole up
    // to here rather than leave a partial line behind.
    (*m_pBuffer)[m_nLength] = '\0';
    return;
  }
  m_nLength += static_cast<size_t>(n);
  EndLine();
}

void TemplateText::EmptyLine() {
  EndLine();
}

void TemplateText::EndLine() {
  Reserve(1);
  (*m_pBuffer)[m_nLength++] = '\n';
  (*m_pBuffer)[m_nLength] = '\0';
}
