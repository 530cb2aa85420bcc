#include "packager/ProductCheck.h"

#include "packager/ProgramLinkage.h"

// The databases of installer/PasswordDatabases.h, whose users/ folders
// ServerInstaller::UpdatePasswordDatabases makes (without their parents) and
// writes the accounts into. The packager stands beside the installer, not
// above it, so it names them itself.
const char* const ProductCheck::kDatabases[] = {"adm_b_db", "enc_r_db", "enc_b_db", "enc_w_db",
                                                "cdi_b_db"};

namespace {

// "a", "a and b", "a, b and c".
std::string Listed(const std::vector<std::string>& items) {
  std::string text;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0)
      text += i + 1 == items.size() ? " and " : ", ";
    text += items[i];
  }
  return text;
}

// Rounded up, in KB below a MB.
std::string Amount(uint64_t bytes) {
  if (bytes < (1 << 20))
    return std::to_string((bytes + 1023) >> 10) + " KB";
  return std::to_string((bytes + (1 << 20) - 1) >> 20) + " MB";
}

}  // namespace

bool ProductCheck::Run(bool noSecondStage, std::vector<std::string>* warnings,
                       std::string* error) const {
  if (!m_contents.HasSecondStage()) {
    if (noSecondStage)
      return true;
    *error = m_szShown +
             " has no Bin/setup (nor Bin/setup.sh, .pl or .py): its package would unpack it and "
             "install nothing; give --no-second-stage if an archive without installer is meant";
    return false;
  }
  if (noSecondStage) {
    *error = m_szShown + " has a second stage, so --no-second-stage does not fit it";
    return false;
  }
  return m_nSetupFd < 0 || CheckSetupProgram(warnings, error);
}

bool ProductCheck::CheckSetupProgram(std::vector<std::string>* warnings, std::string* error) const {
  ProgramLinkage linkage;
  std::string reason;
  if (!ReadProgramLinkage(m_nSetupFd, &linkage, &reason)) {
    *error = m_szShown + "/Bin/setup: " + reason;
    return false;
  }
  // A script is an installer of its own, whose needs are its own business.
  if (!linkage.elf)
    return true;
  std::vector<std::string> missing;
  for (const char* database : kDatabases) {
    if (!m_contents.HasTopDirectory(database))
      missing.push_back(std::string(database) + "/");
  }
  if (!missing.empty()) {
    *error = m_szShown + " lacks " + Listed(missing) +
             (missing.size() == 1 ? ", the password database whose users/ folder"
                                  : ", the password databases whose users/ folders") +
             " the installation of Bin/setup writes the accounts into (demo/product has all "
             "five)";
    return false;
  }
  if (linkage.Dynamic()) {
    warnings->push_back(m_szShown +
                        "/Bin/setup is dynamically linked: the package installs only "
                        "where " +
                        linkage.Needs() +
                        " can be found (the setup this project builds needs nothing)");
  }
  if (linkage.debugBytes > 0) {
    warnings->push_back(m_szShown + "/Bin/setup carries " + Amount(linkage.debugBytes) +
                        " of debug information, in every package and installation (strip it, "
                        "or take the setup this project builds)");
  }
  return true;
}
