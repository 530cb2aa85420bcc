#ifndef STRATA_PRODUCT_PACKAGEINFO_H_
#define STRATA_PRODUCT_PACKAGEINFO_H_

// Name, version text and command-line help of the installation package.
class PackageInfo {
 public:
  static const char* Name();
  // "Strata Server 9.08 (9.0.8.1427)", built once and kept for the process.
  static const char* VersionString();
  // A new 2048-byte buffer holding the option lines and the note on installer
  // config files. The caller releases it with delete[].
  static char* CommandLineHelpString();
};

#endif  // STRATA_PRODUCT_PACKAGEINFO_H_
