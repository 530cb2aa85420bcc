#include "tests/SetupPackageTest.h"

TempDir* SetupPackage::s_build = nullptr;
std::string SetupPackage::s_package;
