#include "driver/settings/CommandLineCheck.h"

#include <string.h>
#include <strings.h>

#include <algorithm>

#include "common/FileIo.h"
#include "common/Format.h"
#include "common/IsOneOf.h"
#include "common/ShownText.h"
#include "installer/ServerInstaller.h"

namespace {

bool IsNameChar(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Edits (insertions, deletions, substitutions, ignoring case) from a to b.
size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j)
    row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      size_t above = row[j];
      size_t substitution = diagonal + (Lower(a[i - 1]) == Lower(b[j - 1]) ? 0 : 1);
      row[j] = std::min({above + 1, row[j - 1] + 1, substitution});
      diagonal = above;
    }
  }
  return row[b.size()];
}

std::string Suggestion(const std::string& word, const std::vector<std::string>& known) {
  std::string name = SuggestedName(word, known);
  return name.empty() ? std::string() : " (did you mean " + name + "?)";
}

std::vector<std::string> KnownOptions() {
  std::vector<std::string> known;
  for (const char* const* list :
       {ServerInstaller::g_pValueOptions, ServerInstaller::g_pFlagOptions}) {
    for (const char* const* form = list; *form != nullptr; ++form)
      known.push_back(*form);
  }
  return known;
}

}  // namespace

std::string SuggestedName(const std::string& word, const std::vector<std::string>& known) {
  size_t allowed = word.size() < 6 ? 1 : 2;
  std::string best;
  size_t bestDistance = allowed + 1;
  bool tie = false;
  for (const std::string& name : known) {
    size_t distance = EditDistance(word, name);
    if (distance < bestDistance) {
      best = name;
      bestDistance = distance;
      tie = false;
    } else if (distance == bestDistance && name != best) {
      tie = true;
    }
  }
  return bestDistance <= allowed && !tie ? best : std::string();
}

void CommandLineCheck::Check(int argc, const char** argv, const std::string& startDir) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg == nullptr)
      continue;
    if (IsOneOf(arg, ServerInstaller::g_pFlagOptions))
      continue;
    if (!IsOneOf(arg, ServerInstaller::g_pValueOptions)) {
      m_problems.push_back(FormatText("ERROR: unknown command-line option: %s%s\n",
                                      ShownValue(arg).c_str(),
                                      Suggestion(arg, KnownOptions()).c_str()));
      continue;
    }
    // As the framework reads it: an argument that starts with "-" is the
    // next option, not this one's value.
    if (i + 1 >= argc || argv[i + 1] == nullptr || argv[i + 1][0] == '-') {
      m_problems.push_back(FormatText("ERROR: Option %s has no value\n", arg));
      continue;
    }
    std::string value = argv[++i];
    if (value.empty()) {
      m_problems.push_back(FormatText("ERROR: Option %s has an empty value\n", arg));
      continue;
    }
    if (strcmp(arg, "-cfg") == 0)
      CheckDefaultsFile(value, value[0] == '/' ? value : startDir + "/" + value);
  }
}

bool CommandLineCheck::SetsName(const std::string& name) const {
  for (const std::string& set : m_namesSet) {
    if (strcasecmp(set.c_str(), name.c_str()) == 0)
      return true;
  }
  return false;
}

void CommandLineCheck::CheckDefaultsFile(const std::string& shownName, const std::string& path) {
  std::string content;
  std::string error;
  // One that cannot be read has ended the installation in the framework.
  if (!ReadWholeFile(path, &content, &error))
    return;
  size_t number = 0;
  for (size_t start = 0; start < content.size();) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos)
      end = content.size();
    ++number;
    CheckLine(content.substr(start, end - start),
              FormatText("%s, line %zu", ShownValue(shownName).c_str(), number));
    start = end + 1;
  }
}

void CommandLineCheck::CheckLine(const std::string& line, const std::string& where) {
  size_t at = line.find_first_not_of(' ');
  if (at == std::string::npos || !IsNameChar(line[at]))
    return;  // empty, blank or a comment: the framework ignores it too
  size_t nameEnd = at;
  while (nameEnd < line.size() && IsNameChar(line[nameEnd]))
    ++nameEnd;
  std::string name = line.substr(at, nameEnd - at);

  std::vector<ServerInstaller::InstCfgItem> items = m_installer.DefaultsFileItems();
  const ServerInstaller::InstCfgItem* item = nullptr;
  std::vector<std::string> known;
  for (const ServerInstaller::InstCfgItem& candidate : items) {
    if (candidate.szName == nullptr)
      break;
    known.push_back(candidate.szName);
    if (strcasecmp(candidate.szName, name.c_str()) == 0)
      item = &candidate;
  }
  if (item == nullptr) {
    // The name as the user wrote it, up to where a value would begin.
    std::string written = line.substr(at, line.find_first_of(std::string(" \t=\r\0", 5), at) - at);
    m_problems.push_back(FormatText("ERROR: %s is not a setting of the defaults file%s (%s)\n",
                                    ShownValue(written).c_str(), Suggestion(name, known).c_str(),
                                    where.c_str()));
    return;
  }

  // The framework would take what runs on from the name as the value (a
  // disabled "AdminPassword.old=x" sets the password ".old=x"). The line is
  // shown up to its first '=' or blank only: the rest may be a password.
  if (nameEnd < line.size() && strchr(" \t=\r", line[nameEnd]) == nullptr) {
    size_t end = line.find_first_of(" \t=\r", nameEnd);
    std::string shown;
    if (end == std::string::npos || line[end] == '\r')
      shown = ShownValue(line.substr(at, nameEnd + 1 - at)) + "...";
    else
      shown = ShownValue(line.substr(at, end - at)) + (line[end] == '=' ? "=..." : " ...");
    size_t lineAt = where.rfind(", line ");
    m_problems.push_back(
        FormatText("ERROR: %s, %s: a setting name must be followed by '=' or a blank (%s)\n",
                   shown.c_str(), where.c_str() + lineAt + 2, where.substr(0, lineAt).c_str()));
    return;
  }
  m_namesSet.push_back(item->szName);
  size_t valueStart = line.find_first_not_of(" \t=", nameEnd);
  std::string value = valueStart == std::string::npos ? std::string() : line.substr(valueStart);
  // The framework would end the value there and go on with what came before.
  if (value.find('\0') != std::string::npos) {
    m_problems.push_back(FormatText("ERROR: The value of %s holds a NUL character (%s)\n",
                                    item->szName, where.c_str()));
    return;
  }
  value = value.substr(0, value.find_first_of("\r"));
  while (!value.empty() && strchr(" \t\n\v\f\r", value.back()) != nullptr)
    value.pop_back();
  if (item->nType != 1 && item->nType != 2)
    return;
  if (value.empty()) {
    m_problems.push_back(FormatText("ERROR: %s has no value (%s)\n", item->szName, where.c_str()));
  } else if (value.find_first_not_of("0123456789") != std::string::npos) {
    m_problems.push_back(FormatText("ERROR: %s %s is not a number (%s)\n", item->szName,
                                    ShownValue(value).c_str(), where.c_str()));
  }
}
