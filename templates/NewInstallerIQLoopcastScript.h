#ifndef STRATA_TEMPLATES_NEWINSTALLERIQLOOPCASTSCRIPT_H_
#define STRATA_TEMPLATES_NEWINSTALLERIQLOOPCASTSCRIPT_H_

// Template of Bin/loopcast.sh, the wrapper of the broadcast-simulation tool.
class NewInstallerIQLoopcastScript {
 public:
  // Returns the script text for the installation directory (inserted as it
  // is). The text lives in a buffer of this function that the next call
  // rebuilds, so it stays valid until then.
  static char* CreateScriptFile(const char* installDir);
};

#endif  // STRATA_TEMPLATES_NEWINSTALLERIQLOOPCASTSCRIPT_H_
