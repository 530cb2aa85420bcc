#ifndef STRATA_TESTS_EXPECTEDHELPTEXT_H_
#define STRATA_TESTS_EXPECTEDHELPTEXT_H_

// For the tests: the command-line help, options and note, byte for byte as
// the installer's help shows it.
inline constexpr char kExpectedHelpText[] =
    "-v          --version                   Print version number and exit\n"
    "-h          --help                      Print command-line help and exit\n"
    "-s          --silent                    Perform a silent install\n"
    "-p          --progress-only             Perform a non-interactive install\n"
    "-nb         --no-backup                 Don't backup files if reinstalling\n"
    "-d <dir>    --dest <dir>                Install to directory <dir>\n"
    "-cfg <file>                             Read Installer config file <file>\n"
    "\n"
    "Note: An Installer config file consists of a list of Name=Value pairs,\n"
    "one pair per line, which specify default values for various settings.\n"
    "The list of supported Names includes:\n"
    "    AdminPort={port}    AdminRealm={realm}   AdminPassword={passwd}\n"
    "    HTTPPort={port}     EncoderRealm={realm} EncoderPassword={passwd}\n"
    "    MonitorPort={port}  ContentRealm={realm} MonitorPassword={passwd}\n"
    "    RTSPPort={port}     AdminUserID={user}   DefInstallPath={path}\n"
    "    VQXPort={port}      EncoderUserID={user} LoggingStyle={style}\n"
    "    MMSPort={port}\n"
    "It can also specify several flags that control the installer's behavior,\n"
    "with values of 0 indicating false and 1 indicating true:\n"
    "    BackupOldFiles={0/1}   SilentInstall={0/1}\n";

#endif  // STRATA_TESTS_EXPECTEDHELPTEXT_H_
