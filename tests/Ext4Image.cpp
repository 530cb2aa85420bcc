#include "tests/Ext4Image.h"

#include <fcntl.h>
#include <linux/types.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <unistd.h>

#include "common/ShellQuote.h"
#include "tests/Subprocess.h"
#include "tests/TestFiles.h"

namespace {

// From the kernel's fs/ext4/ext4.h, which no installed header carries.
#ifndef EXT4_IOC_SHUTDOWN
#define EXT4_IOC_SHUTDOWN _IOR('X', 125, __u32)
#endif
const __u32 kGoingFlagsNoLogFlush = 0x2;

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
    if (umount2(mount_.c_str(), 0) != 0 && umount2(mount_.c_str(), MNT_DETACH) != 0)
      return false;
    mounted_ = false;
  }
  mounted_ = RunShell("mount -o loop " + ShellQuote(image_) + " " + ShellQuote(mount_) +
                      " 2>/dev/null") == 0;
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
