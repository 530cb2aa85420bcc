#include <fcntl.h>
#include <stdio.h>

#include "common/SignalCleanup.h"
#include "packager/MkPackageCommand.h"

int main(int argc, char** argv) {
  // Descriptors 0 to 2 must be taken, or a pipe to a child could land on one
  // of them and be replaced when the child's standard streams are set up.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) < 0 && open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) < 0)
      return MkPackageCommand::kFailure;
  }
  // An interrupted build must leave no temporary file and no child behind.
  InstallSignalCleanup();
  MkPackageCommand command(stdout, stderr);
  int status = command.Run(argc, argv);
  // A failed write of the listing or the help (a full disk, a closed pipe)
  // must not pass for success.
  if (fflush(stdout) != 0 || ferror(stdout)) {
    fprintf(stderr, "mkpackage: cannot write the output\n");
    return MkPackageCommand::kFailure;
  }
  return status;
}
