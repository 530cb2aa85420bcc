#include "launcher/PackageReport.h"

#include "common/Format.h"
#include "package/Checksum.h"
#include "product/PackageInfo.h"
#include "product/ServerVersion.h"

namespace {

std::string Line(const char* name, const std::string& value) {
  return FormatText("%-15s%s\n", (std::string(name) + ":").c_str(), value.c_str());
}

std::string Bytes(int64_t count) {
  return FormatText("%lld bytes", static_cast<long long>(count));
}

std::string VerdictText(const PackageFacts& facts) {
  switch (facts.verdict) {
    case PackageFacts::kVerified:
      return "yes";
    case PackageFacts::kNoChecksum:
      return "no checksum recorded";
    case PackageFacts::kMismatch:
      return "no, the pieces give " + facts.actual;
    case PackageFacts::kUnknownKind:
      return "no, the checksum kind is unknown to this launcher";
    case PackageFacts::kDoesNotFit:
      return "no, the file is shorter than its record says";
    case PackageFacts::kUnreadable:
      return "no, the pieces cannot be read (" + facts.actual + ")";
  }
  return std::string();
}

std::string SignatureText(const PackageFacts& facts) {
  const std::string signature = facts.path + ".minisig";
  switch (facts.signature) {
    case PackageFacts::kNoSignature:
      break;
    case PackageFacts::kSignatureFile:
      return signature + ", not checked (check it with minisign -Vm " + facts.path + " -P KEY)";
    case PackageFacts::kOtherFile:
      return signature + ", not a regular file";
  }
  return "none";
}

}  // namespace

std::string PackageReport(const PackageFacts& facts) {
  const PackageRecord& record = facts.record;
  std::string text = Line("Package", facts.path);
  text += Line("Product", PackageInfo::Name());
  text += Line("Version",
               FormatText("%s (%s)", ServerVersion::ReleaseName(), ServerVersion::VersionString()));
  text += Line("Size", Bytes(facts.fileSize));
  if (facts.verdict != PackageFacts::kDoesNotFit) {
    text += Line("Launcher",
                 Bytes(facts.fileSize - int64_t{record.archiveLength} - record.extractorLength));
  }
  text += Line("Decompressor", Bytes(record.extractorLength));
  text += Line("Archive", Bytes(record.archiveLength));
  text +=
      Line("Unpacked", record.unpackedSize == 0 ? std::string("not recorded")
                                                : Bytes(static_cast<int64_t>(record.unpackedSize)));
  text += Line("Type", record.archiveType);
  if (record.checksumKind == kChecksumNone) {
    text += Line("Checksum", "none");
  } else {
    size_t size = Checksum::DigestSize(record.checksumKind);
    text += Line("Checksum", std::string(Checksum::KindName(record.checksumKind)) +
                                 (size == 0 ? "" : " " + Checksum::ToHex(record.checksum, size)));
  }
  text += Line("Verified", VerdictText(facts));
  text += Line("Signature", SignatureText(facts));
  return text;
}
