#include "driver/settings/AnswersFile.h"

#include "common/AtomicFile.h"
#include "common/SystemError.h"
#include "driver/settings/SettingRules.h"
#include "installer/ServerInstaller.h"

const char AnswersFile::kFileName[] = "installer.cfg";

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Whether the reader gives value back unchanged after "name=": it skips
// blanks and '=' before the value, ends it at a line break or NUL and trims
// white space behind it; and an empty value would leave the setting
// unchanged. Lines may be of any length.
bool ReadsBack(const std::string& value) {
  if (value.empty() || value.find_first_of(std::string("\n\r\0", 3)) != std::string::npos)
    return false;
  char first = value.front();
  return first != ' ' && first != '\t' && first != '=' && !IsBlank(value.back());
}

class Lines {
 public:
  explicit Lines(std::vector<std::string>* skipped) : m_skipped(skipped) {}

  void Text(const char* name, const char* value) {
    if (value == nullptr)
      return;
    if (!ReadsBack(value)) {
      if (m_skipped != nullptr)
        m_skipped->push_back(name);
      return;
    }
    m_text += std::string(name) + "=" + value + "\n";
  }
  void Number(const char* name, int value) {
    m_text += name + ("=" + std::to_string(value)) + "\n";
  }
  void Comment(const char* text) { m_text += std::string("# ") + text + "\n"; }

  const std::string& text() const { return m_text; }

 private:
  std::vector<std::string>* m_skipped;
  std::string m_text;
};

}  // namespace

std::string AnswersFile::Format(const ServerInstaller& installer,
                                std::vector<std::string>* skipped) {
  Lines lines(skipped);
  lines.Comment("Answers of an interactive installation of Strata Server. No password is kept");
  lines.Comment("here: a password that is not given is generated and shown at the end. To");
  lines.Comment("install again without questions, run the package with -cfg and this file;");
  lines.Comment("without the NonInteractiveInstall line the installer asks again, with these");
  lines.Comment("answers as its defaults.");
  lines.Text("DefInstallPath", installer.m_szDefInstallPath);
  lines.Text("AdminUserID", installer.m_szAdminUserID);
  lines.Text("EncoderUserID", installer.m_szEncoderUserID);
  lines.Text("AdminRealm", installer.m_szAdminRealm);
  lines.Text("EncoderRealm", installer.m_szEncoderRealm);
  lines.Text("RBSEncoderRealm", installer.m_szRBSEncoderRealm);
  lines.Text("WMEncoderRealm", installer.m_szWMEncoderRealm);
  lines.Text("ContentRealm", installer.m_szContentRealm);
  // The defaults file names each port after its service.
  for (int i = 0; i < 6; ++i)
    lines.Number(PortSettingName(i).c_str(), installer.m_pPorts[i].nPort);
  lines.Text("LoggingStyle", installer.m_szLoggingStyle);
  lines.Number("NonInteractiveInstall", 1);
  return lines.text();
}

bool AnswersFile::Write(const std::string& path, const ServerInstaller& installer,
                        std::vector<std::string>* skipped, std::string* error) {
  std::string why;
  int err = 0;
  // An ordinary file: it holds no secret.
  if (!WriteFileAtomically(path, Format(installer, skipped), ModeUnderUmask(0644), &why, &err)) {
    *error = ErrnoMessage(path, err);
    return false;
  }
  return true;
}
