#include "driver/settings/SetupHelp.h"

#include <string.h>

#include <memory>

#include "common/Format.h"
#include "installer/ServerInstaller.h"
#include "product/PackageInfo.h"
#include "product/ServerVersion.h"

namespace {

struct NameHelp {
  const char* name;
  const char* text;
};

// One line for each name of the defaults file.
const NameHelp kNames[] = {
    {"DefInstallPath", "installation directory (default: where started)"},
    {"AdminUserID", "administrator's user name (required unattended)"},
    {"AdminPassword", "its password (default: kept, else generated)"},
    {"AdminRealm", "administrator's realm (default: HOST.AdminRealm)"},
    {"AdminPort", "administration port (default: kept, else drawn)"},
    {"EncoderUserID", "encoder's user name (required unattended)"},
    {"EncoderPassword", "its password (default: kept, else generated)"},
    {"EncoderRealm", "encoder's realm (default: HOST.EncoderRealm)"},
    {"RBSEncoderRealm", "RBS encoders' realm (default: HOST.RBSEncoderRealm)"},
    {"WMEncoderRealm", "WM encoders' realm (default: HOST.WMEncoderRealm)"},
    {"ContentRealm", "protected content's realm (default: HOST.ContentRealm)"},
    {"MonitorPassword", "password of the monitor"},
    {"MonitorPort", "monitor port (default 9090)"},
    {"HTTPPort", "HTTP port (default 80)"},
    {"RTSPPort", "RTSP port (default 554)"},
    {"VQXPort", "VQX port (default 7070)"},
    {"MMSPort", "MMS port (default 1755)"},
    {"LoggingStyle", "the server's logging style (default 5)"},
    {"BackupOldFiles", "0: replace earlier files, no NAME.old (default 1)"},
    {"SilentInstall", "1: print only errors and ask nothing, like -s"},
    {"NonInteractiveInstall", "1: ask nothing, like -p"},
    {"DebugInstall", "1: like --debug"},
};

const char* NameText(const char* name) {
  for (const NameHelp& help : kNames) {
    if (strcmp(help.name, name) == 0)
      return help.text;
  }
  return "a setting of the installer";
}

const char kSetupOptions[] =
    "Options of setup itself:\n"
    "--check        Check every setting and show what an installation would do,\n"
    "               ending with \"Check: install\" (or upgrade, nothing to do,\n"
    "               reinstall); change nothing\n"
    "--reinstall    Install even when the same installation is there\n"
    "--take-new-config\n"
    "               Install the new configuration files (qmserver.cfg,\n"
    "               default.cfg, Bin/loopcast.sh, Content/) over those you\n"
    "               changed, keeping yours as NAME.saved; without it yours stay\n"
    "               in effect and the new ones are written as NAME.new, except\n"
    "               where the dialogue asks about each (not Content/)\n"
    "--help, -h     Print this help and exit (the package's own -h prints the\n"
    "               package's help)\n"
    "--debug        Show the settings as the installer reads them\n";

const char kStatuses[] =
    "Exit statuses:\n"
    "  0      installed, upgraded or reinstalled; already installed, nothing to\n"
    "         do; --check: the installation would go ahead (or is done); --help\n"
    "  255    refused or failed, with a message that says why: a setting, the\n"
    "         command line or the defaults file was wrong, the license declined,\n"
    "         the dialogue cancelled, or a step failed; nothing was changed (an\n"
    "         earlier installation is as it was)\n"
    "  128+N  ended by signal N (Ctrl-C, SIGTERM, SIGHUP); nothing is left\n";

}  // namespace

std::string SetupHelpText(ServerInstaller& installer) {
  std::string text =
      FormatText("%s: second-stage installer (setup)\n\n", ServerVersion::FullProductName());
  text +=
      "Usage: PACKAGE [options]   (the package starts Bin/setup with the same options)\n\n"
      "Options of the package:\n";
  std::unique_ptr<char[]> packageHelp(PackageInfo::CommandLineHelpString());
  std::string options = packageHelp.get();
  // The option lines only: the note on defaults files is replaced below by
  // one line for each name.
  text += options.substr(0, options.find("\n\n") + 1);
  text += "\n";
  text += kSetupOptions;
  text +=
      "\nDefaults file (-cfg FILE): one Name=Value per line, names in any case; a later\n"
      "line wins, and so does the command line after -cfg. \"kept\": from an earlier\n"
      "installation in the same directory; a relative directory is taken from where\n"
      "the package was started; the Admin port is drawn from 10000 to 29999:\n";
  for (const ServerInstaller::InstCfgItem& item : installer.DefaultsFileItems()) {
    if (item.szName == nullptr)
      break;
    text += FormatText("  %-22s %s\n", item.szName, NameText(item.szName));
  }
  text += "\n";
  text += kStatuses;
  text +=
      "\nPasswords: a password that is not given is kept from an earlier installation\n"
      "in the same directory, or else generated and shown in the summary. After a\n"
      "silent installation (-s) the administrator's password can be read in the\n"
      "administrator database's plain-form file DIR/adm_b_db/users/NAME\n"
      "(\"PASSWORD;*;1\"), the encoder's in DIR/enc_b_db/users/NAME; both files are\n"
      "readable by the installing user only.\n"
      "\nThe installation is recorded in DIR/install-manifest.txt; DIR/Bin/uninstall\n"
      "removes it (-s: without asking; --restore-backup: put the .old generation\n"
      "back), DIR/Bin/verify checks it against the record (-q: the status only).\n"
      "What each run changed is logged in DIR/Logs/install.log.\n";
  return text;
}
