#include "driver/uninstaller/Verifier.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "common/Format.h"
#include "common/Path.h"
#include "common/ScopedFd.h"
#include "common/ShownText.h"
#include "common/SystemError.h"
#include "driver/record/FileDescription.h"
#include "driver/record/InstallKey.h"
#include "driver/record/InstallManifest.h"
#include "driver/record/InstallTree.h"
#include "package/Checksum.h"
#include "package/PackageRecord.h"

namespace {

const int kDiffers = 1;
const int kFailure = 255;

const char kUsage[] = "Usage: verify [-q] [-h|--help]\n";
const char kHelp[] =
    "Checks the installation in the directory above the one that holds this\n"
    "program against its record, install-manifest.txt, and prints one line\n"
    "for each difference:\n"
    "  missing PATH             the file is gone\n"
    "  changed PATH             its content differs, or it is no file now\n"
    "  mode PATH 0644 -> 0600   its permissions differ\n"
    "  link PATH                a symbolic link leads elsewhere or is gone\n"
    "\n"
    "  -q          print no difference lines, only set the exit status\n"
    "  -h, --help  show this help\n"
    "\n"
    "Exit status: 0 when every recorded file is as recorded, 1 when something\n"
    "differs, 255 with a message beginning \"Error: \" when that cannot be told.\n";

std::string ModeText(unsigned mode) {
  return FormatText("%04o", mode & 07777);
}

// The lines for one recorded entry, from how it stands now.
void AddLines(const ManifestEntry& entry, const FileStanding& standing,
              std::vector<std::string>* lines) {
  const std::string shown = ShownText(entry.path);
  if (standing.missing) {
    lines->push_back("missing " + shown);
    return;
  }
  if (entry.isLink) {
    if (!standing.sameKind || !standing.sameContent)
      lines->push_back("link " + shown);
    return;
  }
  if (!standing.sameKind || !standing.sameContent)
    lines->push_back("changed " + shown);
  if (standing.sameKind && standing.mode != entry.mode) {
    lines->push_back("mode " + shown + " " + ModeText(entry.mode) + " -> " +
                     ModeText(standing.mode));
  }
}

}  // namespace

Verifier::Verifier(std::string installDir) : m_sDir(std::move(installDir)) {}

bool Verifier::IsVerifierName(const char* argv0) {
  return argv0 != nullptr && BaseNameOf(argv0) == InstallManifest::kVerifierName;
}

int Verifier::RunProgram(int argc, const char** argv) {
  std::string program;
  std::string error;
  if (!OwnProgramPath(&program, &error)) {
    printf("Error: cannot find this program's own file: %s\n", error.c_str());
    return kFailure;
  }
  Verifier verifier(DirectoryOf(DirectoryOf(program)));
  return verifier.Main(argc, argv);
}

int Verifier::Main(int argc, const char** argv) {
  bool quiet = false;
  for (int i = 1; i < argc; ++i) {
    std::string option = argv[i];
    if (option == "-q") {
      quiet = true;
    } else if (option == "-h" || option == "--help") {
      printf("%s\n%s", kUsage, kHelp);
      fflush(stdout);
      return 0;
    } else {
      printf("Error: unknown option %s\n", ShownText(option).c_str());
      fflush(stdout);
      fputs(kUsage, stderr);
      return kFailure;
    }
  }
  std::vector<std::string> lines;
  std::string error;
  if (!Differences(&lines, &error)) {
    // Paths in it are the installation's, whatever they hold.
    printf("Error: %s\n", ShownText(error).c_str());
    fflush(stdout);
    return kFailure;
  }
  if (!quiet) {
    for (const std::string& line : lines)
      printf("%s\n", line.c_str());
  }
  fflush(stdout);
  return lines.empty() ? 0 : kDiffers;
}

bool Verifier::Differences(std::vector<std::string>* lines, std::string* error) {
  InstallTree tree;
  InstallManifest manifest;
  if (!tree.Open(m_sDir, error) || !manifest.ReadFrom(tree, error)) {
    *error = "no installation to verify here: " + *error;
    return false;
  }
  std::vector<ManifestEntry> files = manifest.files;
  std::sort(files.begin(), files.end(),
            [](const ManifestEntry& a, const ManifestEntry& b) { return a.path < b.path; });
  std::vector<FileStanding> standings;
  if (!InspectFilesAt(tree, files, true, &standings, error))
    return false;
  std::vector<std::string> found;
  for (size_t i = 0; i < files.size(); ++i)
    AddLines(files[i], standings[i], &found);
  *lines = found;
  return true;
}
