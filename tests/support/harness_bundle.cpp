// Property lists and throwaway bundles around a copy of the built executable.
#include <plist/plist.h>
#include <sys/stat.h>

#include <stdexcept>

#include "harness.h"

namespace harness {

PlistNode::PlistNode(plist_t node) : node_(node) {
  if (node_ == nullptr) throw std::runtime_error("libplist returned no node");
}

PlistNode::PlistNode(const PlistNode& other) : node_(other.copy()) {}

PlistNode& PlistNode::operator=(const PlistNode& other) {
  if (this != &other) {
    plist_t fresh = other.copy();
    plist_free(node_);
    node_ = fresh;
  }
  return *this;
}

PlistNode::~PlistNode() { plist_free(node_); }

plist_t PlistNode::copy() const { return plist_copy(node_); }

PlistNode plistString(std::string_view text) { return PlistNode(plist_new_string(std::string(text).c_str())); }
PlistNode plistInteger(std::uint64_t value) { return PlistNode(plist_new_uint(value)); }
PlistNode plistReal(double value) { return PlistNode(plist_new_real(value)); }
PlistNode plistBoolean(bool value) { return PlistNode(plist_new_bool(value ? 1 : 0)); }
PlistNode plistDate(std::int32_t secondsSince2001) { return PlistNode(plist_new_date(secondsSince2001, 0)); }
PlistNode plistData(std::string_view bytes) { return PlistNode(plist_new_data(bytes.data(), bytes.size())); }

PlistNode plistArray(const std::vector<PlistNode>& items) {
  PlistNode array(plist_new_array());
  for (const auto& item : items) plist_array_append_item(array.get(), item.copy());
  return array;
}

PlistNode plistDict(const PlistDict& entries) {
  PlistNode dict(plist_new_dict());
  for (const auto& [key, value] : entries) plist_dict_set_item(dict.get(), key.c_str(), value.copy());
  return dict;
}

std::string serializePlist(const PlistNode& node, PlistFormat format) {
  char* bytes = nullptr;
  uint32_t length = 0;
  std::string out;
  if (format == PlistFormat::xml) {
    plist_to_xml(node.get(), &bytes, &length);
    if (bytes) out.assign(bytes, length);
    plist_to_xml_free(bytes);
  } else {
    plist_to_bin(node.get(), &bytes, &length);
    if (bytes) out.assign(bytes, length);
    plist_to_bin_free(bytes);
  }
  if (out.empty()) throw std::runtime_error("libplist could not serialise the property list");
  return out;
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
  writeFile(bundle.executable, readFile(SUPPORT_DRAFT_EXECUTABLE), 0755);
  return bundle;
}

void writeInfo(const Bundle& bundle, const PlistDict& keys, PlistFormat format) {
  writeInfoBytes(bundle, serializePlist(plistDict(keys), format));
}

void writeInfoBytes(const Bundle& bundle, std::string_view bytes) { writeFile(bundle.infoPlist, bytes, 0644); }

void writeResource(const Bundle& bundle, std::string_view name, std::string_view text) {
  writeFile(bundle.resources / name, text, 0644);
}

void copyBuiltResource(const Bundle& bundle, std::string_view name) {
  fs::path built = fs::path(SUPPORT_DRAFT_BUNDLE) / "Contents/Resources" / name;
  writeResource(bundle, name, readFile(built));
}

const std::string_view kSucceedingMailScript =
    "-- Stands in for the real mail draft script: opens nothing.\n"
    "on makeSupportDraft(subjectText, bodyText, logPath)\n"
    "\treturn \"draft_opened\"\n"
    "end makeSupportDraft\n";

}  // namespace harness
