#include "driver/journal/InstallJournal.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "common/AtomicFile.h"
#include "common/CrashPoint.h"
#include "common/DurableFiles.h"
#include "common/FileIo.h"
#include "common/SystemError.h"

const char InstallJournal::kFileName[] = ".strata-journal";

namespace {

const char kFirstLine[] = "strata-journal 1";

// Names may hold any byte but NUL: tabs, line feeds and backslashes are
// escaped so that each step stays one line of tab-separated fields.
std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\t')
      out += "\\t";
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

bool Unescaped(const std::string& text, std::string* out) {
  out->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      *out += text[i];
      continue;
    }
    if (++i == text.size())
      return false;
    if (text[i] == '\\')
      *out += '\\';
    else if (text[i] == 't')
      *out += '\t';
    else if (text[i] == 'n')
      *out += '\n';
    else
      return false;
  }
  return true;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string::npos ? tab : tab - start));
    if (tab == std::string::npos)
      return fields;
    start = tab + 1;
  }
}

bool ParseMode(const std::string& text, mode_t* mode) {
  char* end = nullptr;
  unsigned long value = strtoul(text.c_str(), &end, 8);
  if (text.empty() || *end != '\0' || value > 07777)
    return false;
  *mode = static_cast<mode_t>(value);
  return true;
}

std::string ModeText(mode_t mode) {
  char text[8];
  snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

// Whether path names something inside the installation directory: relative,
// and no ".." component.
bool StaysInside(const std::string& path) {
  if (path.empty() || path[0] == '/')
    return false;
  for (size_t start = 0; start <= path.size();) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos)
      slash = path.size();
    if (path.compare(start, slash - start, "..") == 0 && slash - start == 2)
      return false;
    start = slash + 1;
  }
  return true;
}

// A step line ("rename FROM TO", "chmod PATH MODE EARLIER", "unlink PATH",
// "rmdir PATH"): true with *step, or false with *problem.
bool ParseStep(const std::string& line, JournalStep* step, std::string* problem) {
  std::vector<std::string> fields = Fields(line);
  std::vector<std::string> values(fields.size());
  for (size_t i = 1; i < fields.size(); ++i) {
    if (!Unescaped(fields[i], &values[i])) {
      *problem = "a bad escape";
      return false;
    }
  }
  const std::string& kind = fields[0];
  if (kind == "rename" && fields.size() == 3) {
    step->kind = JournalStep::Kind::kRename;
    step->target = values[2];
  } else if (kind == "chmod" && fields.size() == 4 && ParseMode(fields[2], &step->mode) &&
             ParseMode(fields[3], &step->earlierMode)) {
    step->kind = JournalStep::Kind::kChmod;
  } else if ((kind == "unlink" || kind == "rmdir") && fields.size() == 2) {
    step->kind = kind == "unlink" ? JournalStep::Kind::kUnlink : JournalStep::Kind::kRmdir;
  } else {
    *problem = "not a step this program knows";
    return false;
  }
  step->path = values[1];
  // Every path stays inside the installation directory.
  if (!StaysInside(step->path) ||
      (step->kind == JournalStep::Kind::kRename && !StaysInside(step->target))) {
    *problem = "a path outside the installation directory";
    return false;
  }
  return true;
}

// A "key=value" line into *journal: true, or false with *problem.
bool ParseSetting(const std::string& line, InstallJournal* journal, bool* haveState,
                  std::string* problem) {
  std::string key = line.substr(0, line.find('='));
  std::string value;
  if (!Unescaped(line.substr(key.size() + 1), &value)) {
    *problem = "a bad escape";
    return false;
  }
  if (key == "action" && value == "install") {
    journal->action = InstallJournal::Action::kInstall;
  } else if (key == "action" && value == "restore-backup") {
    journal->action = InstallJournal::Action::kRestoreBackup;
  } else if (key == "action" && value == "uninstall") {
    journal->action = InstallJournal::Action::kUninstall;
  } else if (key == "pid") {
    journal->pid = strtol(value.c_str(), nullptr, 10);
  } else if (key == "generation") {
    journal->generation = value;
  } else if (key == "stage") {
    // Removed by the recovery: never anything outside the installation.
    if (!StaysInside(value)) {
      *problem = "a path outside the installation directory";
      return false;
    }
    journal->stages.push_back(value);
  } else if (key == "state" && (value == "switching" || value == "done")) {
    journal->state =
        value == "done" ? InstallJournal::State::kDone : InstallJournal::State::kSwitching;
    *haveState = true;
  } else {
    *problem = "\"" + key + "\" is not known here";
    return false;
  }
  return true;
}

}  // namespace

const char* InstallJournal::ActionText(Action action) {
  switch (action) {
    case Action::kInstall:
      return "install";
    case Action::kRestoreBackup:
      return "restore-backup";
    case Action::kUninstall:
      return "uninstall";
  }
  return "install";
}

std::string InstallJournal::Format() const {
  std::string text = std::string(kFirstLine) + "\n";
  text += std::string("action=") + ActionText(action) + "\n";
  text += "pid=" + std::to_string(pid) + "\n";
  text += "generation=" + Escaped(generation) + "\n";
  for (const std::string& stage : stages)
    text += "stage=" + Escaped(stage) + "\n";
  text += std::string("state=") + (state == State::kDone ? "done" : "switching") + "\n";
  for (const JournalStep& step : steps) {
    switch (step.kind) {
      case JournalStep::Kind::kRename:
        text += "rename\t" + Escaped(step.path) + "\t" + Escaped(step.target) + "\n";
        break;
      case JournalStep::Kind::kChmod:
        text += "chmod\t" + Escaped(step.path) + "\t" + ModeText(step.mode) + "\t" +
                ModeText(step.earlierMode) + "\n";
        break;
      case JournalStep::Kind::kUnlink:
        text += "unlink\t" + Escaped(step.path) + "\n";
        break;
      case JournalStep::Kind::kRmdir:
        text += "rmdir\t" + Escaped(step.path) + "\n";
        break;
    }
  }
  // Without this line the journal was cut short: never acted on.
  return text + "end\n";
}

bool InstallJournal::Parse(const std::string& text, std::string* error) {
  InstallJournal parsed;
  size_t start = 0;
  int number = 0;
  bool ended = false;
  bool haveState = false;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      *error = "the journal is cut short";
      return false;
    }
    std::string line = text.substr(start, end - start);
    start = end + 1;
    ++number;
    std::string where = "line " + std::to_string(number) + ": ";
    std::string problem;
    if (ended) {
      problem = "text after the end";
    } else if (number == 1) {
      if (line != kFirstLine)
        problem = "not a journal of a format this program reads";
    } else if (line == "end") {
      ended = true;
    } else if (Fields(line).size() == 1 && line.find('=') != std::string::npos) {
      ParseSetting(line, &parsed, &haveState, &problem);
    } else {
      JournalStep step;
      if (ParseStep(line, &step, &problem))
        parsed.steps.push_back(step);
    }
    if (!problem.empty()) {
      *error = where + problem;
      return false;
    }
  }
  if (!ended || !haveState) {
    *error = "the journal is cut short";
    return false;
  }
  *this = parsed;
  return true;
}

bool InstallJournal::Write(const std::string& dir, std::string* error) const {
  CrashPoint();
  if (!WriteFileAtomically(dir + "/" + kFileName, Format(), 0600, error))
    return false;
  CrashPoint();
  return true;
}

bool InstallJournal::Read(const std::string& dir, bool* found, std::string* error) {
  std::string text;
  std::string path = dir + "/" + kFileName;
  if (access(path.c_str(), F_OK) != 0 && errno == ENOENT) {
    *found = false;
    return true;
  }
  *found = true;
  std::string why;
  if (!ReadWholeFile(path, &text, &why)) {
    *error = why;
    return false;
  }
  if (!Parse(text, &why)) {
    *error = path + ": " + why;
    return false;
  }
  return true;
}

bool InstallJournal::Remove(const std::string& dir, std::string* error) {
  std::string path = dir + "/" + kFileName;
  CrashPoint();
  if (unlink(path.c_str()) != 0 && errno != ENOENT) {
    *error = ErrnoMessage(path, errno);
    return false;
  }
  CrashPoint();
  return SyncPath(dir, error);
}
