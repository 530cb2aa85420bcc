#include <stdio.h>

#include "packager/MkPackageCommand.h"

int main(int argc, char** argv) {
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
