#ifndef STRATA_DRIVER_SETTINGS_SETUPOPTIONS_H_
#define STRATA_DRIVER_SETTINGS_SETUPOPTIONS_H_

#include <string>
#include <vector>

// The options that setup answers itself, taken out of the command line
// before the framework reads the rest: "--check" (check and plan only),
// "--reinstall" (install even over the same installation),
// "--take-new-config" (the new configuration files replace those the
// administrator changed, which are kept as NAME.saved) and the help
// ("--help", "-h", "/?"), which the framework would answer with a bare usage
// line. They are known wherever they stand, as the framework knows its own
// help and silent forms (it takes no option's value that begins with "-");
// every other argument stays, in its order.
class SetupOptions {
 public:
  SetupOptions(int argc, const char** argv);

  SetupOptions(const SetupOptions&) = delete;
  SetupOptions& operator=(const SetupOptions&) = delete;

  bool Check() const { return m_bCheck; }
  bool Reinstall() const { return m_bReinstall; }
  bool TakeNewConfig() const { return m_bTakeNewConfig; }
  bool Help() const { return m_bHelp; }

  // The rest of the command line, argv[0] first, for ParseCmdLine.
  int Argc() const { return static_cast<int>(m_rest.size()); }
  const char** Argv() { return m_rest.data(); }

 private:
  bool m_bCheck;
  bool m_bReinstall;
  bool m_bTakeNewConfig = false;
  bool m_bHelp;
  std::vector<const char*> m_rest;
};

#endif  // STRATA_DRIVER_SETTINGS_SETUPOPTIONS_H_
