#include "driver/record/InstallKey.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/AtomicFile.h"
#include "common/FileIo.h"
#include "common/ScopedFd.h"
#include "common/SystemError.h"
#include "driver/record/InstallTree.h"
#include "package/Checksum.h"
#include "package/PackageRecord.h"

const char InstallKey::kFileName[] = "install-manifest.key";

namespace {

const size_t kKeySize = 32;
const size_t kBlockSize = 64;  // SHA-256's block, the HMAC padding length

bool FromHex(const std::string& text, std::string* bytes) {
  if (text.size() % 2 != 0 || text.find_first_not_of("0123456789abcdef") != std::string::npos)
    return false;
  bytes->clear();
  for (size_t i = 0; i < text.size(); i += 2)
    bytes->push_back(static_cast<char>(strtoul(text.substr(i, 2).c_str(), nullptr, 16)));
  return true;
}

// The key XORed with pad, as HMAC begins its inner and outer digests.
void UpdatePadded(Checksum* checksum, const std::string& key, unsigned char pad) {
  unsigned char block[kBlockSize];
  memset(block, pad, sizeof block);
  for (size_t i = 0; i < key.size() && i < kBlockSize; ++i)
    block[i] = static_cast<unsigned char>(key[i]) ^ pad;
  checksum->Update(block, sizeof block);
}

std::string Outer(const std::string& key, Checksum* inner) {
  unsigned char innerDigest[Checksum::kMaxDigestSize];
  inner->Final(innerDigest);
  Checksum outer(kChecksumSha256);
  UpdatePadded(&outer, key, 0x5c);
  outer.Update(innerDigest, Checksum::DigestSize(kChecksumSha256));
  unsigned char digest[Checksum::kMaxDigestSize];
  outer.Final(digest);
  return Checksum::ToHex(digest, Checksum::DigestSize(kChecksumSha256));
}

}  // namespace

bool InstallKey::Read(const InstallTree& tree, std::string* key, std::string* error) {
  const std::string shown = tree.PathOf(kFileName);
  ScopedFd fd(openat(tree.Fd(), kFileName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat st;
  if (fd.Get() < 0 || fstat(fd.Get(), &st) != 0) {
    *error = ErrnoMessage(shown, errno);
    return false;
  }
  char text[2 * kKeySize + 2];
  size_t got = 0;
  if (!S_ISREG(st.st_mode) || !PreadFull(fd.Get(), text, sizeof text, 0, &got) ||
      got != sizeof text - 1 || text[got - 1] != '\n' ||
      !FromHex(std::string(text, got - 1), key)) {
    *error = shown + ": not a key written by setup";
    errno = EINVAL;
    return false;
  }
  return true;
}

bool InstallKey::Stage(const std::string& dir, const std::string& stageDir, std::string* key,
                       std::string* error) {
  InstallTree tree;
  std::string ignored;
  // An unreadable or damaged key is replaced: the record written with the
  // new one describes the files as they are now.
  if (!tree.Open(dir, &ignored) || !Read(tree, key, &ignored)) {
    unsigned char bytes[kKeySize];
    if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
      *error = ErrnoMessage("the system's random source", errno);
      return false;
    }
    key->assign(reinterpret_cast<const char*>(bytes), sizeof bytes);
    memset(bytes, 0, sizeof bytes);
  }
  return WriteFileAtomically(
      stageDir + "/" + kFileName,
      Checksum::ToHex(reinterpret_cast<const unsigned char*>(key->data()), key->size()) + "\n",
      0600, error);
}

bool InstallKey::DigestFile(const std::string& key, int fd, const std::string& shown,
                            std::string* digest, std::string* error) {
  Checksum inner(kChecksumSha256);
  UpdatePadded(&inner, key, 0x36);
  if (!DigestToEnd(fd, 0, shown, &inner, error))
    return false;
  *digest = Outer(key, &inner);
  return true;
}

std::string InstallKey::DigestText(const std::string& key, const std::string& text) {
  Checksum inner(kChecksumSha256);
  UpdatePadded(&inner, key, 0x36);
  inner.Update(text.data(), text.size());
  return Outer(key, &inner);
}
