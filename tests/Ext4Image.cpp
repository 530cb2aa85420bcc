#include "tests/Ext4Image.h"

#include <fcntl.h>
#include <linux/types.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <functional>

#include "common/ShellQuote.h"
#include "tests/Subprocess.h"
#include "tests/TestFiles.h"

namespace {

// From the kernel's fs/ext4/ext4.h, which no installed header carries.
#ifndef EXT4_IOC_SHUTDOWN
#define EXT4_IOC_SHUTDOWN _IOR('X', 125, __u32)
#endif
const __u32 kGoingFlagsNoLogFlush = 0x2;

// Polls done() every 20 ms for up to a minute (what holds a file system may
// be another test's command, which ends on its own): false if it never was.
bool WaitFor(const std::function<bool()>& done) {
  for (int i = 0; i < 3000; ++i) {
    if (done())
      return true;
    usleep(20 * 1000);
  }
  return false;
}

bool IsMountPoint(const std::string& path) {
  struct stat here, parent;
  return stat(path.c_str(), &here) == 0 && stat((path + "/..").c_str(), &parent) == 0 &&
         here.st_dev != parent.st_dev;
}

}  // namespace

Ext4Image::Ext4Image(const std::string& imagePath, const std::string& mountPoint, int sizeMb,
                     const std::string& mkfsOptions)
    : image_(imagePath), mount_(mountPoint), ok_(false), mounted_(false) {
  if (geteuid() != 0) {
    why_ = "only root may mount a loop device";
    return;
  }
  MakeDirs(mount_);
  std::string output;
  if (RunShell("truncate -s " + std::to_string(sizeMb) + "M " + ShellQuote(image_) +
                   " && mkfs.ext4 -q -F " + mkfsOptions + " " + ShellQuote(image_) + " 2>&1",
               &output) != 0) {
    why_ = "mkfs.ext4 failed: " + output;
    return;
  }
  mounted_ = ok_ = Remount();
  if (!ok_)
    why_ = "no loop device can be mounted here";
}

Ext4Image::~Ext4Image() {
  if (mounted_)
    umount2(mount_.c_str(), MNT_DETACH);
  unlink(image_.c_str());
}

bool Ext4Image::PowerLoss() {
  int fd = open(mount_.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0)
    return false;
  __u32 flags = kGoingFlagsNoLogFlush;
  bool done = ioctl(fd, EXT4_IOC_SHUTDOWN, &flags) == 0;
  close(fd);
  return done;
}

bool Ext4Image::Remount() {
  if (mounted_) {
    // Never a lazy unmount: it would leave the file system that lost power
    // alive behind the mount point.
    if (!WaitFor([&] { return umount2(mount_.c_str(), 0) == 0 || errno != EBUSY; }) ||
        IsMountPoint(mount_)) {
      why_ = "the file system at " + mount_ + " cannot be unmounted";
      return false;
    }
    mounted_ = false;
  }
  // A reboot starts from the disk alone. A mount namespace that another
  // process made meanwhile (unshare -m, as other tests run) holds a copy of
  // the mount and with it the shut-down file system and its loop device;
  // mount -o loop would take that device up again and so the same file
  // system, which answers every read with EIO. So the image is mounted only
  // once no loop device holds it any more.
  std::string holders;
  if (!WaitFor([&] {
        holders.clear();
        return RunShell("losetup -j " + ShellQuote(image_), &holders) == 0 && holders.empty();
      })) {
    why_ = "the image is still held by " + holders;
    return false;
  }
  mounted_ = RunShell("mount -o loop " + ShellQuote(image_) + " " + ShellQuote(mount_) +
                      " 2>/dev/null") == 0;
  if (!mounted_)
    why_ = "mount -o loop failed";
  return mounted_;
}

TmpfsMount::TmpfsMount(const std::string& mountPoint, const char* size)
    : path_(MakeDirs(mountPoint)), size_(size) {
  ok_ = mount("tmpfs", path_.c_str(), "tmpfs", 0, ("size=" + size_).c_str()) == 0;
}

TmpfsMount::~TmpfsMount() {
  if (ok_)
    umount2(path_.c_str(), MNT_DETACH);
}

bool TmpfsMount::SetReadOnly(bool readOnly) {
  return mount("tmpfs", path_.c_str(), "tmpfs", MS_REMOUNT | (readOnly ? MS_RDONLY : 0),
               ("size=" + size_).c_str()) == 0;
}
