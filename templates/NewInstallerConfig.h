#ifndef STRATA_TEMPLATES_NEWINSTALLERCONFIG_H_
#define STRATA_TEMPLATES_NEWINSTALLERCONFIG_H_

// Template of the server configuration file.
class NewInstallerConfig {
 public:
  // Returns the complete configuration text for these values. The text lives
  // in a buffer of this function that the next call rebuilds, so it stays
  // valid until then. A null text argument is written as the empty text.
  static char* CreateConfigFile(const char* installDir, int unused, int rtspPort, int vqxPort,
                                int httpPort, int mmsPort, int monitorPort, int adminPort,
                                const char* monitorPassword, const char* loggingStyle,
                                const char* adminRealm, const char* encoderRealm,
                                const char* rbsEncoderRealm, const char* wmEncoderRealm,
                                const char* preK7EncoderPassword, const char* cdistRealm,
                                const char* contentRealm, const char* sourceName);
};

#endif  // STRATA_TEMPLATES_NEWINSTALLERCONFIG_H_
