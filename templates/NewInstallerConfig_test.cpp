#include "templates/NewInstallerConfig.h"

#include <gtest/gtest.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "tests/TemplateTestSupport.h"

namespace {

// The values of golden file config_srv_media.cfg: every argument differs from
// the others, so that two swapped arguments change the text.
std::string SrvMediaText(const char* installDir) {
  return NewInstallerConfig::CreateConfigFile(
      installDir, 987654, 1554, 17070, 8081, 11755, 9090, 24680, "mon-Pass.9", "5",
      "media1.AdminRealm", "media1.EncoderRealm", "media1.RBSEncoderRealm", "media1.WMEncoderRealm",
      "preK7-Pass.15", "media1.CDistRealm", "media1.ContentRealm", "media1.example.net");
}

// The values of golden file config_no_dir.cfg, with both passwords the same as
// the installer passes them.
std::string NoDirText(const char* installDir) {
  return NewInstallerConfig::CreateConfigFile(
      installDir, 0, 554, 7070, 80, 1755, 9091, 31337, "x7Qp2zR4", "0", "streamhost.AdminRealm",
      "streamhost.EncoderRealm", "streamhost.RBSEncoderRealm", "streamhost.WMEncoderRealm",
      "x7Qp2zR4", "streamhost.CDistRealm", "streamhost.ContentRealm", "streamhost");
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// Where each value sits: for every line that holds `value`, the names of the
// lists around it and the variable's name ("!--" for a comment line).
std::vector<std::string> PlacesOf(const std::string& text, const std::string& value) {
  std::vector<std::string> lists;
  std::vector<std::string> places;
  for (const std::string& line : SplitLines(text)) {
    const size_t indent = line.find_first_not_of(' ');
    if (indent == std::string::npos)
      continue;
    const std::string body = line.substr(indent);
    if (body.compare(0, 12, "<List Name=\"") == 0) {
      lists.push_back(body.substr(12, body.find('"', 12) - 12));
      continue;
    }
    if (body.compare(0, 7, "</List>") == 0) {
      if (!lists.empty())
        lists.pop_back();
      continue;
    }
    if (line.find(value) == std::string::npos)
      continue;
    std::string place;
    for (const std::string& list : lists)
      place += list + "/";
    if (body.compare(0, 5, "<Var ") == 0)
      place += body.substr(5, body.find('=') - 5);
    else
      place += body.substr(1, 3);
    places.push_back(place);
  }
  return places;
}

}  // namespace

TEST(NewInstallerConfig, MatchesGoldenFiles) {
  {
    const std::string golden = ReadTestFile("config_srv_media.cfg");
    const std::string text = SrvMediaText("/srv/media");
    EXPECT_TRUE(SameLines(golden, text));
  }
  {
    const std::string golden = ReadTestFile("config_no_dir.cfg");
    EXPECT_TRUE(SameLines(golden, NoDirText("")));
    EXPECT_TRUE(SameLines(golden, NoDirText(nullptr)));
  }
}

TEST(NewInstallerConfig, ShapeOfTheText) {
  const std::string text = SrvMediaText("/srv/media");
  const std::vector<std::string> lines = SplitLines(text);
  ASSERT_EQ(612u, lines.size());
  EXPECT_EQ("<?XML Version=\"1.0\" ?>", lines[0]);
  EXPECT_EQ("", lines[1]);
  EXPECT_EQ("</List>", lines[610]);
  EXPECT_EQ("", lines[611]);
  EXPECT_EQ("</List>\n\n", text.substr(text.size() - 9));
  EXPECT_EQ(std::string::npos, text.find('\r'));
  EXPECT_EQ(std::string::npos, text.find('\t'));

  // Indentation is in blanks, no line is blank only, and no line ends in one.
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.empty())
      continue;
    EXPECT_NE(' ', line.back()) << "line " << i + 1 << ": [" << line << "]";
  }
}

TEST(NewInstallerConfig, FiveBlankIndentationAndColumnZeroContinuations) {
  const std::string text = SrvMediaText("/srv/media");
  EXPECT_NE(std::string::npos, text.find("<List Name=\"BroadcastDistribution\">\n"
                                         "     <Var SourceName=\"media1.example.net\"/>\n"
                                         "</List>\n"));
  EXPECT_NE(std::string::npos, text.find("<List Name=\"BroadcastReceiver\">\n"
                                         "     <List Name=\"Receivers\">\n"
                                         "     </List>\n"
                                         "</List>\n"));
  // Every odd indentation is one of those three lines.
  int oddlyIndented = 0;
  for (const std::string& line : SplitLines(text)) {
    const size_t indent = line.find_first_not_of(' ');
    if (indent != std::string::npos && indent % 4 != 0)
      ++oddlyIndented;
  }
  EXPECT_EQ(3, oddlyIndented);

  EXPECT_NE(std::string::npos,
            text.find("        <Var Format=\n\"Server Stats (%date% %time%)\n\\tUptime: "));
  EXPECT_NE(std::string::npos,
            text.find("\n\\tMemory Stats: %Server.BytesInUse% Bytes In Use\\n\\n\"/>\n"
                      "        <Var Interval=\"00:01:00\"/>\n"));
  EXPECT_EQ(std::string::npos, text.find("%%"));
}

TEST(NewInstallerConfig, DirectoryPrefix) {
  const std::string golden = ReadTestFile("config_srv_media.cfg");
  {
    SCOPED_TRACE("a trailing slash is not doubled");
    EXPECT_TRUE(SameLines(golden, SrvMediaText("/srv/media/")));
  }
  {
    SCOPED_TRACE("a relative directory stays relative");
    EXPECT_TRUE(SameLines(Replace(golden, "\"/srv/media/", "\"media/"), SrvMediaText("media")));
  }
  {
    SCOPED_TRACE("only a slash counts as a separator");
    EXPECT_TRUE(
        SameLines(Replace(golden, "\"/srv/media/", "\"C:\\media\\/"), SrvMediaText("C:\\media\\")));
  }
  {
    SCOPED_TRACE("the root directory");
    EXPECT_TRUE(SameLines(Replace(golden, "\"/srv/media/", "\"/"), SrvMediaText("/")));
  }
}

TEST(NewInstallerConfig, ArgumentRoles) {
  const std::string text = NewInstallerConfig::CreateConfigFile(
      "/srv/media", 40000, 40003, 40004, 40005, 40006, 40001, 40002, "MONITOR-PW", "LOGSTYLE",
      "REALM-ADMIN", "REALM-ENC", "REALM-RBS", "REALM-WM", "PREK7-PW", "REALM-CDIST",
      "REALM-CONTENT", "SOURCE-HOST");
  using Places = std::vector<std::string>;

  EXPECT_EQ(Places{"MonitorPassword"}, PlacesOf(text, "MONITOR-PW"));
  EXPECT_EQ(Places{"FSMount/Pre-ZephraSystem K7 Encoders/!--"}, PlacesOf(text, "PREK7-PW"));
  EXPECT_NE(std::string::npos, text.find("        <!-- Var Password=\"PREK7-PW\"/ -->\n"));
  EXPECT_EQ(Places{"LoggingStyle"}, PlacesOf(text, "LOGSTYLE"));
  EXPECT_EQ(Places{"BroadcastDistribution/SourceName"}, PlacesOf(text, "SOURCE-HOST"));
  EXPECT_EQ(Places{}, PlacesOf(text, "40000"));

  // The ports in file order, which is not the order of the port table.
  EXPECT_NE(std::string::npos, text.find("<Var RTSPPort=\"40003\"/>\n"
                                         "<Var VQXPort=\"40004\"/>\n"
                                         "<Var HTTPPort=\"40005\"/>\n"
                                         "<Var MMSPort=\"40006\"/>\n"
                                         "<Var MonitorPort=\"40001\"/>\n"
                                         "<Var AdminPort=\"40002\"/>\n"));

  EXPECT_EQ((Places{"AuthenticationRealms/SecureAdmin/Realm",
                    "FSMount/ZephraSystem Administrator Files/Realm"}),
            PlacesOf(text, "REALM-ADMIN"));
  EXPECT_EQ((Places{"AuthenticationRealms/SecureEncoder/Realm",
                    "FSMount/ZephraSystem K7 Encoders/EncoderRealm"}),
            PlacesOf(text, "REALM-ENC"));
  EXPECT_EQ((Places{"AuthenticationRealms/SecureRBSEncoder/Realm",
                    "FSMount/Encoder Admin File System/Realm"}),
            PlacesOf(text, "REALM-RBS"));
  EXPECT_EQ((Places{"AuthenticationRealms/SecureWMEncoder/Realm",
                    "FSMount/Windows Media Live Broadcast Source/Realm"}),
            PlacesOf(text, "REALM-WM"));
  EXPECT_EQ((Places{"AuthenticationRealms/SecureCDist/Realm",
                    "MediaExportInterface/AuthenticationRealm"}),
            PlacesOf(text, "REALM-CDIST"));
  EXPECT_EQ(
      (Places{"AuthenticationRealms/SecureContent/Realm", "CommerceRules/SecureUserContent/Realm",
              "CommerceRules/SecureLiveContent/Realm", "CommerceRules/SecureK7LiveContent/Realm",
              "CommerceRules/SecurePreK7LiveContent/Realm"}),
      PlacesOf(text, "REALM-CONTENT"));
}

TEST(NewInstallerConfig, NullSettingsAreWrittenEmpty) {
  const std::string text = NewInstallerConfig::CreateConfigFile(
      nullptr, 0, 554, 7070, 80, 1755, 9091, 31337, nullptr, nullptr, nullptr, nullptr, nullptr,
      nullptr, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(612u, SplitLines(text).size());
  EXPECT_EQ(std::string::npos, text.find("(null)"));
  EXPECT_NE(std::string::npos, text.find("\n<Var MonitorPassword=\"\"/>\n"));
  EXPECT_NE(std::string::npos, text.find("\n<Var LoggingStyle=\"\"/>\n"));
  EXPECT_NE(std::string::npos, text.find("\n        <!-- Var Password=\"\"/ -->\n"));
  EXPECT_NE(std::string::npos, text.find("\n     <Var SourceName=\"\"/>\n"));
  // Six realms: the content realm in five places, the others in two each.
  EXPECT_EQ(15u, PlacesOf(text, "Realm=\"\"").size());
}

TEST(NewInstallerConfig, LongValuesAreNeverCut) {
  {
    SCOPED_TRACE("a directory that passes 64,000 bytes through its 21 uses");
    const std::string dir = "/" + std::string(4999, 'd');
    const std::string expected =
        Replace(ReadTestFile("config_srv_media.cfg"), "\"/srv/media/", "\"" + dir + "/");
    const std::string text = SrvMediaText(dir.c_str());
    EXPECT_GT(text.size(), 64000u + 40000u);
    EXPECT_TRUE(SameLines(expected, text));
  }
  {
    SCOPED_TRACE("one line longer than the whole first buffer");
    const std::string realm(70000, 'r');
    const std::string text =
        NewInstallerConfig::CreateConfigFile("/srv/media", 0, 1, 2, 3, 4, 5, 6, "pw", "5", "a", "e",
                                             "b", "w", "pw", "c", realm.c_str(), "host");
    EXPECT_EQ(612u, SplitLines(text).size());
    EXPECT_EQ(5u, PlacesOf(text, realm).size());
    EXPECT_EQ("</List>\n\n", text.substr(text.size() - 9));
  }
  {
    SCOPED_TRACE("a short text after long ones");
    EXPECT_TRUE(SameLines(ReadTestFile("config_no_dir.cfg"), NoDirText("")));
  }
}

TEST(NewInstallerConfig, EachCallRebuildsTheSameBuffer) {
  const char* first =
      NewInstallerConfig::CreateConfigFile("/srv/media", 0, 1554, 17070, 8081, 11755, 9090, 24680,
                                           "one", "5", "a", "e", "b", "w", "one", "c", "t", "host");
  const std::string firstText = first;
  const char* second =
      NewInstallerConfig::CreateConfigFile("", 0, 554, 7070, 80, 1755, 9091, 31337, "two", "0", "a",
                                           "e", "b", "w", "two", "c", "t", "host");
  EXPECT_EQ(first, second);
  EXPECT_NE(firstText, std::string(first));
  EXPECT_NE(nullptr, strstr(first, "<Var MonitorPassword=\"two\"/>"));
  EXPECT_NE(nullptr, strstr(first, "<Var LogPath=\"Logs/qmaccess.log\"/>"));
}
