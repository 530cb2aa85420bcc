#ifndef STRATA_INSTALLER_SERVERINSTALLER_H_
#define STRATA_INSTALLER_SERVERINSTALLER_H_

#include <vector>

class ConsoleUI;

// The settings of one installation of the server and the operations an
// installer driver calls on them: defaults, the installer command line and
// defaults file, ports, password databases, the generated server files,
// backup and clean-up. The operations call one another through the virtual
// table, so a derived driver changes those calls too.
//
// The object owns its port table and its ConsoleUI, and every text that its
// own operations allocate into its settings (SetDefaults, ParseCmdLine,
// ReadInstallerDefaults, GenerateRandomPasswords, FormatConfigFile),
// whichever member holds the text; its destructor releases them.
// SetDefaultDir and ReadInstallerConfigItems store into the targets their
// caller names: called by those operations, the texts are the object's;
// called by anyone else, a driver or a derived class, they are the caller's.
// A caller makes the object the owner of a text it allocated with new[]
// through AdoptText, the one way to hand a text over; a text adopted twice is
// released once. Constant defaults are never released.
class ServerInstaller {
 public:
  // One service port: the number (0 for none) and whether it has been
  // confirmed for its service, which makes it count in duplicate checks.
  struct InstPort {
    int nPort;
    int bSelected;
  };

  // One Name=Value item of an installer defaults file. A table of them ends
  // with an item whose szName is null. nType: 0 text (pTarget is a char**),
  // 1 flag and 2 port number (pTarget is an int*); other types and a null
  // pTarget are recognised but store nothing.
  struct InstCfgItem {
    const char* szName;
    void* pTarget;
    int nType;
  };

  // The option forms that ParseCmdLine knows, null-ended: those that take
  // the next argument as their value, and those that take none.
  static const char* const g_pValueOptions[];
  static const char* const g_pFlagOptions[];
  // Names of the six ports, by port index: "Monitor", "RTSP", "VQX", "HTTP",
  // "MMS", "Admin".
  static const char* g_pPortNames[6];
  // The names that BackupOldFiles moves aside, in its order and relative to
  // the installation directory: "Bin", "Plugins", "Lib", "qmserver.cfg",
  // "qmproxy.cfg", "default.cfg". Fixed, whatever the file-name settings say.
  static const char* const g_pBackupNames[6];

  ServerInstaller();
  virtual ~ServerInstaller();

  ServerInstaller(const ServerInstaller&) = delete;
  ServerInstaller& operator=(const ServerInstaller&) = delete;

  // Realms from the host name, the default installation directory, the six
  // ports (a random Admin port), the file names and the logging style. The
  // host-name buffer and the realms become the object's texts.
  virtual void SetDefaults();
  // Applies the installer's options; may read a defaults file (-cfg) and ends
  // the process through CleanUpAndExit for --version, --help and an
  // unreadable defaults file.
  virtual void ParseCmdLine(int argc, const char** argv);
  // A port in [low, high) that is neither avoided nor one of the six ports.
  virtual int RandomPort(int low, int high);
  // A port in [low, high) that is neither avoided nor in the 0-ended list;
  // 0 when the range holds no such port.
  virtual int GenerateRandomPort(int low, int high, int* avoid);
  // Fills each of the three passwords that is still null at random.
  virtual void GenerateRandomPasswords();
  // Creates the databases' subdirectories and writes the two accounts' user
  // files in the installation directory.
  virtual void UpdatePasswordDatabases();
  // Writes the server configuration file of the given name into the
  // installation directory; failures are reported, never returned. A
  // regular file is replaced whole or not at all: after a failure an earlier
  // file stays as it was.
  virtual void CreateConfigFile(const char* fileName);
  // Formats the configuration text from the settings, keeps a copy in
  // m_szConfigFileText and returns it.
  virtual char* FormatConfigFile();
  // Writes Bin/loopcast.sh (mode 0755) into the installation directory.
  virtual void CreateLoopcastScript();
  // Reads an installer defaults file into the settings: 0, or -1 with errno
  // set when the file cannot be read.
  virtual int ReadInstallerDefaults(const char* fileName);
  // Stores in dir a new text (new[]) holding the parent of the current
  // directory; the empty text when that cannot be determined. The text is the
  // caller's unless SetDefaults is the caller (see the class comment).
  virtual void SetDefaultDir(char*& dir);
  // Moves an earlier installation's program directories and configuration
  // files in the installation directory aside under ".old" names.
  virtual void BackupOldFiles();
  // Renames name to name.old: 0 on success, -1 with nothing changed if not.
  virtual int BackupIfPresent(const char* name);
  // Removes the extraction directory and the installed Bin/setup.
  virtual void CleanUp(const char* dir);
  // Reports through ui, or m_pUI when ui is null, unless silent or neither
  // is there; cleans up and ends the process with status.
  [[noreturn]] virtual void CleanUpAndExit(int status, ConsoleUI* ui);
  // Runs a shell command and returns what system() returned.
  virtual int System(const char* command);
  // The installer's own defaults-file items, with their targets in this
  // object, ended by an item whose szName is null: what ReadInstallerDefaults
  // reads with, for a driver that checks a file before it is read.
  std::vector<InstCfgItem> DefaultsFileItems();
  // Reads Name=Value lines of path into the targets of items, echoing each
  // match through ui when ui is not null: 0, or -1 when the file cannot be
  // read or is not a regular file (errno tells why; nothing has changed
  // then). The texts stored are the caller's unless ReadInstallerDefaults is
  // the caller (see the class comment).
  virtual int ReadInstallerConfigItems(const char* path, const InstCfgItem* items, ConsoleUI* ui);

  int GetInstPort(int index);
  // Sets the port of entry index and marks it selected.
  void SetInstPort(int index, int port);
  // 1 with name set to the holder when another selected entry has port.
  int CheckDupePort(int port, int index, const char*& name);
  // 1 when something on this machine holds the port on 127.0.0.1.
  int PortInUse(int port);

  // Stores in name a new 1024-byte buffer with the host name; 1 if it was
  // read, 0 if not. The caller owns the buffer (delete[]).
  static int GetLocalHostName(char*& name);
  // 1 if text is a decimal number from 1 to 65535; port receives the number.
  static int ValidPort(const char* text, int& port);
  // "\nStrata Server 9.08 (9.0.8.1427) Installer", built once.
  static const char* VersionBanner();

  // Makes the object the owner of text (allocated with new[]), which it then
  // releases in its destructor; returns text. A driver hands over the texts
  // it stores into the settings, for example the answers of the console.
  char* AdoptText(char* text);

  InstPort* m_pPorts;
  char* m_szAdminUserID;
  char* m_szAdminPassword;
  char* m_szAdminRealm;
  char* m_szEncoderUserID;
  char* m_szEncoderPassword;
  char* m_szEncoderRealm;
  char* m_szRBSEncoderRealm;
  char* m_szWMEncoderRealm;
  char* m_szCDistRealm;
  char* m_szContentRealm;
  char* m_szMonitorPassword;
  char* m_szConfigFileName;
  char* m_szDefaultConfigFileName;
  char* m_szInstallerConfigFile;
  char* m_szLoggingStyle;
  char* m_szLocalHostName;
  char* m_szDefInstallPath;
  char* m_szConfigFileText;
  int m_bNonInteractiveInstall;
  int m_bSilentInstall;
  int m_bBackupOldFiles;
  int m_bDebugInstall;
  ConsoleUI* m_pUI;

 protected:
  // A new copy of text owned by this object.
  char* OwnedCopy(const char* text);

 private:
  // Raises m_nOwnStores while an operation of the object has SetDefaultDir
  // or ReadInstallerConfigItems store into its settings.
  class OwnStores;
  // A new copy of text for SetDefaultDir or ReadInstallerConfigItems: the
  // object's inside OwnStores, the caller's otherwise.
  char* CopyForStore(const char* text);

  int m_nOwnStores;
  // Every text this object allocated or adopted; released by the destructor.
  std::vector<char*> m_ownedTexts;
};

#endif  // STRATA_INSTALLER_SERVERINSTALLER_H_
