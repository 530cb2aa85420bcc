#include "templates/NewInstallerConfig.h"

#include <string>
#include <vector>

#include "product/ServerVersion.h"
#include "templates/TemplateText.h"

namespace {

// Every path separator of the text goes through "%c".
const char kSlash = '/';

// The folder of the administrator's web pages, directly behind the prefix.
const char kAdminFolder[] = "StrataAdministrator";

// The default advertisement page, on the product maker's web server.
const char kDefaultAdURL[] = "http://ads.zephranetworks.com/strata/default/ad.html";

// The prefix of every installed path: empty for no directory, else the
// directory ending in exactly the one "/" it may already have.
std::string DirectoryPrefix(const char* installDir) {
  std::string prefix = TextOrEmpty(installDir);
  if (!prefix.empty() && prefix.back() != '/')
    prefix += '/';
  return prefix;
}

struct RealmEntry {
  const char* szList;
  const char* szRealm;
  const char* szAuthenticator;
  const char* szPluginID;
  const char* szDatabaseID;
  // A comment behind the list's opening tag, or null.
  const char* szNote;
};

struct CommerceRule {
  const char* szList;
  const char* szVirtualPath;
  bool bHasRealm;
  const char* szUseGUIDValidation;
  const char* szDatabaseID;
};

struct Database {
  const char* szList;
  const char* szFolder;
};

struct SmilGenerator {
  const char* szList;
  const char* szMountPoint;
  const char* szLayout;
  const char* szAdType;
};

void WriteFileSystems(TemplateText& t, const char* p, const char* adminRealm,
                      const char* encoderRealm, const char* rbsEncoderRealm,
                      const char* wmEncoderRealm, const char* preK7EncoderPassword) {
  t.Line("<!--            F I L E  S Y S T E M S          -->");
  t.Line("<!--            ======================          -->");
  t.Line("<List Name=\"FSMount\">");

  t.Line("    <!-- Local File System; Media -->");
  t.Line("    <List Name=\"ZephraSystem Content\">");
  t.Line("        <Var ShortName=\"vq-local\"/>");
  t.Line("        <Var MountPoint=\"/\"/>");
  t.Line("        <Var BasePath=\"%sContent\"/>", p);
  t.Line("        <Var UseContentDistribution=\"1\"/>");
  t.Line("    </List>");

  t.Line("    <!-- Local File System; Secure Media -->");
  t.Line("    <List Name=\"ZephraSystem Secure Content\">");
  t.Line("        <Var ShortName=\"vq-local\"/>");
  t.Line("        <Var MountPoint=\"/secure/\"/>");
  t.Line("        <Var BasePath=\"%sSecure\"/>", p);
  t.Line("    </List>");

  t.Line("    <!-- Local File System; HTML -->");
  t.Line("    <List Name=\"ZephraSystem Administrator HTML\">");
  t.Line("        <Var ShortName=\"vq-local\"/>");
  t.Line("        <Var MountPoint=\"/admin/html/\"/>");
  t.Line("        <Var BasePath=\"%s%s\"/>", p, kAdminFolder);
  t.Line("    </List>");

  t.Line("    <!-- Local File System; DOCS -->");
  t.Line("    <List Name=\"ZephraSystem Administrator DOCS\">");
  t.Line("        <Var ShortName=\"vq-local\"/>");
  t.Line("        <Var MountPoint=\"/admin/Docs/\"/>");
  t.Line("        <Var BasePath=\"%s%s%cDocs\"/>", p, kAdminFolder, kSlash);
  t.Line("    </List>");

  t.Line("    <!-- Local File System; IMAGES -->");
  t.Line("    <List Name=\"ZephraSystem Administrator IMAGES\">");
  t.Line("        <Var ShortName=\"vq-local\"/>");
  t.Line("        <Var MountPoint=\"/admin/images/\"/>");
  t.Line("        <Var BasePath=\"%s%s%cimages\"/>", p, kAdminFolder, kSlash);
  t.Line("    </List>");

  t.Line("    <!-- Local File System; JAVAMONITOR -->");
  t.Line("    <List Name=\"ZephraSystem Administrator JAVAMONITOR\">");
  t.Line("        <Var ShortName=\"vq-local\"/>");
  t.Line("        <Var MountPoint=\"/admin/JavaMonitor/\"/>");
  t.Line("        <Var BasePath=\"%s%s%cJavaMonitor\"/>", p, kAdminFolder, kSlash);
  t.Line("    </List>");

  t.Line("    <!-- XML Tag Handler File System -->");
  t.Line("    <List Name=\"Zephra System Administrator SSI\">");
  t.Line("        <Var ShortName=\"vq-xmltag\"/>");
  t.Line("        <Var MountPoint=\"/admin/includes/\"/>");
  t.Line("        <Var BaseMountPoint=\"/admin/html/\"/>");
  t.Line("        <List Name=\"TagHandlers\">");
  t.Line("            <Var h1=\"vq-includer\"/>");
  t.Line("            <Var h2=\"vq-vsrctaghdlr\"/>");
  t.Line("        </List>");
  t.Line("    </List>");

  t.Line("    <!-- Admin File System -->");
  t.Line("    <List Name=\"ZephraSystem Administrator Files\">");
  t.Line("        <Var ShortName=\"vq-admin\"/>");
  t.Line("        <Var MountPoint=\"/admin/\"/>");
  t.Line("        <Var BaseMountPoint=\"/admin/includes/\"/>");
  t.Line("        <Var Realm=\"%s\"/>", adminRealm);
  t.Line("    </List>");

  t.Line("    <!-- K7 Encoders -->");
  t.Line("    <List Name=\"ZephraSystem K7 Encoders\">");
  t.Line("        <Var ShortName=\"vq-encoder\"/>");
  t.Line("        <Var MountPoint=\"/encoder/\"/>");
  t.Line("        <Var Port=\"4040\"/>");
  t.Line("        <Var EncoderRealm=\"%s\"/>", encoderRealm);
  t.Line("    </List>");

  t.Line("    <!-- Pre-K7 Encoders -->");
  t.Line("    <List Name=\"Pre-ZephraSystem K7 Encoders\">");
  t.Line("        <Var ShortName=\"vq-live3\"/>");
  t.Line("        <Var MountPoint=\"/live/\"/>");
  t.Line("        <Var Port=\"5050\"/>");
  t.Line("        <!-- Var Password=\"%s\"/ -->", preK7EncoderPassword);
  t.Line("    </List>");

  t.Line("    <List Name=\"RTP Encoders\">");
  t.Line("        <Var ShortName=\"vq-qtencoder\"/>");
  t.Line("        <Var MountPoint=\"/rtpencoder/\"/>");
  t.Line("        <Var BaseMountPoint=\"/rtpencodersdp/\"/>");
  t.Line("        <Var ConnectionTimeout=\"10\"/>");
  t.Line("        <Var RTPBYETimeout=\"10\"/>");
  t.Line("        <Var EmulateEncoderModel=\"0\"/>");
  t.Line("        <Var DirectoryScanInterval=\"5\"/>");
  t.Line("    </List>");

  t.Line("    <!-- QAM File Generator -->");
  t.Line("    <List Name=\"QAM File Generator\">");
  t.Line("        <Var ShortName=\"vq-qamgen\"/>");
  t.Line("        <Var MountPoint=\"/qamgen/\"/>");
  t.Line("    </List>");

  t.Line("    <!-- View Source File system -->");
  t.Line("    <List Name=\"View Source File System\">");
  t.Line("        <Var ShortName=\"vq-vsrcfsys\"/>");
  t.Line("        <Var MountPoint=\"/vsrcfsys/\"/>");
  t.Line("    </List>");

  t.Line("    <!-- View Source Tag File System; Source Insertion -->");
  t.Line("    <List Name=\"View Source Tag FileSystem\">");
  t.Line("        <Var ShortName=\"vq-xmltag\"/>");
  t.Line("        <Var MountPoint=\"/viewsource/\"/>");
  t.Line("        <Var BaseMountPoint=\"/vsrcfsys/\"/>");
  t.Line("        <List Name=\"TagHandlers\">");
  t.Line("            <List Name=\"ViewSource Tag Handler\">");
  t.Line("                <Var ShortName=\"vq-vsrctaghdlr\"/>");
  t.Line("            </List>");
  t.Line("        </List>");
  t.Line("    </List>");

  t.Line("    <!-- General Ad Insertion -->");
  t.Line("    <List Name=\"General Ad Insertion\">");
  t.Line("        <Var ShortName=\"vq-xmltag\"/>");
  t.Line("        <Var MountPoint=\"/adtag/general/\"/>");
  t.Line("        <Var BaseMountPoint=\"/\"/>");
  t.Line("        <List Name=\"TagHandlers\">");
  t.Line("            <List Name=\"Ad Tag Replacement Plugin\">");
  t.Line("                <Var ShortName=\"qz-adtaghandler\"/>");
  t.Line("                <Var AdRetrievalMountPoint=\"/httpfs/\"/>");
  t.Line("                <Var AdPlaybackMountPoint=\"/httpfs/\"/>");
  t.Line("                <Var AdURL=\"%s\"/>", kDefaultAdURL);
  t.Line("                <Var Rotate=\"False\"/>");
  t.Line("                <Var Bitrate=\"4000\"/>");
  t.Line("                <Var Interval=\"30\"/>");
  t.Line("                <Var RotationMountPoint=\"/shellfs/\"/>");
  t.Line("            </List>");
  t.Line("        </List>");
  t.Line("    </List>");

  static const SmilGenerator kSmilGenerators[] = {
      {"Banner Ad SMIL Generation", "/smilgen/banner/", "AdBottom", "Banner"},
      {"Lead-in Ad SMIL Generation", "/smilgen/leadin/", "AdCenter", "Leadin"},
      {"Continuous Rotating Banner Ad SMIL Generation", "/smilgen/rbanner/", "AdBottom",
       "RotatingBanner"},
  };
  for (const SmilGenerator& g : kSmilGenerators) {
    t.Line("    <!-- %s -->", g.szList);
    t.Line("    <List Name=\"%s\">", g.szList);
    t.Line("        <Var ShortName=\"vq-smilgen\"/>");
    t.Line("        <Var MountPoint=\"%s\"/>", g.szMountPoint);
    t.Line("        <Var BaseMountPoint=\"/\"/>");
    t.Line("        <Var Layout=\"%s\"/>", g.szLayout);
    t.Line("        <Var OuterPadding=\"5\"/>");
    t.Line("        <Var InnerPadding=\"5\"/>");
    t.Line("        <Var BGColor=\"black\"/>");
    t.Line("        <Var AdType=\"%s\"/>", g.szAdType);
    t.Line("        <Var EnablePlaylist=\"False\"/>");
    t.Line("        <Var AdWidth=\"468\"/>");
    t.Line("        <Var AdHeight=\"60\"/>");
    t.Line("    </List>");
  }

  t.Line("    <!-- HTTP File System -->");
  t.Line("    <List Name=\"HTTP File System\">");
  t.Line("        <Var ShortName=\"vq-http\"/>");
  t.Line("        <Var MountPoint=\"/httpfs/\"/>");
  t.Line("        <Var ConnectionTimeout=\"10\"/>");
  t.Line("        <Var ServerTimeout=\"10\"/>");
  t.Line("        <Var MangleCookies=\"True\"/>");
  t.Line("    </List>");

  t.Line("    <!-- Shell File System -->");
  t.Line("    <List Name=\"ZephraSystem Shell File System\">");
  t.Line("        <Var ShortName=\"vq-shell\"/>");
  t.Line("        <Var MountPoint=\"/shellfs/\"/>");
  t.Line("        <Var AdRetrievalMountPoint=\"/httpfs/\"/>");
  t.Line("        <Var AdPlaybackMountPoint=\"/httpfs/\"/>");
  t.Line("    </List>");

  t.Line("    <!-- Broadcast Redundancy File System -->");
  t.Line("    <List Name=\"ZephraSystem Broadcast Redundancy\">");
  t.Line("        <Var MountPoint=\"/redundant/\"/>");
  t.Line("        <Var ShortName=\"vq-redundant\"/>");
  t.Line("    </List>");

  t.Line("    <!-- Broadcast Distribution -->");
  t.Line("    <List Name=\"ZephraSystem Broadcast Distribution\">");
  t.Line("        <Var ShortName=\"vq-broadcast-receiver-fs\"/>");
  t.Line("        <Var MountPoint=\"/broadcast/\"/>");
  t.Line("    </List>");

  t.Line("    <!-- Media Import File System -->");
  t.Line("    <List Name=\"ZephraSystem Cache Filesystem\">");
  t.Line("        <Var ShortName=\"vq-mii-mgr\"/>");
  t.Line("        <Var MountPoint=\"/cachemgr/\"/>");
  t.Line("        <Var CacheShortName=\"qz-cache\"/>");
  t.Line("        <Var EntireFileKBPSLimit=\"0\"/>");
  t.Line("    </List>");

  t.Line("    <!-- Local File System; Media Import Cache -->");
  t.Line("    <List Name=\"QZCache Local File System\">");
  t.Line("        <Var ShortName=\"vq-local\"/>");
  t.Line("        <Var MountPoint=\"/fsforcache/\"/>");
  t.Line("        <Var BasePath=\"%sCache\"/>", p);
  t.Line("    </List>");

  t.Line("    <!-- RBS Authentication File System -->");
  t.Line("    <List Name=\"Encoder Admin File System\">");
  t.Line("        <Var ShortName=\"qz-encfs\"/>");
  t.Line("        <Var MountPoint=\"/encfs/\"/>");
  t.Line("        <Var PortRange=\"50001-50050\"/>");
  t.Line("        <Var Realm=\"%s\"/>", rbsEncoderRealm);
  t.Line("    </List>");

  t.Line("    <!-- ASX File Generator -->");
  t.Line("    <List Name=\"ASX File Generator\">");
  t.Line("        <Var ShortName=\"vq-asxgen\"/>");
  t.Line("        <Var MountPoint=\"/asxgen/\"/>");
  t.Line("        <Var HaveAltHTTPURL=\"0\"/>");
  t.Line("    </List>");

  t.Line("    <!-- Windows Media Live Broadcast Source -->");
  t.Line("    <List Name=\"Windows Media Live Broadcast Source\">");
  t.Line("        <Var MountPoint=\"/wmtencoder/\"/>");
  t.Line("        <Var ShortName=\"vq-wmtencoder\"/>");
  t.Line("        <Var PushEncodingPort=\"8080\"/>");
  t.Line("        <Var Realm=\"%s\"/>", wmEncoderRealm);
  t.Line("    </List>");

  t.Line("</List>");
  t.EmptyLine();
}

void WriteLoggingTemplates(TemplateText& t, const char* productName) {
  t.Line("<!--   T E M P L A T I Z E D   L O G G I N G   -->");
  t.Line("<List Name=\"LoggingTemplates\">");

  t.Line("    <List Name=\"Server Stats\">");
  t.Line("        <Var Enabled=\"0\"/>");
  // One value over twelve lines; its continuation lines start in column 0.
  t.Line("        <Var Format=");
  t.Line("\"Server Stats (%%date%% %%time%%)");
  t.Line("\\tUptime: %%Server.Uptime%% seconds");
  t.Line("\\tCPU Percent Usage: %%Server.PercentCPUUsage%%");
  t.Line("\\tPlayers Connected: %%Server.ClientCount%%");
  t.Line("\\tPlayers Connected in the Last 10 Seconds: %%Server.Last10SecondsNewClients%%");
  t.Line(
      "\\tPlayers Connected by Protocol: %%Server.VQXClientCount%% VQX, "
      "%%Server.RTSPClientCount%% RTSP, %%Server.MMSClientCount%% MMS, "
      "%%Server.HTTPClientCount%% HTTP (%%Server.CloakedClientCount%% Cloaked)");
  t.Line(
      "\\tPlayers Connected by Transport: %%Server.TCPTransportCount%% TCP, "
      "%%Server.UDPTransportCount%% UDP, %%Server.MulticastTransportCount%% MCast");
  t.Line("\\tTotal Subscribed Bandwidth Output: %%Server.BandwidthUsage%% bps");
  t.Line("\\tTotal Actual Bandwidth Output: %%Server.BandwidthOutput%% bps");
  t.Line("\\tAverage Bandwidth Output Per Player: %%Server.BandwidthOutputPerPlayer%% bps");
  t.Line("\\tMemory Stats: %%Server.BytesInUse%% Bytes In Use\\n\\n\"/>");
  t.Line("        <Var Interval=\"00:01:00\"/>");
  t.Line("        <List Name=\"Outputs\">");
  t.Line("            <List Name=\"StdOut1\">");
  t.Line("                <Var Type=\"StdOut\"/>");
  t.Line("            </List>");
  t.Line("        </List>");
  t.Line("        <Var Type=\"Interval\"/>");
  t.Line(
      "        <Var Description=\"This template is designed to output %s statistics including "
      "player connections, CPU usage, etc.\"/>",
      productName);
  t.Line("    </List>");

  t.Line("    <List Name=\"Errors\">");
  t.Line("        <Var Enabled=\"0\"/>");
  t.Line("        <Var Format=\"%%date%% %%time%% %%Server.Errors.LastErr%%\"/>");
  t.Line("        <List Name=\"Outputs\">");
  t.Line("            <List Name=\"StdOut1\">");
  t.Line("                <Var Type=\"StdOut\"/>");
  t.Line("            </List>");
  t.Line("        </List>");
  t.Line("        <Var Type=\"Watch\"/>");
  t.Line("        <List Name=\"Watches\">");
  t.Line("            <Var Watch_1=\"Server.Errors.LastErr\"/>");
  t.Line("        </List>");
  t.Line(
      "        <Var Description=\"This template is designed to output all errors that occur "
      "within %s along with the date and time each error occured.\"/>",
      productName);
  t.Line("    </List>");

  t.Line("    <List Name=\"Extended Logging\">");
  t.Line(
      "        <Var DelFormat=\"%%time%% %%Client.*.Addr%% %%Client.*.Protocol%% GET "
      "%%Client.*.Session.*.URL%% %%Client.*.User-Agent%%\\n\"/>");
  t.Line("        <Var Enabled=\"0\"/>");
  t.Line("        <List Name=\"Outputs\">");
  t.Line("            <List Name=\"StdOut1\">");
  t.Line("                <Var Type=\"StdOut\"/>");
  t.Line("            </List>");
  t.Line("        </List>");
  t.Line("        <Var Type=\"Session\"/>");
  t.Line("        <Var WatchRoot=\"Client.*.Session.*\"/>");
  t.Line(
      "        <Var Description=\"This template is designed to report player access "
      "information and will output each time a player disconnects. It is based on the W3C "
      "Extended Logging draft.\"/>");
  t.Line("    </List>");

  t.Line("</List>");
  t.EmptyLine();
}

}  // namespace

char* NewInstallerConfig::CreateConfigFile(const char* installDir, int /*unused*/, int rtspPort,
                                           int vqxPort, int httpPort, int mmsPort, int monitorPort,
                                           int adminPort, const char* monitorPassword,
                                           const char* loggingStyle, const char* adminRealm,
                                           const char* encoderRealm, const char* rbsEncoderRealm,
                                           const char* wmEncoderRealm,
                                           const char* preK7EncoderPassword, const char* cdistRealm,
                                           const char* contentRealm, const char* sourceName) {
  static std::vector<char> szBuf;
  TemplateText t(&szBuf);

  const std::string prefix = DirectoryPrefix(installDir);
  const char* p = prefix.c_str();
  monitorPassword = TextOrEmpty(monitorPassword);
  loggingStyle = TextOrEmpty(loggingStyle);
  adminRealm = TextOrEmpty(adminRealm);
  encoderRealm = TextOrEmpty(encoderRealm);
  rbsEncoderRealm = TextOrEmpty(rbsEncoderRealm);
  wmEncoderRealm = TextOrEmpty(wmEncoderRealm);
  preK7EncoderPassword = TextOrEmpty(preK7EncoderPassword);
  cdistRealm = TextOrEmpty(cdistRealm);
  contentRealm = TextOrEmpty(contentRealm);
  sourceName = TextOrEmpty(sourceName);

  t.Line("<?XML Version=\"1.0\" ?>");
  t.EmptyLine();
  t.Line("<!-- Please read the configuration section of the manual -->");
  t.Line("<!-- before adding any new entries to this file.         -->");
  t.EmptyLine();
  t.EmptyLine();

  t.Line("<!-- S Y S T E M -->");
  t.Line("<Var ProcessorCount=\"0\"/>");
  t.Line("<Var TCPSendBufferSize=\"32768\"/>");
  t.Line("<Var UDPSendBufferSize=\"16384\"/>");
  t.EmptyLine();

  t.Line("<!-- P A T H S -->");
  t.Line("<Var LogPath=\"%sLogs%cqmaccess.log\"/>", p, kSlash);
  t.Line("<Var ErrorLogPath=\"%sLogs%cqmerror.log\"/>", p, kSlash);
  t.Line("<Var PidPath=\"%sLogs%cqmserver.pid\"/>", p, kSlash);
  t.Line("<Var PluginDirectory=\"%sPlugins\"/>", p);
  t.Line("<Var SupportPluginDirectory=\"%sLib\"/>", p);
  t.EmptyLine();

  t.Line("<!-- P O R T S -->");
  t.Line("<!--UNIX customers must have root privileges to execute the server  -->");
  t.Line("<!--with the RTSP port set to 554.                                  -->");
  t.Line("<!--The following are the default ports that ZephraPlayer and         -->");
  t.Line("<!--ZephraPlayer Plus clients will connect to for an URL that has     -->");
  t.Line("<!--no port specified:                                              -->");
  t.Line("<!--  RTSP:  554                                                    -->");
  t.Line("<!--  VQM:   7070                                                   -->");
  t.Line("<!--  HTTP:  80 (...then 8080 if 80 is unavailable)                 -->");
  t.Line("<!--  MMS:   1755                                                   -->");
  t.Line("<Var RTSPPort=\"%d\"/>", rtspPort);
  t.Line("<Var VQXPort=\"%d\"/>", vqxPort);
  t.Line("<Var HTTPPort=\"%d\"/>", httpPort);
  t.Line("<Var MMSPort=\"%d\"/>", mmsPort);
  t.Line("<Var MonitorPort=\"%d\"/>", monitorPort);
  t.Line("<Var AdminPort=\"%d\"/>", adminPort);
  t.EmptyLine();

  t.Line("<!-- P A S S W O R D S -->");
  t.Line("<Var MonitorPassword=\"%s\"/>", monitorPassword);
  t.EmptyLine();

  t.Line("<!-- A L L O W A N C E -->");
  t.Line("<Var EnableCookieBasedIDs=\"True\"/>");
  t.EmptyLine();

  t.Line("<!-- L O G G I N G -->");
  t.Line("<Var LoggingStyle=\"%s\"/>", loggingStyle);
  t.Line("<Var StatsMask=\"3\"/>");
  t.Line("<Var StatsInterval=\"0\"/>");
  t.EmptyLine();

  t.Line("<!-- L I V E  A R C H I V I N G -->");
  t.Line("<List Name=\"LiveArchive\">");
  t.Line("    <List Name=\"*\">");
  t.Line("        <Var TargetDirectory=\"/Archive/\"/>");
  t.Line("        <Var BandwidthNegotiation=\"True\"/>");
  t.Line("        <Var FileSize=\"0\"/>");
  t.Line("        <Var FileTime=\"0m0h0d\"/>");
  t.Line("        <Var NoArchive=\"True\"/>");
  t.Line("    </List>");
  t.Line("</List>");
  t.EmptyLine();

  t.Line("<!-- H T T P  S U P P O R T -->");
  t.Line("<List Name=\"HTTPDeliverable\">");
  t.Line("    <Var Path_0=\"/admin\"/>");
  t.Line("    <Var Path_1=\"/qamgen\"/>");
  t.Line("    <Var Path_2=\"/viewsource\"/>");
  t.Line("    <Var Path_3=\"/encfs\"/>");
  t.Line("    <Var Path_4=\"/asxgen\"/>");
  t.Line("    <Var Path_5=\"/nscfile\"/>");
  t.Line("</List>");
  t.EmptyLine();
  t.Line("<List Name=\"HTTPPostable\">");
  t.Line("    <!-- <Var Path_0=\"/scalable\"/> -->");
  t.Line("    <Var Path_0=\"/encfs\"/>");
  t.Line("    <Var Path_1=\"/admin\"/>");
  t.Line("</List>");
  t.EmptyLine();

  t.Line("<!-- M I M E  T Y P E S -->");
  t.Line("<List Name=\"MimeTypes\">");
  t.Line("    <List Name=\"text/html\">");
  t.Line("        <Var Ext_1=\"html\"/>");
  t.Line("        <Var Ext_2=\"htm\"/>");
  t.Line("    </List>");
  t.Line("    <List Name=\"text/plain\">");
  t.Line("        <Var Ext_1=\"txt\"/>");
  t.Line("    </List>");
  t.Line("    <List Name=\"audio/x-vq-zephraaudio\">");
  t.Line("        <Var Ext_1=\"qam\"/>");
  t.Line("    </List>");
  t.Line("    <List Name=\"image/gif\">");
  t.Line("        <Var Ext_1=\"gif\"/>");
  t.Line("    </List>");
  t.Line("    <List Name=\"image/jpg\">");
  t.Line("        <Var Ext_1=\"jpg\"/>");
  t.Line("        <Var Ext_2=\"jpeg\"/>");
  t.Line("    </List>");
  t.Line("    <List Name=\"video/quicktime\">");
  t.Line("        <Var Ext_1=\"mov\"/>");
  t.Line("    </List>");
  t.Line("</List>");
  t.EmptyLine();

  const RealmEntry realms[] = {
      {"SecureAdmin", adminRealm, "BasicAuthenticator", "qz-auth-basic", "Admin_Basic", nullptr},
      {"SecureCDist", cdistRealm, "BasicAuthenticator", "qz-auth-basic", "CDist_Basic", nullptr},
      {"SecureEncoder", encoderRealm, "QZ5Authenticator", "qz-auth-qz5", "Encoder_QZ5", nullptr},
      {"SecureRBSEncoder", rbsEncoderRealm, "BasicAuthenticator", "qz-auth-basic", "Encoder_Basic",
       nullptr},
      {"SecureWMEncoder", wmEncoderRealm, "DigestAuthenticator", "qz-auth-digest", "Encoder_Digest",
       nullptr},
      {"SecureContent", contentRealm, "QZ5Authenticator", "qz-auth-qz5", "Content_QZ5",
       "Commerce Server"},
  };
  t.Line("<!-- A U T H E N T I C A T I O N -->");
  t.Line("<List Name=\"AuthenticationRealms\">");
  for (const RealmEntry& r : realms) {
    if (r.szNote)
      t.Line("    <List Name=\"%s\"> <!-- %s -->", r.szList, r.szNote);
    else
      t.Line("    <List Name=\"%s\">", r.szList);
    t.Line("        <Var Realm=\"%s\"/>", r.szRealm);
    t.Line("        <List Name=\"%s\">", r.szAuthenticator);
    t.Line("            <Var PluginID=\"%s\"/>", r.szPluginID);
    t.Line("            <Var DatabaseID=\"%s\"/>", r.szDatabaseID);
    t.Line("        </List>");
    t.Line("    </List>");
  }
  t.Line("</List>");
  t.EmptyLine();

  static const CommerceRule kRules[] = {
      {"SecureUserContent", "/secure", true, "False", "Content_QZ5"},
      {"SecureLiveContent", "/broadcast/secure", true, "False", "Content_QZ5"},
      {"SecureK7LiveContent", "/encoder/secure", true, "False", "Content_QZ5"},
      {"SecurePreK7LiveContent", "/live/secure", true, "False", "Content_QZ5"},
      {"SecurePlayerContent", "/secure/player", false, "True", "PlayerContent"},
  };
  t.Line("<!-- C O M M E R C E -->");
  t.Line("<List Name=\"CommerceRules\">");
  for (const CommerceRule& r : kRules) {
    t.Line("    <List Name=\"%s\">", r.szList);
    t.Line("        <Var ProtectedVirtualPath=\"%s\"/>", r.szVirtualPath);
    if (r.bHasRealm)
      t.Line("        <Var Realm=\"%s\"/>", contentRealm);
    t.Line("        <Var UseGUIDValidation=\"%s\"/>", r.szUseGUIDValidation);
    t.Line("        <Var EvaluatePermissions=\"True\"/>");
    t.Line("        <Var DatabaseID=\"%s\"/>", r.szDatabaseID);
    t.Line("        <Var AllowDuplicateIDs=\"False\"/>");
    t.Line("    </List>");
  }
  t.Line("</List>");
  t.EmptyLine();

  t.Line("<!-- P L A Y E R   G U I D   R E G I S T R A T I O N  D A T A B A S E S -->");
  t.Line("<List Name=\"GUIDRegistrationPrefixes\">");
  t.Line("    <List Name=\"PlayerContentRegistration\">");
  t.Line("        <Var GUIDRegistrationPrefix=\"register\"/>");
  t.Line("        <Var DatabaseID=\"PlayerContent\"/>");
  t.Line("    </List>");
  t.Line("</List>");
  t.EmptyLine();

  // The folders of the password databases, below the installation directory.
  static const Database kDatabases[] = {
      {"Admin_Basic", "adm_b_db"},   {"CDist_Basic", "cdi_b_db"},    {"Encoder_QZ5", "enc_r_db"},
      {"Encoder_Basic", "enc_b_db"}, {"Encoder_Digest", "enc_w_db"}, {"Content_QZ5", "con_r_db"},
      {"PlayerContent", "con_p_db"},
  };
  t.Line("<!-- D A T A B A S E S -->");
  t.Line("<List Name=\"Databases\">");
  for (const Database& d : kDatabases) {
    t.Line("    <List Name=\"%s\">", d.szList);
    t.Line("        <Var PluginID=\"qz-db-flatfile\"/>");
    t.Line("        <Var Path=\"%s%s\"/>", p, d.szFolder);
    t.Line("    </List>");
  }
  t.EmptyLine();
  t.Line("</List>");
  t.EmptyLine();

  t.Line("<!-- V I E W  S O U R C E -->");
  t.Line("<List Name=\"ViewSourceConfiguration\">");
  t.Line("    <Var ViewSourceLongName=\"View Source Tag FileSystem\"/>");
  t.Line("    <List Name=\"/\">");
  t.Line("        <Var AllowViewSource=\"1\"/>");
  t.Line("        <Var HidePaths=\"1\"/>");
  t.Line("    </List>");
  t.Line("</List>");

  t.Line("<!-- C O N T E N T  B R O W S I N G -->");
  t.Line("<List Name=\"ContentBrowsing\">");
  t.Line("    <List Name=\"BrowsableMountPoints\">");
  t.Line("        <Var Mount_1=\"/\"/>");
  t.Line("    </List>");
  t.Line("    <List Name=\"IndexExtensions\">");
  t.Line("        <Var Ext_1=\"*\"/>");
  t.Line("    </List>");
  t.Line("</List>");

  WriteFileSystems(t, p, adminRealm, encoderRealm, rbsEncoderRealm, wmEncoderRealm,
                   preK7EncoderPassword);

  t.Line("<!-- C A C H I N G -->");
  t.Line("<Var TSPort=\"7802\"/>");
  t.Line("<Var TSEnable=\"1\"/>");
  t.Line("<Var TSLog=\"1\"/>");
  t.Line("<Var TSLogPath=\"%sLogs%ccache.log\"/>", p, kSlash);
  t.EmptyLine();

  t.Line("<!-- M U L T I C A S T -->");
  t.Line("<List Name=\"Multicast\">");
  t.Line("    <List Name=\"ControlList\">");
  t.Line("        <List Name=\"100\">");
  t.Line("            <Var Allow=\"Any\"/>");
  t.Line("            <Var Description=\"Allow all connections\"/>");
  t.Line("        </List>");
  t.Line("    </List>");
  t.Line("</List>");
  t.EmptyLine();

  t.Line("<!-- Windows Media Multicast -->");
  t.Line("<List Name=\"Windows Media Multicast\">");
  t.Line("    <Var NSCFilePath=\"%sContent%cnscfile\"/>", p, kSlash);
  t.Line("    <List Name=\"Channels\">");
  t.Line("    </List>");
  t.Line("</List>");
  t.EmptyLine();

  t.Line("<!-- Broadcast Redundancy -->");
  t.Line("<List Name=\"ZephraSystem Broadcast Redundancy Plugin\">");
  t.Line("    <Var Enabled=\"1\"/>");
  t.Line("    <Var SeparatorCharacter=\".\"/>");
  t.Line("    <Var LiveSourceTimeout=\"5\"/>");
  t.Line("    <Var Reconnect=\"Auto\"/>");
  t.Line("    <Var ErrorMessage=\"Broadcast timed out; click Play button to restart.\"/>");
  t.Line("</List>");

  // These two lists indent their contents by five blanks.
  t.Line("<!-- B R O A D C A S T  D I S T R I B U T I O N -->");
  t.Line("<!--          T R A N S M I T T E R             -->");
  t.Line("<List Name=\"BroadcastDistribution\">");
  t.Line("     <Var SourceName=\"%s\"/>", sourceName);
  t.Line("</List>");
  t.Line("<!--              R E C E I V E R               -->");
  t.Line("<List Name=\"BroadcastReceiver\">");
  t.Line("     <List Name=\"Receivers\">");
  t.Line("     </List>");
  t.Line("</List>");

  t.Line("<!-- M E D I A   E X P O R T   I N T E R F A C E -->");
  t.Line("<List Name=\"MediaExportInterface\">");
  t.Line("    <Var ContentPublisher=\"1\"/>");
  t.Line("    <Var AuthenticationRealm=\"%s\"/>", cdistRealm);
  t.Line("</List>");

  t.Line("<!--    M E D I A   C A C H E    -->");
  t.Line("<List Name=\"QZCache\">");
  t.Line("    <Var Enabled=\"1\"/>");
  t.Line("    <Var MaxCacheSizeMB=\"1000\"/>");
  t.Line("    <Var CacheMountPoint=\"/fsforcache/\"/>");
  t.Line("</List>");

  t.Line("<!--   C O N T E N T   S U B S C R I P T I O N  -->");
  t.Line("<List Name=\"ContentSubscription\">");
  t.Line("    <Var Enabled=\"0\"/>");
  t.Line("    <Var StatisticAggregationPeriodSec=\"10\"/>");
  t.Line("    <List Name=\"Rules\">");
  t.Line("    </List>");
  t.Line("    <List Name=\"Publishers\">");
  t.Line("    </List>");
  t.Line("</List>");
  t.EmptyLine();

  t.Line("<!--   A C C E S S   C O N T R O L  -->");
  t.Line("<List Name=\"AccessControl\">");
  t.Line("    <List Name=\"100\">");
  t.Line("        <Var Description=\"Allow localhost access (do not edit)\"/>");
  t.Line("        <Var Access=\"Allow\"/>");
  t.Line("        <Var From=\"localhost\"/>");
  t.Line("        <Var To=\"any\"/>");
  t.Line("        <List Name=\"Ports\">");
  t.Line("            <Var Port_1=\"any\"/>");
  t.Line("        </List>");
  t.Line("    </List>");
  t.Line("    <List Name=\"200\">");
  t.Line("        <Var Description=\"Allow all other connections\"/>");
  t.Line("        <Var Access=\"Allow\"/>");
  t.Line("        <Var From=\"any\"/>");
  t.Line("        <Var To=\"any\"/>");
  t.Line("        <List Name=\"Ports\">");
  t.Line("            <Var Port_1=\"any\"/>");
  t.Line("        </List>");
  t.Line("    </List>");
  t.Line("</List>");
  t.EmptyLine();

  WriteLoggingTemplates(t, ServerVersion::ProductName());

  t.Line("<!-- R E D U N D A N T   S E R V E R S -->");
  t.Line("<List Name=\"ServerAlternates\">");
  t.Line("    <List Name=\"Alternates\">");
  t.Line("    </List>");
  t.Line("    <List Name=\"RedirectRules\">");
  t.Line("    </List>");
  t.Line("    <List Name=\"ExcludePaths\">");
  t.Line("    </List>");
  t.Line("</List>");
  t.EmptyLine();

  return t.Text();
}
