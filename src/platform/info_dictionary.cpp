#include "platform/info_dictionary.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

#include <plist/plist.h>

#include "platform/plist_limits.h"

namespace platform {
namespace {

struct PlistDeleter {
  void operator()(plist_t node) const { plist_free(node); }
};
using PlistHandle = std::unique_ptr<void, PlistDeleter>;

struct CharsDeleter {
  void operator()(char* p) const { std::free(p); }
};
using Chars = std::unique_ptr<char, CharsDeleter>;

// A bundle's information dictionary is small and shallow. Anything deeper or
// larger is not one, and reading it would only cost stack and memory inside
// the property-list library, so it is refused before the library sees it.
constexpr PlistLimits kLimits{
    .maxDepth = 64,
    .maxObjects = 1 << 16,
    .maxExpandedBytes = 4 << 20,
};
// The conversion below recurses too; the limits above already keep the tree
// this shallow, and the check keeps the recursion bounded on its own.
constexpr int kMaxDepth = kLimits.maxDepth;

constexpr std::string_view kBinaryMagic = "bplist00";

bool convert(plist_t node, int depth, PlistValue& out);

PlistArray convertArray(plist_t node, int depth) {
  PlistArray items;
  const uint32_t count = plist_array_get_size(node);
  for (uint32_t i = 0; i < count; ++i) {
    PlistValue item;
    if (convert(plist_array_get_item(node, i), depth + 1, item)) items.push_back(std::move(item));
  }
  return items;
}

PlistDict convertDict(plist_t node, int depth) {
  PlistDict entries;
  plist_dict_iter iter = nullptr;
  plist_dict_new_iter(node, &iter);
  if (iter == nullptr) return entries;
  for (;;) {
    char* rawKey = nullptr;
    plist_t value = nullptr;
    plist_dict_next_item(node, iter, &rawKey, &value);
    Chars key(rawKey);
    if (value == nullptr) break;
    PlistValue converted;
    if (key && convert(value, depth + 1, converted)) entries.emplace(key.get(), std::move(converted));
  }
  std::free(iter);
  return entries;
}

bool convert(plist_t node, int depth, PlistValue& out) {
  if (depth > kMaxDepth) return false;
  switch (plist_get_node_type(node)) {
    case PLIST_STRING: {
      // Read through the node's own buffer: the library's copying getter
      // asserts (and so aborts the process) when a string holds a U+0000,
      // which an XML property list can carry. The library does not keep the
      // bytes after that U+0000 faithfully, so the text ends there, as a
      // copy through the getter would.
      uint64_t length = 0;
      const char* text = plist_get_string_ptr(node, &length);
      if (text == nullptr) return false;
      out.value = std::string(text, ::strnlen(text, length));
      return true;
    }
    case PLIST_UINT: {
      // The library keeps every integer as 64 unsigned bits; negative values
      // come back in two's complement.
      uint64_t raw = 0;
      plist_get_uint_val(node, &raw);
      out.value = static_cast<std::int64_t>(raw);
      return true;
    }
    case PLIST_REAL: {
      double real = 0;
      plist_get_real_val(node, &real);
      out.value = real;
      return true;
    }
    case PLIST_BOOLEAN: {
      uint8_t flag = 0;
      plist_get_bool_val(node, &flag);
      out.value = flag != 0;
      return true;
    }
    case PLIST_DATE: {
      int32_t seconds = 0;
      int32_t micros = 0;
      plist_get_date_val(node, &seconds, &micros);
      out.value = PlistDate{seconds + micros / 1e6};
      return true;
    }
    case PLIST_DATA: {
      char* raw = nullptr;
      uint64_t length = 0;
      plist_get_data_val(node, &raw, &length);
      Chars data(raw);
      out.value = PlistData{data ? std::string(data.get(), length) : std::string()};
      return true;
    }
    case PLIST_ARRAY:
      out.value = convertArray(node, depth);
      return true;
    case PLIST_DICT:
      out.value = convertDict(node, depth);
      return true;
    default:
      return false;
  }
}

// A binary property list can store a key whose recorded length disagrees
// with its text (a U+0000 inside it), and the library aborts the process
// when such a key is read back. Written out as XML and read again, every key
// is plain text.
PlistHandle throughXml(plist_t binary) {
  char* rawXml = nullptr;
  uint32_t length = 0;
  plist_to_xml(binary, &rawXml, &length);
  const Chars xml(rawXml);
  if (!xml) return nullptr;
  plist_t reread = nullptr;
  plist_from_xml(xml.get(), length, &reread);
  return PlistHandle(reread);
}

}  // namespace

PlistDict parseInfoDictionary(std::string_view bytes) {
  if (bytes.empty() || bytes.size() > std::numeric_limits<uint32_t>::max()) return {};
  // The library reads the binary form exactly when the bytes begin with its
  // magic; everything else goes to its XML reader.
  const bool binary = bytes.starts_with(kBinaryMagic);
  if (!(binary ? binaryPlistWithinLimits(bytes, kLimits) : xmlPlistWithinLimits(bytes, kLimits))) return {};
  plist_t raw = nullptr;
  plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &raw);
  PlistHandle root(raw);
  if (root && binary) root = throughXml(root.get());
  if (!root || plist_get_node_type(root.get()) != PLIST_DICT) return {};
  return convertDict(root.get(), 0);
}

std::optional<std::string> infoDictionaryXml(const PlistDict& info) {
  const PlistHandle dictionary(plist_new_dict());
  if (!dictionary) return std::nullopt;
  for (const auto& [key, value] : info) {
    plist_t item = nullptr;
    if (const std::string* text = value.as<std::string>()) {
      if (text->find('\0') != std::string::npos) return std::nullopt;
      item = plist_new_string(text->c_str());
    } else if (const bool* truth = value.as<bool>()) {
      item = plist_new_bool(*truth ? 1 : 0);
    } else {
      return std::nullopt;
    }
    if (item == nullptr) return std::nullopt;
    plist_dict_set_item(dictionary.get(), key.c_str(), item);
  }
  char* xml = nullptr;
  uint32_t length = 0;
  plist_to_xml(dictionary.get(), &xml, &length);
  if (xml == nullptr) return std::nullopt;
  std::string bytes(xml, length);
  plist_to_xml_free(xml);
  return bytes;
}

}  // namespace platform
