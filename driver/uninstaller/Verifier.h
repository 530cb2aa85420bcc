#ifndef STRATA_DRIVER_UNINSTALLER_VERIFIER_H_
#define STRATA_DRIVER_UNINSTALLER_VERIFIER_H_

#include <string>
#include <vector>

// Bin/verify: a copy of setup that, started under the name "verify", checks
// the installation in the directory above its own against its record,
// install-manifest.txt, and prints one line for each difference, nothing
// else:
//   missing PATH               nothing has the name
//   changed PATH               the content differs, or a file is something else now
//   mode PATH 0644 -> 0600     the permission bits differ
//   link PATH                  a recorded link leads elsewhere or is a link no more
// Paths are shown with control characters replaced. The files that hold
// passwords are compared by their keyed digests (driver/record/InstallKey.h),
// so nothing printed or read tells a password. Nothing is changed, and no
// symbolic link inside the installation is followed.
class Verifier {
 public:
  explicit Verifier(std::string installDir);

  Verifier(const Verifier&) = delete;
  Verifier& operator=(const Verifier&) = delete;

  // Whether a program started as argv0 is the verifier.
  static bool IsVerifierName(const char* argv0);
  // The program as Bin/verify: the installation is the parent of the
  // directory that holds /proc/self/exe. Returns the exit status.
  static int RunProgram(int argc, const char** argv);

  // Options (-q: the status only), the check, the lines: 0 when every
  // recorded file is as recorded, 1 when something differs, 255 after a
  // line "Error: ..." when that cannot be told.
  int Main(int argc, const char** argv);

  // The difference lines, without line feeds, in the order of the record:
  // true, or false with *error when the record or a file could not be read.
  bool Differences(std::vector<std::string>* lines, std::string* error);

 private:
  std::string m_sDir;
};

#endif  // STRATA_DRIVER_UNINSTALLER_VERIFIER_H_
