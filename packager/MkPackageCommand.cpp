#include "packager/MkPackageCommand.h"

#include <string.h>
#include <sys/stat.h>

#include <vector>

#include "package/Checksum.h"
#include "packager/ArchiveType.h"
#include "packager/PackageBuilder.h"
#include "packager/PackageInspector.h"
#include "packager/Progress.h"
#include "product/ServerVersion.h"

namespace {

const char kProgram[] = "mkpackage";

struct Option {
  const char* name;
  bool takesValue;  // as "--type bz2" or "--type=bz2"
};

// The option called name, or null.
const Option* FindOption(const std::string& name) {
  static const Option kOptions[] = {
      {"--type", true},
      {"--decompressor", true},
      {"--launcher", true},
      {"--checksum", true},
      {"--info", true},
      {"--list", true},
      {"--help", false},
      {"--version", false},
      {"--no-decompressor", false},
      {"--no-checksum", false},
      {"--sign", true},
      {"--package", true},
      {"--verify", true},
      {"--pubkey", true},
      {"-P", true},
      {"--password-file", true},
      {"--generate-key", true},
      {"--no-password", false},
      {"--long", false},
      {"--no-second-stage", false},
  };
  for (const Option& option : kOptions) {
    if (name == option.name)
      return &option;
  }
  return nullptr;
}

// The status of a phase that has not ended the command.
const int kGoOn = -1;

}  // namespace

// Everything the command line says, gathered before anything is done.
struct MkPackageCommand::CommandLine {
  BuildOptions build;
  SignOptions sign;
  std::vector<std::string> operands;
  std::string info, list;
  bool inspect = false;
  bool buildOption = false;
  bool decompressorGiven = false, noDecompressor = false;
  bool checksumGiven = false, noChecksum = false;
};

int MkPackageCommand::Run(int argc, const char* const* argv) {
  CommandLine line;
  int status = Parse(argc, argv, &line);
  if (status != kGoOn)
    return status;
  SignOptions::Mode mode;
  status = CheckCombination(line, &mode);
  if (status != kGoOn)
    return status;
  return Dispatch(&line, mode);
}

int MkPackageCommand::Parse(int argc, const char* const* argv, CommandLine* line) {
  bool endOfOptions = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (endOfOptions || arg == "-" || arg.empty() || arg[0] != '-') {
      line->operands.push_back(arg);
      continue;
    }
    if (arg == "--") {
      endOfOptions = true;
      continue;
    }
    std::string name = arg, value;
    size_t equals = arg.find('=');
    bool inlineValue = arg.compare(0, 2, "--") == 0 && equals != std::string::npos;
    if (inlineValue) {
      name = arg.substr(0, equals);
      value = arg.substr(equals + 1);
    }
    const Option* option = FindOption(name);
    if (option == nullptr)
      return UsageError("unknown option '" + arg + "'");
    if (!option->takesValue && inlineValue)
      return UsageError("option '" + name + "' takes no value");
    if (option->takesValue && !inlineValue) {
      if (i + 1 >= argc)
        return UsageError("option '" + name + "' needs a value");
      value = argv[++i];
    }
    int status = TakeOption(name, value, line);
    if (status != kGoOn)
      return status;
  }
  return kGoOn;
}

int MkPackageCommand::TakeOption(const std::string& name, const std::string& value,
                                 CommandLine* line) {
  std::string problem;
  if (name == "--help") {
    PrintHelp();
    return kSuccess;
  }
  if (name == "--version") {
    PrintVersion();
    return kSuccess;
  }
  if (name == "--info" || name == "--list") {
    if (line->inspect)
      return UsageError("give only one of --info and --list");
    line->inspect = true;
    (name == "--info" ? line->info : line->list) = value;
    return kGoOn;
  }
  if (line->sign.Take(name, value, &problem))
    return problem.empty() ? kGoOn : UsageError(problem);
  return TakeBuildOption(name, value, line);
}

int MkPackageCommand::TakeBuildOption(const std::string& name, const std::string& value,
                                      CommandLine* line) {
  BuildOptions& options = line->build;
  line->buildOption = true;
  if (name == "--type") {
    if (!FindArchiveType(value))
      return UsageError("unknown archive type '" + value + "' (the types are " +
                        ArchiveTypeNames() + ")");
    options.type = value;
  } else if (name == "--decompressor") {
    if (value.empty())
      return UsageError("option '--decompressor' needs a program");
    line->decompressorGiven = true;
    options.decompressorChoice = BuildOptions::kGivenDecompressor;
    options.decompressor = value;
  } else if (name == "--no-decompressor") {
    line->noDecompressor = true;
    options.decompressorChoice = BuildOptions::kNoDecompressor;
  } else if (name == "--launcher") {
    if (value.empty())
      return UsageError("option '--launcher' needs a file");
    options.launcher = value;
  } else if (name == "--checksum") {
    if (!Checksum::KindFromName(value, &options.checksumKind))
      return UsageError("unknown checksum kind '" + value +
                        "' (the kinds are sha256, xxh3-128 and none)");
    line->checksumGiven = true;
  } else if (name == "--no-checksum") {
    line->noChecksum = true;
    options.checksumKind = kChecksumNone;
  } else if (name == "--long") {
    options.longWindow = true;
  } else if (name == "--no-second-stage") {
    options.noSecondStage = true;
  }
  return kGoOn;
}

int MkPackageCommand::CheckCombination(const CommandLine& line, SignOptions::Mode* mode) {
  std::string problem;
  if (line.decompressorGiven && line.noDecompressor)
    return UsageError("give only one of --decompressor and --no-decompressor");
  if (line.checksumGiven && line.noChecksum)
    return UsageError("give only one of --checksum and --no-checksum");
  if (!line.sign.Choose(!line.info.empty(), !line.list.empty(),
                        line.buildOption || !line.operands.empty(), mode, &problem))
    return UsageError(problem);
  if (*mode == SignOptions::kSignPackage || *mode == SignOptions::kVerify ||
      *mode == SignOptions::kGenerateKey)
    return kGoOn;
  if (line.inspect) {
    if (line.buildOption || !line.operands.empty())
      return UsageError(std::string(line.info.empty() ? "--list" : "--info") +
                        " takes a package and nothing else");
    return kGoOn;
  }
  if (line.operands.size() < 2)
    return UsageError(line.operands.empty() ? "missing ARCHIVE and OUTPUT" : "missing OUTPUT");
  if (line.operands.size() > 2)
    return UsageError("too many operands, from '" + line.operands[2] + "' on");
  if (line.build.longWindow && line.build.type != "tzst")
    return UsageError("--long goes only with --type tzst");
  return kGoOn;
}

int MkPackageCommand::Dispatch(CommandLine* line, SignOptions::Mode mode) {
  if (mode == SignOptions::kSignPackage || mode == SignOptions::kVerify ||
      mode == SignOptions::kGenerateKey)
    return Sign(line->sign, mode);
  if (line->inspect)
    return line->info.empty() ? List(line->list) : Info(line->info, line->sign);
  line->build.archive = line->operands[0];
  line->build.output = line->operands[1];
  if (mode != SignOptions::kBuildAndSign)
    return Build(line->build, nullptr);
  // The key is opened first: a wrong password then costs no build.
  SignCommand signer(line->sign);
  signer.SetProgress(&m_progress);
  std::string error;
  if (!signer.OpenSecretKey(&error))
    return Failure(error);
  return Build(line->build, &signer);
}

int MkPackageCommand::Build(const BuildOptions& options, SignCommand* signer) {
  PackageBuilder builder(options);
  builder.SetProgress(&m_progress);
  std::string error;
  bool ok = builder.Build(&error);
  for (const std::string& warning : builder.Warnings())
    fprintf(m_pErr, "%s: warning: %s\n", kProgram, warning.c_str());
  if (!ok)
    return Failure(error);
  const std::string signature = SignCommand::SignaturePath(options.output);
  if (signer) {
    if (!signer->SignPackage(options.output, &error))
      return Failure(error + " (" + options.output + " was built but not signed)");
    fprintf(m_pOut, "Signed %s into %s\n", options.output.c_str(), signature.c_str());
  } else {
    // A signature of the very same bytes still fits them.
    struct stat st;
    if (lstat(signature.c_str(), &st) == 0 && !builder.SameAsBefore())
      fprintf(m_pErr, "%s: warning: %s does not sign the new package; sign it again or remove it\n",
              kProgram, signature.c_str());
  }
  const PackageRecord& record = builder.Written();
  std::string checksum = Checksum::KindName(record.checksumKind);
  if (record.checksumKind != kChecksumNone)
    checksum += " " + Checksum::ToHex(record.checksum, Checksum::DigestSize(record.checksumKind));
  fprintf(m_pOut, "Wrote %s (%s, %s, checksum %s)\n", options.output.c_str(),
          MegabytesText(builder.WrittenSize()).c_str(), record.archiveType, checksum.c_str());
  return kSuccess;
}

int MkPackageCommand::Sign(const SignOptions& sign, SignOptions::Mode mode) {
  SignCommand command(sign);
  command.SetProgress(&m_progress);
  std::string report, error;
  bool ok = false;
  if (mode == SignOptions::kSignPackage) {
    ok = command.OpenSecretKey(&error) && command.SignPackage(sign.package, &error);
  } else if (mode == SignOptions::kVerify) {
    ok = command.Verify(&report, &error);
  } else {
    ok = command.GenerateKey(&report, &error);
  }
  if (!ok)
    return Failure(error);
  fputs(report.c_str(), m_pOut);
  return kSuccess;
}

int MkPackageCommand::Info(const std::string& path, const SignOptions& sign) {
  PackageInspector inspector;
  std::string error;
  if (!inspector.Open(path, &error))
    return Failure(error);
  const PackageRecord& record = inspector.Record();
  fprintf(m_pOut, "Package:       %s\n", path.c_str());
  fprintf(m_pOut, "Launcher:      %llu bytes\n",
          static_cast<unsigned long long>(inspector.LauncherLength()));
  fprintf(m_pOut, "Decompressor:  %ld bytes\n", static_cast<long>(record.extractorLength));
  fprintf(m_pOut, "Archive:       %ld bytes\n", static_cast<long>(record.archiveLength));
  if (record.unpackedSize == 0)
    fprintf(m_pOut, "Unpacked:      not recorded\n");
  else
    fprintf(m_pOut, "Unpacked:      %llu bytes\n",
            static_cast<unsigned long long>(record.unpackedSize));
  fprintf(m_pOut, "Type:          %s\n", record.archiveType);
  if (record.checksumKind == kChecksumNone) {
    fprintf(m_pOut, "Checksum:      none\n");
  } else {
    fprintf(m_pOut, "Checksum:      %s %s\n", Checksum::KindName(record.checksumKind),
            Checksum::ToHex(record.checksum, Checksum::DigestSize(record.checksumKind)).c_str());
  }
  PackageInspector::Verdict verdict;
  std::string actual;
  if (!inspector.Verify(&verdict, &actual, &error))
    return Failure(error);
  std::string damage;
  switch (verdict) {
    case PackageInspector::kVerified:
      fprintf(m_pOut, "Verified:      yes\n");
      break;
    case PackageInspector::kNoChecksum:
      fprintf(m_pOut, "Verified:      no checksum recorded\n");
      break;
    case PackageInspector::kWrongStart:
      fprintf(m_pOut, "Verified:      no checksum recorded\n");
      damage = path + ": the archive piece does not start as a " + record.archiveType +
               " archive does (is the package cut short or damaged?)";
      break;
    case PackageInspector::kMismatch:
      fprintf(m_pOut, "Verified:      no, the pieces give %s\n", actual.c_str());
      damage = path + ": the pieces do not match the recorded checksum";
      break;
  }
  std::string line;
  bool signatureOk = SignCommand(sign).InfoLine(path, &line, &error);
  fprintf(m_pOut, "Signature:     %s\n", line.c_str());
  if (!damage.empty())
    Failure(damage);
  if (!signatureOk)
    Failure(error);
  return damage.empty() && signatureOk ? kSuccess : kFailure;
}

int MkPackageCommand::List(const std::string& path) {
  PackageInspector inspector;
  std::string listing, error;
  if (!inspector.Open(path, &error) || !inspector.List(&listing, &error))
    return Failure(error);
  fwrite(listing.data(), 1, listing.size(), m_pOut);
  return kSuccess;
}

int MkPackageCommand::UsageError(const std::string& message) {
  fprintf(m_pErr, "%s: %s\nTry '%s --help' for more information.\n", kProgram, message.c_str(),
          kProgram);
  return kUsageError;
}

int MkPackageCommand::Failure(const std::string& message) {
  fprintf(m_pErr, "%s: %s\n", kProgram, message.c_str());
  return kFailure;
}

void MkPackageCommand::PrintHelp() {
  fprintf(m_pOut,
          "Usage: %s [OPTION]... ARCHIVE OUTPUT\n"
          "  or:  %s --info PACKAGE\n"
          "  or:  %s --list PACKAGE\n"
          "  or:  %s --sign KEY [--password-file FILE] --package PACKAGE\n"
          "  or:  %s --verify PACKAGE (--pubkey FILE | -P KEY)\n"
          "  or:  %s --generate-key NAME [--password-file FILE | --no-password]\n"
          "Assemble the self-extracting installation package OUTPUT from the stage-one\n"
          "launcher, a decompressor program and ARCHIVE, which is a compressed archive\n"
          "file or a directory to pack.\n"
          "\n"
          "Options:\n"
          "  --type TYPE             archive type: %s (default bz2)\n"
          "  --decompressor PROGRAM  carry PROGRAM as the decompressor; a name without\n"
          "                          \"/\" is looked up on PATH (default: strata-bunzip2\n"
          "                          for bz2, strata-unzstd for tzst)\n"
          "  --no-decompressor       carry no decompressor (types tgz and tz only)\n"
          "  --launcher FILE         the stage-one launcher (default: the one that came\n"
          "                          with %s, in ../libexec/strata/ or beside it)\n"
          "  --checksum KIND         digest of the pieces: sha256, xxh3-128 or none\n"
          "                          (default %s)\n"
          "  --no-checksum           record no digest\n"
          "  --long                  tzst from a directory: zstd's long window of 128 MiB,\n"
          "                          a percent or two smaller, up to half again as slow\n"
          "                          to unpack on every server (default: zstd's own)\n"
          "  --no-second-stage       the product has no Bin/setup, and that is meant\n"
          "  --info PACKAGE          print the record of PACKAGE and verify its pieces\n"
          "  --list PACKAGE          list the members of PACKAGE's archive\n"
          "  --help                  print this help and exit\n"
          "  --version               print the version and exit\n"
          "\n"
          "Signing, in minisign's formats:\n"
          "  --sign KEY              sign OUTPUT (or the PACKAGE of --package) with the\n"
          "                          secret key file KEY into OUTPUT.minisig\n"
          "  --package PACKAGE       with --sign: sign this existing package\n"
          "  --password-file FILE    the secret key's password is the first line of FILE\n"
          "                          (default: ask on the terminal)\n"
          "  --verify PACKAGE        check PACKAGE.minisig with the public key\n"
          "  --pubkey FILE           the public key file, for --verify and --info\n"
          "  -P KEY                  the public key as base64 text, as minisign -P takes it\n"
          "  --generate-key NAME     write a new key pair NAME.key and NAME.pub (mode 0600)\n"
          "  --no-password           with --generate-key: leave NAME.key unencrypted\n"
          "\n"
          "A directory is packed as a tar archive (type bz2, tgz or tzst) whose\n"
          "members are \"./\" paths sorted by name, owned by 0:0 and dated 2000-01-01\n"
          "00:00:00 UTC, so that the same directory always gives the same package.\n"
          "tzst keeps zstd's own window at level 19, which unpacks fastest.\n"
          "\n"
          "The product must hold the second stage Bin/setup (or Bin/setup.sh, .pl or\n"
          ".py), unless --no-second-stage. A Bin/setup that is a program must find the\n"
          "password databases adm_b_db, enc_r_db, enc_b_db, enc_w_db and cdi_b_db that\n"
          "its installation writes into; one that is dynamically linked or carries\n"
          "debug information is packed with a warning (the build's setup is static\n"
          "and stripped). The last line names the package written, its size, type\n"
          "and checksum; on a terminal, long steps show their progress.\n"
          "\n"
          "A secret key file that others may read is refused.\n"
          "\n"
          "Exit status: 0 on success, 1 on failure (--info: also when the pieces do\n"
          "not verify; --info and --verify: also when the signature does not), 2 for a\n"
          "wrong command line.\n",
          kProgram, kProgram, kProgram, kProgram, kProgram, kProgram, ArchiveTypeNames().c_str(),
          kProgram, Checksum::KindName(kDefaultChecksumKind));
}

void MkPackageCommand::PrintVersion() {
  fprintf(m_pOut, "%s (%s) %s\n", kProgram, ServerVersion::FullProductName(),
          ServerVersion::VersionString());
}
