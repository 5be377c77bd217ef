// Property lists as XML text, and throwaway bundles around the built
// executable.
#include <sys/stat.h>

#include <cstdint>
#include <ctime>
#include <stdexcept>

#include "harness.h"

namespace harness {

namespace {

std::string element(std::string_view name, std::string_view text) {
  return "<" + std::string(name) + ">" + std::string(text) + "</" + std::string(name) + ">";
}

std::string escaped(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else out += c;
  }
  return out;
}

std::string base64(std::string_view bytes) {
  static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t at = 0; at < bytes.size(); at += 3) {
    std::uint32_t group = 0;
    for (std::size_t i = 0; i < 3; ++i) {
      group = group << 8 | (at + i < bytes.size() ? static_cast<unsigned char>(bytes[at + i]) : 0u);
    }
    for (std::size_t i = 0; i < 4; ++i) {
      out += i <= bytes.size() - at ? kDigits[(group >> (18 - 6 * i)) & 0x3F] : '=';
    }
  }
  return out;
}

}  // namespace

PlistValue plistString(std::string_view text) { return {element("string", escaped(text))}; }
PlistValue plistInteger(std::uint64_t value) { return {element("integer", std::to_string(value))}; }
PlistValue plistReal(double value) { return {element("real", std::to_string(value))}; }
PlistValue plistBoolean(bool value) { return {value ? "<true/>" : "<false/>"}; }
PlistValue plistData(std::string_view bytes) { return {element("data", base64(bytes))}; }

PlistValue plistDate(std::int32_t secondsSince2001) {
  constexpr std::time_t kEpoch2001 = 978'307'200;
  const std::time_t when = kEpoch2001 + secondsSince2001;
  std::tm parts{};
  char text[32];
  if (::gmtime_r(&when, &parts) == nullptr || std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts) == 0) {
    throw std::runtime_error("no date for " + std::to_string(secondsSince2001));
  }
  return {element("date", text)};
}

PlistValue plistArray(const std::vector<PlistValue>& items) {
  std::string xml;
  for (const auto& item : items) xml += item.xml;
  return {element("array", xml)};
}

PlistValue plistDict(const PlistDict& entries) {
  std::string xml;
  for (const auto& [key, value] : entries) xml += element("key", escaped(key)) + value.xml;
  return {element("dict", xml)};
}

std::string xmlPlist(const PlistDict& entries) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\">\n" +
         plistDict(entries).xml + "\n</plist>\n";
}

PlistDict standardInfoWithoutChannel() {
  return {
      {"CFBundleDisplayName", plistString("Quorvel Support Draft")},
      {"CFBundleIdentifier", plistString("com.quorvel.support-draft")},
      {"CFBundleExecutable", plistString("support-draft")},
      {"CFBundlePackageType", plistString("APPL")},
      {"LSUIElement", plistBoolean(true)},
  };
}

PlistDict standardInfo(std::string_view channel) {
  PlistDict keys = standardInfoWithoutChannel();
  keys.emplace_back("QuorvelChannel", plistString(channel));
  return keys;
}

Bundle makeBundle(const fs::path& dir) {
  Bundle bundle;
  bundle.root = dir / "SupportDraft.app";
  bundle.executable = bundle.root / "Contents/MacOS/support-draft";
  bundle.infoPlist = bundle.root / "Contents/Info.plist";
  bundle.resources = bundle.root / "Contents/Resources";
  makeDirectory(bundle.root, 0755);
  makeDirectory(bundle.root / "Contents", 0755);
  makeDirectory(bundle.root / "Contents/MacOS", 0755);
  makeDirectory(bundle.resources, 0755);
  placeProgram(SUPPORT_DRAFT_EXECUTABLE, bundle.executable);
  return bundle;
}

void writeInfo(const Bundle& bundle, const PlistDict& keys) { writeInfoBytes(bundle, xmlPlist(keys)); }

void writeInfoBytes(const Bundle& bundle, std::string_view bytes) { writeFile(bundle.infoPlist, bytes, 0644); }

void writeResource(const Bundle& bundle, std::string_view name, std::string_view text) {
  writeFile(bundle.resources / name, text, 0644);
}

void copyBuiltResource(const Bundle& bundle, std::string_view name) {
  fs::path built = fs::path(SUPPORT_DRAFT_BUNDLE) / "Contents/Resources" / name;
  writeResource(bundle, name, readFile(built));
}

void linkBuiltHelper(const Bundle& bundle, std::string_view name) {
  placeProgram(fs::path(SUPPORT_DRAFT_BUNDLE) / "Contents/MacOS" / name, bundle.root / "Contents/MacOS" / name);
}

const std::string_view kSucceedingMailScript =
    "-- Stands in for the real mail draft script: opens nothing.\n"
    "on makeSupportDraft(subjectText, bodyText, logPath)\n"
    "\treturn \"draft_opened\"\n"
    "end makeSupportDraft\n";

}  // namespace harness
