#include "scripting/value_ops.h"

#include "scripting/errors.h"
#include "platform/text.h"

namespace scripting {

std::string textOf(const Descriptor& value) {
  std::optional<std::string> text = value.stringValue();
  if (!text) throw ScriptError{kErrorCantCoerce, "Can't make a list into type text."};
  return std::move(*text);
}

bool valuesEqual(const Descriptor& a, const Descriptor& b) {
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case Descriptor::Kind::Text:
      return platform::canonicallyEqual(a.textValue(), b.textValue());
    case Descriptor::Kind::Integer:
      return a.integerValue() == b.integerValue();
    case Descriptor::Kind::Boolean:
      return a.booleanValue() == b.booleanValue();
    case Descriptor::Kind::List: {
      const auto& left = a.items();
      const auto& right = b.items();
      if (left.size() != right.size()) return false;
      for (std::size_t i = 0; i < left.size(); ++i) {
        if (!valuesEqual(left[i], right[i])) return false;
      }
      return true;
    }
  }
  return false;
}

std::string_view kindName(Descriptor::Kind kind) {
  switch (kind) {
    case Descriptor::Kind::Text: return "text";
    case Descriptor::Kind::Integer: return "number";
    case Descriptor::Kind::Boolean: return "boolean";
    case Descriptor::Kind::List: return "list";
  }
  return "value";
}

}  // namespace scripting
