#include "templates/NewInstallerIQLoopcastScript.h"

#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "tests/Subprocess.h"
#include "tests/TemplateTestSupport.h"

namespace {

// The banner that every run prints first.
const char kBanner[] = "LOOPCAST - Live Broadcast Simulation Utility\n\n";

// What the usage text looks like on the terminal: echo joins its words with
// one blank and drops the escapes.
const char kUsage[] =
    "LOOPCAST (C) Copyright 2001 ZephraNetworks, Inc. All rights reserved.\n"
    "\n"
    "Usage:\n"
    "      Basic mode:\n"
    "      host port userid password live_file playlist_file [-t] [-r] [-nN] [-bN] [-e] [-f] "
    "[-w]\n"
    "\n"
    "      Advanced mode:\n"
    "      -c config_file live_file playlist_file [-r] [-nN] [-bN] [-e] [-f] [-w]\n"
    "\n"
    "      -t: tcp.\n"
    "      -r: random.\n"
    "      -nN: play N files, then exit.\n"
    "      -bN: target stream bandwidth of n bps\n"
    "      -e: disable event stream for title, author and copyright updates\n"
    "      -f: force event stream for title, author and copyright updates\n"
    "      -w: enable wallclock synchronization with other streams\n"
    "      Playlist file has the format:\n"
    "      file1\n"
    "      file2\n"
    "\n"
    "LOOPCAST requires that two environment variables, LOOPCAST_PLUGIN_PATH and\n"
    "LOOPCAST_SUPPORT_PATH, be set. These variables reference the Plugins and\n"
    "the LibrarySupportPath variables specified in your Strata Server's\n"
    "configuration file ( i.e. qmserver.cfg ). If you change these values in\n"
    "your server configuration file, you must also modify them in this script.\n"
    "\n"
    "Refer to Strata Server Administration Guide for more information\n"
    "regarding LOOPCAST.\n"
    "\n";

// Records its arguments and the two variables it was given, then fails with a
// status of its own so that the script's exit status shows where it came from.
const char kStandIn[] =
    "#!/bin/sh\n"
    "record=\"$(dirname \"$0\")/../record.txt\"\n"
    "echo \"PLUGIN=$LOOPCAST_PLUGIN_PATH\" > \"$record\"\n"
    "echo \"SUPPORT=$LOOPCAST_SUPPORT_PATH\" >> \"$record\"\n"
    "for a in \"$@\"; do echo \"ARG=$a\" >> \"$record\"; done\n"
    "echo stand-in ran\n"
    "exit 7\n";

struct ScriptResult {
  int status;
  std::string out;
};

// An installation directory with Bin/loopcast.sh written by the template and
// the stand-in Bin/loopcast; removed with everything in it.
class ScriptRun : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, mkdir((m_dir + "/Bin").c_str(), 0755));
    ASSERT_TRUE(WriteFile(m_dir + "/Bin/loopcast.sh",
                          NewInstallerIQLoopcastScript::CreateScriptFile(m_dir.c_str()), 0755));
    ASSERT_TRUE(WriteFile(m_dir + "/Bin/loopcast", kStandIn, 0755));
  }

  // Runs the script with /bin/sh in the installation directory, with stale
  // values in the two variables that the script must replace.
  ScriptResult RunScript(const std::vector<std::string>& args) {
    ProgramRun run;
    run.program = "/bin/sh";
    run.argv = {"/bin/sh", m_dir + "/Bin/loopcast.sh"};
    run.argv.insert(run.argv.end(), args.begin(), args.end());
    run.cwd = m_dir;
    run.env = {{"LOOPCAST_PLUGIN_PATH", "stale"}, {"LOOPCAST_SUPPORT_PATH", "stale"}};
    ProcessResult result = RunProgram(run);
    return ScriptResult{result.exited ? result.code : -1, result.out};
  }

  std::string Record() {
    std::string text;
    return ReadFile(m_dir + "/record.txt", &text) ? text : "(missing)";
  }

  TempDir m_scratch;
  const std::string m_dir = m_scratch.path();
};

}  // namespace

TEST(NewInstallerIQLoopcastScript, MatchesGoldenFile) {
  const std::string golden = ReadTestFile("loopcast_srv_media_slash.sh");
  const std::string text = NewInstallerIQLoopcastScript::CreateScriptFile("/srv/media/");
  EXPECT_TRUE(SameLines(golden, text));

  const std::vector<std::string> lines = SplitLines(text);
  ASSERT_EQ(118u, lines.size());
  EXPECT_EQ("#!/bin/sh", lines[0]);
  EXPECT_EQ("exit", lines[117]);
  EXPECT_EQ("exit\n", text.substr(text.size() - 5));
  EXPECT_EQ(std::string::npos, text.find('\t'));
  EXPECT_EQ(std::string::npos, text.find('\r'));
  std::vector<int> endInBlank;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (!lines[i].empty() && lines[i].back() == ' ')
      endInBlank.push_back(static_cast<int>(i + 1));
  }
  EXPECT_EQ((std::vector<int>{33, 66, 101}), endInBlank);
}

TEST(NewInstallerIQLoopcastScript, DirectoryIsInsertedUnchanged) {
  {
    const std::vector<std::string> lines =
        SplitLines(NewInstallerIQLoopcastScript::CreateScriptFile("/srv/media"));
    ASSERT_EQ(118u, lines.size());
    EXPECT_EQ("LOOPCAST_PLUGIN_PATH=/srv/media/Plugins", lines[17]);
    EXPECT_EQ("LOOPCAST_SUPPORT_PATH=/srv/media/Lib", lines[19]);
    EXPECT_EQ("    \"/srv/media/Bin/loopcast\"  $* ", lines[65]);
  }
  {
    SCOPED_TRACE("a null directory is written as the empty text");
    const std::string text = NewInstallerIQLoopcastScript::CreateScriptFile(nullptr);
    EXPECT_EQ(std::string::npos, text.find("(null)"));
    EXPECT_EQ("    \"/Bin/loopcast\"  $* ", SplitLines(text)[65]);
  }
  {
    SCOPED_TRACE("a directory that passes 64,000 bytes through its three uses");
    const std::string dir = "/" + std::string(30000, 'd');
    const char* text = NewInstallerIQLoopcastScript::CreateScriptFile(dir.c_str());
    const std::vector<std::string> lines = SplitLines(text);
    ASSERT_EQ(118u, lines.size());
    EXPECT_EQ("    \"" + dir + "/Bin/loopcast\"  $* ", lines[65]);
    EXPECT_EQ("exit", lines[117]);
    // The buffer keeps its size: the next short text is whole as well.
    EXPECT_TRUE(SameLines(ReadTestFile("loopcast_srv_media_slash.sh"),
                          NewInstallerIQLoopcastScript::CreateScriptFile("/srv/media/")));
  }
}

TEST(NewInstallerIQLoopcastScript, EachCallRebuildsTheSameBuffer) {
  const char* first = NewInstallerIQLoopcastScript::CreateScriptFile("/opt/one");
  const char* second = NewInstallerIQLoopcastScript::CreateScriptFile("/opt/two");
  EXPECT_EQ(first, second);
  EXPECT_NE(nullptr, strstr(first, "LOOPCAST_PLUGIN_PATH=/opt/two/Plugins\n"));
  EXPECT_EQ(nullptr, strstr(first, "/opt/one"));
}

TEST_F(ScriptRun, AdvancedModeWithTooFewArgumentsPrintsUsage) {
  const ScriptResult run = RunScript({"-c", "server.cfg", "live.sdp"});
  EXPECT_EQ(std::string(kBanner) + kUsage, run.out);
  EXPECT_EQ(0, run.status);
  EXPECT_EQ("(missing)", Record());
}

TEST_F(ScriptRun, AdvancedModeRunsTheTool) {
  const ScriptResult run = RunScript({"-c", "server.cfg", "live.sdp", "list.txt"});
  EXPECT_EQ(std::string(kBanner) +
                "Executing LOOPCAST with\n"
                "config_file=server.cfg, live_file=live.sdp, playlist_file=list.txt\n"
                "\n"
                "stand-in ran\n",
            run.out);
  EXPECT_EQ(7, run.status);
  EXPECT_EQ("PLUGIN=" + m_dir + "/Plugins\nSUPPORT=" + m_dir +
                "/Lib\nARG=-c\nARG=server.cfg\nARG=live.sdp\nARG=list.txt\n",
            Record());
}

TEST_F(ScriptRun, BasicModeRunsTheTool) {
  const ScriptResult run =
      RunScript({"media.example.net", "7070", "encoder", "s3cret", "live.sdp", "list.txt"});
  EXPECT_EQ(std::string(kBanner) +
                "Executing LOOPCAST with\n"
                "host=media.example.net, port=7070, userid=encoder, password=s3cret\n"
                "live_file=live.sdp, playlist_file=list.txt\n"
                "\n"
                "stand-in ran\n",
            run.out);
  EXPECT_EQ(7, run.status);
  EXPECT_EQ("PLUGIN=" + m_dir + "/Plugins\nSUPPORT=" + m_dir +
                "/Lib\nARG=media.example.net\nARG=7070\nARG=encoder\nARG=s3cret\n"
                "ARG=live.sdp\nARG=list.txt\n",
            Record());
}

TEST_F(ScriptRun, BasicModeWithTooFewArgumentsPrintsUsage) {
  const ScriptResult run =
      RunScript({"media.example.net", "7070", "encoder", "s3cret", "live.sdp"});
  EXPECT_EQ(std::string(kBanner) + kUsage, run.out);
  EXPECT_EQ(0, run.status);
  EXPECT_EQ("(missing)", Record());
}
