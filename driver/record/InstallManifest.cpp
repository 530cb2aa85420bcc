#include "driver/record/InstallManifest.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>

#include "common/AtomicFile.h"
#include "common/FileIo.h"
#include "common/ScopedFd.h"
#include "common/SystemError.h"
#include "driver/record/InstallTree.h"
#include "package/Checksum.h"
#include "package/EscapedPath.h"
#include "package/PackageRecord.h"

const char InstallManifest::kFileName[] = "install-manifest.txt";
const char InstallManifest::kUninstallerName[] = "uninstall";
const char InstallManifest::kVerifierName[] = "verify";

namespace {

const char kComment[] =
    "# Strata Server installation manifest, written by setup. Do not edit: Bin/uninstall reads "
    "it.\n";
const char kFileWord[] = "file\t";
const char kDigestPrefix[] = "sha256:";
const char kKeyedDigestPrefix[] = "hmac-sha256:";
const char* const kPortKeys[6] = {"monitor_port", "rtsp_port", "vqx_port",
                                  "http_port",    "mms_port",  "admin_port"};
// The header lines that hold text as it is, in their order, from the second
// (format=1 comes first).
struct TextKey {
  const char* key;
  std::string InstallManifest::*member;
};
const TextKey kTextKeys[] = {
    {"product", &InstallManifest::product},
    {"release", &InstallManifest::release},
    {"version", &InstallManifest::version},
    {"installed_at", &InstallManifest::installedAt},
    {"package_digest", &InstallManifest::packageDigest},
    {"install_dir", &InstallManifest::installDir},
    {"admin_user", &InstallManifest::adminUser},
    {"encoder_user", &InstallManifest::encoderUser},
    {"admin_realm", &InstallManifest::adminRealm},
    {"encoder_realm", &InstallManifest::encoderRealm},
    {"rbs_encoder_realm", &InstallManifest::rbsEncoderRealm},
    {"wm_encoder_realm", &InstallManifest::wmEncoderRealm},
    {"cdist_realm", &InstallManifest::cdistRealm},
    {"content_realm", &InstallManifest::contentRealm},
    {"logging_style", &InstallManifest::loggingStyle},
};
// The settings of the idempotency rule: the header from install_dir through
// backup_old_files.
const char kFirstSettingsKey[] = "install_dir";
const char kLastSettingsKey[] = "backup_old_files";

bool IsDigits(const std::string& text) {
  return !text.empty() && text.size() <= 19 &&
         text.find_first_not_of("0123456789") == std::string::npos;
}

bool IsSha256Hex(const std::string& text) {
  return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

bool HoldsLineBreak(const std::string& text) {
  return text.find_first_of(std::string("\n\r\0", 3)) != std::string::npos;
}

std::string ModeText(const ManifestEntry& entry) {
  if (entry.isLink)
    return "link";
  char text[8];
  snprintf(text, sizeof text, "%04o", entry.mode & 07777);
  return text;
}

// A file line without its leading "file\t": true, or false with *error.
bool ParseFileLine(const std::string& rest, ManifestEntry* entry, std::string* error) {
  std::vector<std::string> fields;
  size_t start = 0;
  while (true) {
    size_t tab = rest.find('\t', start);
    fields.push_back(rest.substr(start, tab == std::string::npos ? tab : tab - start));
    if (tab == std::string::npos)
      break;
    start = tab + 1;
  }
  if (fields.size() != 4) {
    *error = "a file line needs path, mode, size and digest";
    return false;
  }
  if (!UnescapePath(fields[0], &entry->path) || !InstallTree::IsPlainRelative(entry->path)) {
    *error = "bad path \"" + fields[0] + "\"";
    return false;
  }
  if (fields[1] == "link") {
    entry->isLink = true;
    entry->mode = 0;
  } else if (fields[1].size() == 4 &&
             fields[1].find_first_not_of("01234567") == std::string::npos) {
    entry->isLink = false;
    entry->mode = static_cast<unsigned>(strtoul(fields[1].c_str(), nullptr, 8));
  } else {
    *error = "bad mode \"" + fields[1] + "\"";
    return false;
  }
  if (!IsDigits(fields[2])) {
    *error = "bad size \"" + fields[2] + "\"";
    return false;
  }
  entry->size = strtoull(fields[2].c_str(), nullptr, 10);
  entry->keyed = fields[3].compare(0, sizeof kKeyedDigestPrefix - 1, kKeyedDigestPrefix) == 0;
  const size_t prefix = entry->keyed ? sizeof kKeyedDigestPrefix - 1 : sizeof kDigestPrefix - 1;
  if ((!entry->keyed && fields[3].compare(0, prefix, kDigestPrefix) != 0) ||
      !IsSha256Hex(fields[3].substr(prefix)) || (entry->keyed && entry->isLink)) {
    *error = "bad digest \"" + fields[3] + "\"";
    return false;
  }
  entry->sha256 = fields[3].substr(prefix);
  return true;
}

bool ParsePort(const std::string& value, int* port) {
  if (!IsDigits(value) || value.size() > 5)
    return false;
  long number = strtol(value.c_str(), nullptr, 10);
  if (number > 65535)
    return false;
  *port = static_cast<int>(number);
  return true;
}

}  // namespace

InstallManifest::InstallManifest() : ports{0, 0, 0, 0, 0, 0}, backupOldFiles(true) {}

void InstallManifest::SetInstalledAt(time_t when) {
  struct tm utc;
  char text[64];
  if (gmtime_r(&when, &utc) == nullptr ||
      strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc) == 0) {
    installedAt.clear();
    return;
  }
  installedAt = text;
}

std::vector<std::pair<std::string, std::string>> InstallManifest::Header() const {
  std::string moved;
  for (const std::string& name : movedToOld)
    moved += (moved.empty() ? "" : " ") + name;
  std::vector<std::pair<std::string, std::string>> header = {{"format", "1"}};
  for (const TextKey& text : kTextKeys)
    header.emplace_back(text.key, this->*text.member);
  for (int i = 0; i < 6; ++i)
    header.emplace_back(kPortKeys[i], std::to_string(ports[i]));
  header.emplace_back("backup_old_files", backupOldFiles ? "1" : "0");
  header.emplace_back("moved_to_old", moved);
  header.emplace_back("files", std::to_string(files.size()));
  return header;
}

bool InstallManifest::SetHeader(const std::string& key, const std::string& value,
                                std::string* error) {
  for (const TextKey& text : kTextKeys) {
    if (key == text.key) {
      this->*text.member = value;
      return true;
    }
  }
  for (int i = 0; i < 6; ++i) {
    if (key == kPortKeys[i]) {
      if (ParsePort(value, &ports[i]))
        return true;
      *error = "bad port \"" + value + "\"";
      return false;
    }
  }
  if (key == "backup_old_files") {
    if (value != "0" && value != "1") {
      *error = "backup_old_files must be 0 or 1";
      return false;
    }
    backupOldFiles = value == "1";
    return true;
  }
  if (key == "moved_to_old") {
    movedToOld.clear();
    size_t start = 0;
    while (start < value.size()) {
      size_t blank = value.find(' ', start);
      if (blank == std::string::npos)
        blank = value.size();
      std::string name = value.substr(start, blank - start);
      if (!name.empty()) {
        if (!InstallTree::IsPlainRelative(name) || name.find('/') != std::string::npos) {
          *error = "bad name \"" + name + "\" in moved_to_old";
          return false;
        }
        movedToOld.push_back(name);
      }
      start = blank + 1;
    }
    return true;
  }
  // A key of a later writer: passed over.
  return true;
}

std::string InstallManifest::Format() const {
  std::string text = kComment;
  for (const auto& line : Header())
    text += line.first + "=" + line.second + "\n";
  std::vector<ManifestEntry> sorted = files;
  std::sort(sorted.begin(), sorted.end(),
            [](const ManifestEntry& a, const ManifestEntry& b) { return a.path < b.path; });
  for (const ManifestEntry& entry : sorted) {
    text += kFileWord + EscapePath(entry.path) + "\t" + ModeText(entry) + "\t" +
            std::to_string(entry.size) + "\t" + (entry.keyed ? kKeyedDigestPrefix : kDigestPrefix) +
            entry.sha256 + "\n";
  }
  return text;
}

// What Parse has met so far of one text.
struct InstallManifest::ParseState {
  std::set<std::string> seenKeys;
  std::set<std::string> paths;
  bool seenFormat = false;
  std::string count;
};

bool InstallManifest::Parse(const std::string& text, std::string* error) {
  InstallManifest parsed;
  ParseState state;
  size_t number = 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos)
      end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    ++number;
    // A path's carriage return is written escaped: a raw one means the
    // record has been converted, and every value would carry it.
    if (!line.empty() && line.back() == '\r') {
      *error = "line " + std::to_string(number) +
               ": ends with a carriage return: the record has CRLF line ends (converted or "
               "edited with another line end); setup writes line feeds only";
      return false;
    }
    if (line.empty() || line[0] == '#')
      continue;
    std::string problem;
    bool whole = false;
    if (!parsed.ParseLine(line, &state, &problem, &whole)) {
      // A format this program does not know is no fault of one line.
      *error = whole ? problem : "line " + std::to_string(number) + ": " + problem;
      return false;
    }
  }
  if (!state.seenFormat) {
    *error = "no format= line";
    return false;
  }
  const std::string& count = state.count;
  if (count.empty() || std::to_string(parsed.files.size()) != count) {
    *error = count.empty()
                 ? "no files= line"
                 : "files=" + count + " but " + std::to_string(parsed.files.size()) + " file lines";
    return false;
  }
  *this = parsed;
  return true;
}

bool InstallManifest::ParseLine(const std::string& line, ParseState* state, std::string* problem,
                                bool* whole) {
  if (line.compare(0, sizeof kFileWord - 1, kFileWord) == 0) {
    ManifestEntry entry;
    if (!state->seenFormat) {
      *problem = "the manifest does not begin with format=";
      return false;
    }
    if (!ParseFileLine(line.substr(sizeof kFileWord - 1), &entry, problem))
      return false;
    if (entry.path == kFileName || !state->paths.insert(entry.path).second) {
      *problem =
          "\"" + entry.path + "\" listed " + (entry.path == kFileName ? "as a file" : "twice");
      return false;
    }
    files.push_back(entry);
    return true;
  }

  size_t equals = line.find('=');
  std::string key = line.substr(0, equals);
  if (equals == std::string::npos || key.empty() ||
      key.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_") != std::string::npos) {
    *problem = "neither a key=value line nor a file line";
    return false;
  }
  std::string value = line.substr(equals + 1);
  if (!state->seenFormat) {
    if (key != "format") {
      *problem = "the manifest does not begin with format=";
      return false;
    }
    if (value != "1") {
      *problem = "format " + value + " is not known (this program reads format 1)";
      *whole = true;
      return false;
    }
    state->seenFormat = true;
    state->seenKeys.insert(key);
    return true;
  }
  if (!files.empty()) {
    *problem = "a key=value line after the file lines";
    return false;
  }
  if (!state->seenKeys.insert(key).second) {
    *problem = key + "= given twice";
    return false;
  }
  if (key != "files")
    return SetHeader(key, value, problem);
  if (!IsDigits(value)) {
    *problem = "bad file count \"" + value + "\"";
    return false;
  }
  state->count = value;
  return true;
}

bool InstallManifest::Validate(std::string* error) const {
  for (const auto& line : Header()) {
    if (HoldsLineBreak(line.second)) {
      *error = line.first + " holds a line break";
      return false;
    }
  }
  for (const std::string& name : movedToOld) {
    if (!InstallTree::IsPlainRelative(name) || name.find_first_of("/ ") != std::string::npos) {
      *error = "\"" + name + "\" cannot stand in moved_to_old";
      return false;
    }
  }
  std::set<std::string> paths;
  for (const ManifestEntry& entry : files) {
    if (!InstallTree::IsPlainRelative(entry.path) || entry.path == kFileName) {
      *error = "\"" + entry.path + "\" cannot be listed as a file";
      return false;
    }
    if (!paths.insert(entry.path).second) {
      *error = "\"" + entry.path + "\" is listed twice";
      return false;
    }
    if (!IsSha256Hex(entry.sha256) || entry.mode > 07777 || (entry.isLink && entry.mode != 0) ||
        (entry.isLink && entry.keyed)) {
      *error = "\"" + entry.path + "\" has a bad mode or digest";
      return false;
    }
  }
  return true;
}

bool InstallManifest::Write(const std::string& dir, std::string* error) const {
  if (!Validate(error))
    return false;
  return WriteFileAtomically(dir + "/" + kFileName, Format(), 0644, error);
}

bool InstallManifest::Read(const std::string& dir, std::string* error) {
  InstallTree tree;
  return tree.Open(dir, error) && ReadFrom(tree, error);
}

bool InstallManifest::ReadFrom(const InstallTree& tree, std::string* error) {
  const std::string shown = tree.PathOf(kFileName);
  ScopedFd fd(openat(tree.Fd(), kFileName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat st;
  if (fd.Get() < 0 || fstat(fd.Get(), &st) != 0) {
    *error = ErrnoMessage(shown, errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    *error = shown + ": not a regular file";
    return false;
  }
  std::string text;
  char block[65536];
  while (true) {
    size_t got = 0;
    if (!PreadFull(fd.Get(), block, sizeof block, text.size(), &got)) {
      *error = ErrnoMessage(shown, errno);
      return false;
    }
    text.append(block, got);
    if (got < sizeof block)
      break;
  }
  std::string problem;
  if (!Parse(text, &problem)) {
    *error = shown + ": " + problem;
    return false;
  }
  return true;
}

std::vector<SettingChange> InstallManifest::ChangedSettings(const InstallManifest& newer) const {
  std::vector<std::pair<std::string, std::string>> before = Header();
  std::vector<std::pair<std::string, std::string>> after = newer.Header();
  std::vector<SettingChange> changes;
  bool inSettings = false;
  for (size_t i = 0; i < before.size(); ++i) {
    if (before[i].first == kFirstSettingsKey)
      inSettings = true;
    if (inSettings && before[i].second != after[i].second)
      changes.push_back({before[i].first, before[i].second, after[i].second});
    if (before[i].first == kLastSettingsKey)
      break;
  }
  return changes;
}

bool InstallManifest::SamePackage(const InstallManifest& other) const {
  return packageDigest == other.packageDigest && packageDigest != "unknown" &&
         packageDigest != "none" && !packageDigest.empty();
}

bool InstallManifest::CheckFiles(const std::string& dir, std::vector<FileState>* states,
                                 std::string* error) const {
  InstallTree tree;
  if (!tree.Open(dir, error))
    return false;
  // Setup places the product's files through such a link too.
  tree.SetFollowTopLevelLinks(true);
  return CheckFilesAt(tree, files, states, error);
}
