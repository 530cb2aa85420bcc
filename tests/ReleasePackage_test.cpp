// Packages as a release engineer makes them from a fresh clone, following the
// README, and as a bare server meets them: the second stage they carry needs
// no library of the builder's, so a package installs in a root that holds
// nothing but a shell and tar.
#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <vector>

#include "tests/LocalPorts.h"
#include "tests/Subprocess.h"
#include "tests/TestFiles.h"

namespace {

const char* const kPortSettings[] = {"MonitorPort", "RTSPPort", "VQXPort",
                                     "HTTPPort",    "MMSPort",  "AdminPort"};

// The demo's defaults file with free ports and the installation directory
// dir.
std::string DefaultsFile(const std::string& dir) {
  std::string defaults = "DefInstallPath=" + dir + "\nAdminUserID=admin\nEncoderUserID=encoder\n";
  std::vector<int> ports = FreePorts(6);
  for (size_t i = 0; i < ports.size(); ++i)
    defaults += std::string(kPortSettings[i]) + "=" + std::to_string(ports[i]) + "\n";
  return defaults + "NonInteractiveInstall=1\n";
}

// The first console block of the README's section on building a package.
std::string FirstPackagingExample() {
  std::string readme = ReadFile(std::string(SOURCE_ROOT) + "/README.md");
  size_t section = readme.find("\n## Building a package from a directory\n");
  EXPECT_NE(std::string::npos, section);
  const std::string open = "```console\n";
  size_t start = readme.find(open, section);
  EXPECT_LT(start, readme.find("\n## ", section + 1));
  start += open.size();
  return readme.substr(start, readme.find("```\n", start) - start);
}

// What changes from one build to the next: the size and the digest.
std::string Normalized(const std::string& text) {
  std::string result = std::regex_replace(text, std::regex("[0-9]+\\.[0-9] MB"), "N MB");
  return std::regex_replace(result, std::regex("[0-9a-f]{32}"), "HEX");
}

// The packed Bin/setup of a tzst package, unpacked with the system's zstd
// and tar into dir.
void UnpackSetup(const std::string& package, const std::string& dir) {
  std::string info;
  ASSERT_EQ(0, RunShell(std::string(MKPACKAGE) + " --info " + ShellQuote(package) +
                            " | sed -n 's/^Archive: *\\([0-9]*\\).*/\\1/p'",
                        &info));
  ASSERT_EQ(0, RunShell("tail -c " + std::to_string(std::stoul(info)) + " " + ShellQuote(package) +
                        " | zstd -dcq | (cd " + ShellQuote(dir) + " && tar xf - ./Bin/setup)"));
}

// A root of the tools the package needs on a server, sh and tar, with the
// libraries they need and nothing else; /proc is mounted when a command runs.
void MakeBareRoot(const std::string& root) {
  MakeDirs(root + "/usr/bin");
  MakeDirs(root + "/proc");
  ASSERT_EQ(0, symlink("usr/bin", (root + "/bin").c_str()));
  for (const char* tool : {"sh", "tar"}) {
    std::string copy = "p=$(readlink -f \"$(command -v " + std::string(tool) +
                       ")\") && cp \"$p\" " + ShellQuote(root + "/usr/bin/" + tool) +
                       " && for lib in $(ldd \"$p\" | grep -o '/[^ ]*'); do mkdir -p " +
                       ShellQuote(root) + "\"$(dirname \"$lib\")\" && cp -L \"$lib\" " +
                       ShellQuote(root) + "\"$lib\"; done";
    ASSERT_EQ(0, RunShell(copy)) << tool;
  }
}

// Runs command in root, with /proc mounted in a mount namespace of its own:
// its exit status, or -1 when chroot is not possible here.
int RunInRoot(const std::string& root, const std::string& command, std::string* output) {
  std::string inner = "mount -t proc proc " + ShellQuote(root + "/proc") + " && exec chroot " +
                      ShellQuote(root) + " /bin/sh -c " + ShellQuote(command);
  if (RunShell("unshare -m true 2>/dev/null") != 0)
    return -1;
  // Only the root's own tools are there to be found once inside it.
  return RunShell("env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin unshare -m /bin/sh -c " +
                      ShellQuote(inner) + " 2>&1",
                  output);
}

TEST(ReleasePackage, PackedSetupNeedsNothingOfTheServer) {
  TempDir dir;
  const std::string product = dir / "product";
  ASSERT_EQ(0,
            RunShell("cp -R " + ShellQuote(DEMO_PRODUCT) + " " + ShellQuote(product) + " && cp " +
                     ShellQuote(SETUP_PROGRAM) + " " + ShellQuote(product + "/Bin/setup")));
  const std::string root = dir / "root";
  MakeBareRoot(root);
  MakeDirs(root + "/start");
  std::string made;
  ASSERT_EQ(0, RunShell(std::string(MKPACKAGE) + " --type tzst " + ShellQuote(product) + " " +
                            ShellQuote(root + "/start/pkg.bin") + " 2>&1",
                        &made));
  // No warning about the setup: static and stripped.
  EXPECT_EQ(0u, made.find("Wrote ")) << made;

  // What the loader would need: no interpreter, no shared library.
  MakeDirs(dir / "unpacked");
  UnpackSetup(root + "/start/pkg.bin", dir / "unpacked");
  std::string headers;
  ASSERT_EQ(0, RunShell("readelf -ldW " + ShellQuote(dir / "unpacked/Bin/setup"), &headers));
  EXPECT_EQ(std::string::npos, headers.find("INTERP")) << headers;
  EXPECT_EQ(std::string::npos, headers.find("(NEEDED)")) << headers;
  std::string sections;
  ASSERT_EQ(0, RunShell("readelf -SW " + ShellQuote(dir / "unpacked/Bin/setup"), &sections));
  EXPECT_EQ(std::string::npos, sections.find(".debug_")) << sections;

  // Installed, and removed again, where no libstdc++ exists.
  std::string found;
  RunShell("find " + ShellQuote(root) + " -name 'libstdc++*' -o -name 'libmd*'", &found);
  ASSERT_EQ("", found);
  WriteFile(root + "/start/inst.cfg", DefaultsFile("/srv/strata"));
  std::string output;
  int status = RunInRoot(root, "cd /start && ./pkg.bin -s -cfg inst.cfg", &output);
  if (status == -1)
    GTEST_SKIP() << "no mount namespace and chroot here (they need root)";
  EXPECT_EQ(0, status) << output;
  EXPECT_TRUE(Exists(root + "/srv/strata/adm_b_db/users/admin"));
  EXPECT_TRUE(Exists(root + "/srv/strata/enc_b_db/users/encoder"));
  EXPECT_TRUE(Exists(root + "/srv/strata/qmserver.cfg"));
  EXPECT_TRUE(Exists(root + "/srv/strata/Bin/uninstall"));
  EXPECT_EQ((std::vector<std::string>{"inst.cfg", "pkg.bin"}), ListDirectory(root + "/start"));
  EXPECT_EQ(0, RunInRoot(root, "/srv/strata/Bin/uninstall -s", &output)) << output;
  // Only the log of what was done outlives the installation.
  EXPECT_EQ((std::vector<std::string>{"Logs"}), ListDirectory(root + "/srv/strata"));
  EXPECT_EQ((std::vector<std::string>{"install.log"}), ListDirectory(root + "/srv/strata/Logs"));
}

// The README's first example, run as written in a copy of the sources with
// no build directory, then the package it makes installed.
TEST(ReleasePackage, ReadmeFirstExampleBuildsAPackageThatInstalls) {
  std::string expected = FirstPackagingExample();
  ASSERT_NE("", expected);
  TempDir dir;
  const std::string clone = dir / "clone";
  MakeDirs(clone);
  // The sources as a clone has them: no build directories, no outputs.
  ASSERT_EQ(0, RunShell("cd " + ShellQuote(SOURCE_ROOT) +
                        " && tar -cf - --exclude='./build*' --exclude=./out --exclude=./.git . | "
                        "(cd " +
                        ShellQuote(clone) + " && tar -xf -)"));
  std::string actual;
  std::vector<std::string> lines;
  for (size_t at = 0; at < expected.size();) {
    size_t end = expected.find('\n', at);
    lines.push_back(expected.substr(at, end - at));
    at = end + 1;
  }
  std::string wanted;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].compare(0, 2, "$ ") != 0)
      continue;
    std::string output;
    int status =
        RunShell("cd " + ShellQuote(clone) + " && (" + lines[i].substr(2) + ") 2>&1", &output);
    ASSERT_EQ(0, status) << lines[i] << "\n" << output;
    // "..." stands for whatever the command prints.
    bool any = i + 1 < lines.size() && lines[i + 1] == "...";
    actual += lines[i] + "\n" + (any ? "...\n" : output);
  }
  EXPECT_EQ(Normalized(expected), Normalized(actual));

  const std::string start = dir / "start";
  MakeDirs(start);
  ASSERT_EQ(0, RunShell("cp " + ShellQuote(clone + "/strata-setup.bin") + " " + ShellQuote(start)));
  WriteFile(start + "/inst.cfg", DefaultsFile("installed"));
  std::string output;
  EXPECT_EQ(0, RunShell("cd " + ShellQuote(start) + " && ./strata-setup.bin -s -cfg inst.cfg 2>&1",
                        &output))
      << output;
  EXPECT_TRUE(Exists(start + "/installed/adm_b_db/users/admin"));
  EXPECT_TRUE(Exists(start + "/installed/Bin/uninstall"));
}

}  // namespace
