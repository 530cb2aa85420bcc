// The second-stage installer that the package starts as Bin/setup.
#include "driver/SetupDriver.h"

int main(int argc, char** argv) {
  SetupDriver driver;
  driver.Run(argc, const_cast<const char**>(argv));
}
