#ifndef STRATA_PACKAGER_PRODUCTCHECK_H_
#define STRATA_PACKAGER_PRODUCTCHECK_H_

#include <string>
#include <vector>

#include "packager/UnpackedContents.h"

// What mkpackage checks of a product before it packs it, so that a package
// that cannot install is not built:
// - it holds a second stage (Bin/setup or a script form), unless the
//   caller says that an archive without an installer is meant;
// - a Bin/setup that is a program (an ELF file, as the project's setup and
//   every driver built on the installer framework are, unlike a script) finds
//   the folders the framework's installation writes into: the five password
//   databases, in whose users/ folders it writes the accounts;
// - such a program needs nothing on the server (no loader, no shared
//   library) and carries no debug information, or a warning says so.
class ProductCheck {
 public:
  // The password databases that the installation writes the accounts
  // into, as the installer framework names them.
  static const char* const kDatabases[];

  // shown: the product as the user named it, for messages. setupFd: the
  // product's Bin/setup open for reading, or -1 when it has none or it
  // cannot be read here (its headers are then not checked).
  ProductCheck(std::string shown, const UnpackedContents& contents, int setupFd)
      : m_szShown(std::move(shown)), m_contents(contents), m_nSetupFd(setupFd) {}

  ProductCheck(const ProductCheck&) = delete;
  ProductCheck& operator=(const ProductCheck&) = delete;

  // True when the product may be packed, with what is worth telling added
  // to *warnings; false with *error naming what is missing.
  bool Run(bool noSecondStage, std::vector<std::string>* warnings, std::string* error) const;

 private:
  bool CheckSetupProgram(std::vector<std::string>* warnings, std::string* error) const;

  std::string m_szShown;
  const UnpackedContents& m_contents;
  int m_nSetupFd;
};

#endif  // STRATA_PACKAGER_PRODUCTCHECK_H_
