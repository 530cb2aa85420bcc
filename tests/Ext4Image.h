#ifndef STRATA_TESTS_EXT4IMAGE_H_
#define STRATA_TESTS_EXT4IMAGE_H_

// File systems of their own for tests that need one (root only): a small
// ext4 image mounted through a loop device, which can lose power
// (EXT4_IOC_SHUTDOWN without flushing its journal) and be mounted again,
// and a tmpfs. Each is unmounted when the object goes.
#include <string>

class Ext4Image {
 public:
  // An image of sizeMb MiB at imagePath, made with the extra mkfs.ext4
  // options and mounted at mountPoint (created if needed).
  Ext4Image(const std::string& imagePath, const std::string& mountPoint, int sizeMb,
            const std::string& mkfsOptions = "");
  ~Ext4Image();
  Ext4Image(const Ext4Image&) = delete;
  Ext4Image& operator=(const Ext4Image&) = delete;

  // False (and why() says so) where loop devices or mounting are not to be
  // had: the test is skipped then.
  bool ok() const { return ok_; }
  const std::string& why() const { return why_; }
  const std::string& path() const { return mount_; }

  // The power goes: the file system stops at once and what its journal has
  // not committed is lost. True when the ioctl was accepted.
  bool PowerLoss();
  // Unmounts and mounts again, as after a reboot (the journal is replayed):
  // waits until nothing holds the earlier file system any more, so that the
  // mount is a new one read from the image. False (why() says so) if it
  // cannot be unmounted or is still held after a minute.
  bool Remount();

 private:
  std::string image_;
  std::string mount_;
  bool ok_;
  bool mounted_;
  std::string why_;
};

// A tmpfs of the given size ("64m") at mountPoint; not ok() where the
// process may not mount.
class TmpfsMount {
 public:
  TmpfsMount(const std::string& mountPoint, const char* size);
  ~TmpfsMount();
  TmpfsMount(const TmpfsMount&) = delete;
  TmpfsMount& operator=(const TmpfsMount&) = delete;

  bool ok() const { return ok_; }
  // Mounted read-only from now on, or writable again.
  bool SetReadOnly(bool readOnly);

 private:
  std::string path_;
  std::string size_;
  bool ok_;
};

#endif  // STRATA_TESTS_EXT4IMAGE_H_
