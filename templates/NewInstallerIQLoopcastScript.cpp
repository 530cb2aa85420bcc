#include "templates/NewInstallerIQLoopcastScript.h"

#include <vector>

#include "product/ServerVersion.h"
#include "templates/TemplateText.h"

namespace {

const char kToolName[] = "LOOPCAST";

// Echoed inside single quotes behind the tool's name, so it holds none.
const char kNotice[] = "(C) Copyright 2001 ZephraNetworks, Inc. All rights reserved.";

}  // namespace

char* NewInstallerIQLoopcastScript::CreateScriptFile(const char* installDir) {
  static std::vector<char> szBuf;
  TemplateText t(&szBuf);

  // Inserted as it is: a trailing slash stays and doubles before Plugins.
  const char* dir = TextOrEmpty(installDir);
  const char* product = ServerVersion::ProductName();

  t.Line("#!/bin/sh");
  t.Line("# LOOPCAST Helper Batch Script");
  t.Line("# version 1.0 2001/08/17");
  t.EmptyLine();
  t.EmptyLine();
  t.Line("echo LOOPCAST - Live Broadcast Simulation Utility");
  t.Line("echo");
  t.EmptyLine();
  t.EmptyLine();
  t.Line("#");
  t.Line("# setting environment variables");
  t.Line("#");
  t.Line("# NOTE: change these environment variables if the server configuration");
  t.Line("#       variables have changed");
  t.Line("#");
  t.EmptyLine();
  t.EmptyLine();
  t.Line("LOOPCAST_PLUGIN_PATH=%s/Plugins", dir);
  t.Line("export LOOPCAST_PLUGIN_PATH");
  t.Line("LOOPCAST_SUPPORT_PATH=%s/Lib", dir);
  t.Line("export LOOPCAST_SUPPORT_PATH");
  t.EmptyLine();
  t.EmptyLine();

  t.Line("DoAdvanced()");
  t.Line("{");
  t.Line("    #");
  t.Line("    # Advanced Mode");
  t.Line("    # checking for missing command line options");
  t.Line("    #");
  t.Line("    if [ \"$#\" -ge \"4\" ]");
  t.Line("    then");
  t.Line("        echo Executing LOOPCAST with");
  t.Line("        echo config_file=$2, live_file=$3, playlist_file=$4 ");
  t.Line("        echo");
  t.Line("        DoRunApp  $*");
  t.Line("    else");
  t.Line("        DoOptions");
  t.Line("    fi");
  t.Line("    exit");
  t.Line("}");
  t.EmptyLine();

  t.Line("DoBasic()");
  t.Line("{");
  t.Line("    #");
  t.Line("    # Basic Mode");
  t.Line("    # checking for missing command line options");
  t.Line("    #");
  t.Line("    if [ \"$#\" -ge \"6\" ]");
  t.Line("    then");
  t.Line("        echo Executing LOOPCAST with");
  t.Line("        echo host=$1, port=$2, userid=$3, password=$4");
  t.Line("        echo live_file=$5, playlist_file=$6");
  t.Line("        echo");
  t.Line("        DoRunApp  $*");
  t.Line("    else");
  t.Line("        DoOptions");
  t.Line("    fi");
  t.Line("    exit");
  t.Line("}");
  t.EmptyLine();

  t.Line("DoRunApp()");
  t.Line("{");
  t.Line("    #");
  t.Line("    # executing LOOPCAST utility with command line options");
  t.Line("    #");
  t.Line("    \"%s/Bin/loopcast\"  $* ", dir);
  t.Line("    exit");
  t.Line("}");
  t.EmptyLine();

  t.Line("DoOptions()");
  t.Line("{");
  t.Line("    #");
  t.Line("    # displaying command line options");
  t.Line("    #");
  t.Line("    echo '%s %s'", kToolName, kNotice);
  t.Line("    echo");
  t.Line("    echo Usage:");
  t.Line("    echo '      Basic mode:'");
  t.Line(
      "    echo '      host port userid password live_file playlist_file [-t] [-r] [-nN] "
      "[-bN] [-e] [-f] [-w]'");
  t.Line("    echo");
  t.Line("    echo '      Advanced mode:'");
  t.Line(
      "    echo '      -c config_file live_file playlist_file [-r] [-nN] [-bN] [-e] [-f] "
      "[-w]'");
  t.Line("    echo");
  t.Line("    echo '      -t: tcp.'");
  t.Line("    echo '      -r: random.'");
  t.Line("    echo '      -nN: play N files, then exit.'");
  t.Line("    echo '      -bN: target stream bandwidth of n bps'");
  t.Line("    echo '      -e: disable event stream for title, author and copyright updates'");
  t.Line("    echo '      -f: force event stream for title, author and copyright updates'");
  t.Line("    echo '      -w: enable wallclock synchronization with other streams'");
  t.Line("    echo '      Playlist file has the format:'");
  t.Line("    echo '      file1'");
  t.Line("    echo '      file2'");
  t.Line("    echo");
  t.Line("    echo LOOPCAST requires that two environment variables, LOOPCAST_PLUGIN_PATH and");
  t.Line("    echo LOOPCAST_SUPPORT_PATH, be set.  These variables reference the Plugins and");
  t.Line("    echo the LibrarySupportPath variables specified in your %s\\'s", product);
  t.Line("    echo configuration file \\( i.e. qmserver.cfg \\).  If you change these values in");
  t.Line("    echo your server configuration file, you must also modify them in this script.");
  t.Line("    echo");
  t.Line("    echo Refer to %s Administration Guide for more information ", product);
  t.Line("    echo regarding LOOPCAST.");
  t.Line("    echo");
  t.Line("    exit");
  t.Line("}");
  t.EmptyLine();
  t.EmptyLine();

  t.Line("#");
  t.Line("# checking which mode we're in");
  t.Line("#");
  t.Line("if [ \"$1\" = \"-c\" ]");
  t.Line("then");
  t.Line("    DoAdvanced  $*");
  t.Line("else");
  t.Line("    DoBasic  $*");
  t.Line("fi");
  t.EmptyLine();
  t.Line("exit");

  return t.Text();
}
