#include "platform/json.h"

#include <cmath>
#include <set>
#include <vector>

namespace platform {
namespace {

// Nesting this deep has no use in any document the program reads.
constexpr std::size_t kMaxDepth = 256;

// Builds the value like the library's own builder, but remembers the keys
// seen in each open object so that a repeated key ends the parse.
class StrictBuilder {
 public:
  explicit StrictBuilder(Json& result) : dom_(result, /*allow_exceptions=*/false) {}

  bool null() { return dom_.null(); }
  bool boolean(bool value) { return dom_.boolean(value); }
  bool number_integer(Json::number_integer_t value) { return dom_.number_integer(value); }
  bool number_unsigned(Json::number_unsigned_t value) { return dom_.number_unsigned(value); }
  bool number_float(Json::number_float_t value, const Json::string_t& text) {
    return dom_.number_float(value, text);
  }
  bool string(Json::string_t& value) { return dom_.string(value); }
  bool binary(Json::binary_t& value) { return dom_.binary(value); }

  bool start_object(std::size_t size) {
    if (open_.size() >= kMaxDepth) return false;
    open_.emplace_back(std::set<std::string>{});
    return dom_.start_object(size);
  }
  bool key(Json::string_t& name) {
    if (open_.empty() || !open_.back() || !open_.back()->insert(name).second) return false;
    return dom_.key(name);
  }
  bool end_object() {
    open_.pop_back();
    return dom_.end_object();
  }
  bool start_array(std::size_t size) {
    if (open_.size() >= kMaxDepth) return false;
    open_.emplace_back(std::nullopt);
    return dom_.start_array(size);
  }
  bool end_array() {
    open_.pop_back();
    return dom_.end_array();
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) { return false; }

 private:
  nlohmann::detail::json_sax_dom_parser<Json> dom_;
  // One entry per open container: the keys of an object, nothing for an array.
  std::vector<std::optional<std::set<std::string>>> open_;
};

}  // namespace

std::optional<Json> parseJson(std::string_view bytes) {
  try {
    Json result;
    StrictBuilder builder(result);
    const bool ok = Json::sax_parse(bytes.begin(), bytes.end(), &builder, nlohmann::detail::input_format_t::json,
                                    /*strict=*/true, /*ignore_comments=*/false);
    if (!ok || result.is_discarded()) return std::nullopt;
    return result;
  } catch (...) {
    return std::nullopt;
  }
}

std::optional<std::string> serializeJson(const Json& value) {
  std::string compact;
  try {
    compact = value.dump(-1, ' ', /*ensure_ascii=*/false, Json::error_handler_t::strict);
  } catch (...) {
    return std::nullopt;
  }
  // Outside strings compact JSON holds no "/", so every one found belongs to
  // a string and may be escaped.
  std::string escaped;
  escaped.reserve(compact.size());
  for (char c : compact) {
    if (c == '/') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

std::optional<Json> jsonFromPlist(const PlistValue& value) {
  if (const auto* text = value.as<std::string>()) return Json(*text);
  if (const auto* integer = value.as<std::int64_t>()) return Json(*integer);
  if (const auto* flag = value.as<bool>()) return Json(*flag);
  if (const auto* real = value.as<double>()) {
    if (!std::isfinite(*real)) return std::nullopt;
    return Json(*real);
  }
  if (const auto* array = value.as<PlistArray>()) {
    Json items = Json::array();
    for (const auto& item : *array) {
      auto converted = jsonFromPlist(item);
      if (!converted) return std::nullopt;
      items.push_back(std::move(*converted));
    }
    return items;
  }
  if (const auto* dict = value.as<PlistDict>()) {
    Json object = Json::object();
    for (const auto& [key, member] : *dict) {
      auto converted = jsonFromPlist(member);
      if (!converted) return std::nullopt;
      object[key] = std::move(*converted);
    }
    return object;
  }
  return std::nullopt;  // a date or data value
}

}  // namespace platform
