#ifndef STRATA_PRODUCT_SERVERVERSION_H_
#define STRATA_PRODUCT_SERVERVERSION_H_

// Identity of the server product, shared by stage one and the files the
// installer writes. Every text is a constant owned by this class; the caller
// frees nothing.
class ServerVersion {
 public:
  static const char* ProductName();
  static const char* FullProductName();
  static const char* ReleaseName();
  static const char* BuildName();
  static const char* VersionString();
  static const char* MajorString();
  static const char* MinorString();
  // "9.0", built on the first call and returned again by every later call.
  static const char* MajorMinorString();
  static int MajorVersion();
  static int MinorVersion();
  static const char* Platform();
};

#endif  // STRATA_PRODUCT_SERVERVERSION_H_
