#include <limits.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <memory>
#include <set>
#include <string>

#include "gtest/gtest.h"
#include "installer/ServerInstaller.h"
#include "tests/LocalPorts.h"
#include "tests/Subprocess.h"

namespace {

const int kDraws = 2000;
const int kAvoided[] = {554,  1090, 1091, 1337, 3030, 4040, 5050,
                        6060, 7070, 7802, 7878, 8080, 31337};

bool IsAvoided(int port) {
  for (int p : kAvoided) {
    if (p == port)
      return true;
  }
  return false;
}

}  // namespace

TEST(ServerInstallerPorts, RandomPortStaysInRangeAndOffTheTable) {
  ServerInstaller installer;
  installer.SetDefaults();
  std::set<int> table;
  for (int i = 0; i < 6; ++i)
    table.insert(installer.GetInstPort(i));
  for (int n = 0; n < kDraws; ++n) {
    int port = installer.RandomPort(10000, 30000);
    ASSERT_GE(port, 10000);
    ASSERT_LT(port, 30000);
    ASSERT_EQ(0u, table.count(port)) << port;
  }
}

TEST(ServerInstallerPorts, RandomPortListEndsAtTheFirstUnsetPort) {
  ServerInstaller installer;
  installer.m_pPorts[0].nPort = 8000;
  installer.m_pPorts[1].nPort = 0;  // ends the list: 8001 below is not avoided
  installer.m_pPorts[2].nPort = 8001;
  std::set<int> seen;
  for (int n = 0; n < kDraws; ++n)
    seen.insert(installer.RandomPort(8000, 8003));
  EXPECT_EQ((std::set<int>{8001, 8002}), seen);
}

TEST(ServerInstallerPorts, GenerateRandomPortSkipsAvoidedAndListedPorts) {
  ServerInstaller installer;
  {
    int none[] = {0};
    for (int n = 0; n < 200; ++n)
      ASSERT_EQ(555, installer.GenerateRandomPort(554, 556, none));
  }
  {
    int listed[] = {8000, 0};
    for (int n = 0; n < 200; ++n)
      ASSERT_EQ(8001, installer.GenerateRandomPort(8000, 8002, listed));
  }
  {
    // Values after the terminating 0 are not part of the list.
    int listed[] = {7000, 0, 7001};
    std::set<int> seen;
    for (int n = 0; n < kDraws; ++n)
      seen.insert(installer.GenerateRandomPort(7000, 7002, listed));
    EXPECT_EQ((std::set<int>{7001}), seen);
  }
  {
    // A range full of avoided ports never yields one of them.
    int none[] = {0};
    for (int n = 0; n < kDraws; ++n) {
      int port = installer.GenerateRandomPort(1000, 8100, none);
      ASSERT_GE(port, 1000);
      ASSERT_LT(port, 8100);
      ASSERT_FALSE(IsAvoided(port)) << port;
    }
  }
}

TEST(ServerInstallerPorts, GenerateRandomPortWithNoCandidateGivesZero) {
  ServerInstaller installer;
  int none[] = {0};
  int both[] = {8000, 8001, 0};
  EXPECT_EQ(0, installer.GenerateRandomPort(5000, 5000, none));
  EXPECT_EQ(0, installer.GenerateRandomPort(6000, 5000, none));
  EXPECT_EQ(0, installer.GenerateRandomPort(1090, 1092, none));
  EXPECT_EQ(0, installer.GenerateRandomPort(8000, 8002, both));
  // The widest range an int allows: its width, beyond an int, is taken
  // whole, so each draw is low plus random() modulo the width.
  const long long width = static_cast<long long>(INT_MAX) - INT_MIN;
  srandom(7);
  long draws[] = {random(), random(), random()};
  srandom(7);
  for (long draw : draws)
    EXPECT_EQ(INT_MIN + draw % width, installer.GenerateRandomPort(INT_MIN, INT_MAX, none));
}

TEST(ServerInstallerPorts, ValidPortAcceptsOnlyDigitsFromOneTo65535) {
  struct Case {
    const char* text;
    int valid;
    int stored;
  };
  const int kUntouched = -7;
  const Case cases[] = {
      {"80", 1, 80},
      {"1", 1, 1},
      {"65535", 1, 65535},
      {"065535", 1, 65535},
      {"65536", 0, 65536},
      {"0", 0, 0},
      {"", 0, 0},
      {"99999999999999999999", 0, INT_MAX},
      {"8o", 0, kUntouched},
      {"-1", 0, kUntouched},
      {"+80", 0, kUntouched},
      {"80 ", 0, kUntouched},
      {" 80", 0, kUntouched},
      {"8 0", 0, kUntouched},
      {"0x50", 0, kUntouched},
  };
  for (const Case& c : cases) {
    int port = kUntouched;
    EXPECT_EQ(c.valid, ServerInstaller::ValidPort(c.text, port)) << '"' << c.text << '"';
    EXPECT_EQ(c.stored, port) << '"' << c.text << '"';
  }
}

TEST(ServerInstallerPorts, CheckDupePortCountsOnlySelectedEntries) {
  ServerInstaller installer;
  installer.SetDefaults();
  const char* untouched = "untouched";
  {
    const char* name = untouched;
    EXPECT_EQ(1, installer.CheckDupePort(9090, 3, name));
    EXPECT_STREQ("Monitor", name);
  }
  {
    const char* name = untouched;
    EXPECT_EQ(0, installer.CheckDupePort(9090, 0, name));
    EXPECT_EQ(untouched, name);
  }
  {
    // Entry 1 holds 554 but is not selected yet.
    const char* name = untouched;
    EXPECT_EQ(0, installer.CheckDupePort(554, 3, name));
    EXPECT_EQ(untouched, name);
  }
  installer.SetInstPort(1, 554);
  {
    const char* name = untouched;
    EXPECT_EQ(1, installer.CheckDupePort(554, 3, name));
    EXPECT_STREQ("RTSP", name);
    name = untouched;
    EXPECT_EQ(0, installer.CheckDupePort(554, 1, name));
    EXPECT_EQ(untouched, name);
  }
  {
    // An index outside the table excludes nothing.
    const char* name = untouched;
    EXPECT_EQ(1, installer.CheckDupePort(9090, -1, name));
    EXPECT_STREQ("Monitor", name);
    name = untouched;
    EXPECT_EQ(1, installer.CheckDupePort(554, 6, name));
    EXPECT_STREQ("RTSP", name);
  }
  installer.SetInstPort(4, 9090);
  {
    // The first holder in index order is named.
    const char* name = untouched;
    EXPECT_EQ(1, installer.CheckDupePort(9090, 5, name));
    EXPECT_STREQ("Monitor", name);
    name = untouched;
    EXPECT_EQ(1, installer.CheckDupePort(9090, 0, name));
    EXPECT_STREQ("MMS", name);
  }
}

TEST(ServerInstallerPorts, PortInUseSeesLocalServers) {
  ServerInstaller installer;
  {
    LoopbackSocket server(0, true);
    ASSERT_NE(0, server.port());
    EXPECT_EQ(1, installer.PortInUse(server.port()));
  }
  {
    // Bound without listening is taken as well.
    LoopbackSocket bound(0, false);
    ASSERT_NE(0, bound.port());
    EXPECT_EQ(1, installer.PortInUse(bound.port()));
  }
  {
    LoopbackSocket released(0, false);
    int port = released.port();
    ASSERT_NE(0, port);
    released.Close();
    EXPECT_EQ(0, installer.PortInUse(port));
    // The probe let the port go again.
    LoopbackSocket again(port, true);
    EXPECT_EQ(port, again.port());
  }
}

TEST(ServerInstallerPorts, PortInUseWithoutPrivilegesAsksTheServer) {
  if (geteuid() != 0)
    GTEST_SKIP() << "needs root to listen on a privileged port before giving up privileges";
  // Two free ports below 1024: one with a server, one without.
  int listening = 0;
  int idle = 0;
  std::unique_ptr<LoopbackSocket> server;
  for (int port = 1023; port > 600 && (listening == 0 || idle == 0); --port) {
    LoopbackSocket probe(port, false);
    if (probe.port() == 0)
      continue;
    probe.Close();
    if (listening == 0) {
      server.reset(new LoopbackSocket(port, true));
      listening = server->port();
    } else {
      idle = port;
    }
  }
  ASSERT_NE(0, listening);
  ASSERT_NE(0, idle);

  ProcessResult child = RunForked(ForkOptions::MarkReturn(), [&] {
    // "nobody", or its usual ids where the account is not listed.
    const passwd* nobody = getpwnam("nobody");
    uid_t uid = nobody != nullptr ? nobody->pw_uid : 65534;
    gid_t gid = nobody != nullptr ? nobody->pw_gid : 65534;
    if (setgid(gid) != 0 || setuid(uid) != 0)
      _exit(3);
    ServerInstaller installer;
    printf("%d %d", installer.PortInUse(listening), installer.PortInUse(idle));
  });
  server.reset();
  ASSERT_NE(3, child.code) << "cannot become nobody";
  EXPECT_EQ(kBodyReturned, child.code);
  EXPECT_EQ("1 0", child.out);
}
