// Typed values as the scripting service exchanges them: text, whole number,
// Boolean and list descriptors. They are also the interpreter's run-time
// values, since the language has exactly these kinds of value.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace scripting {

// A four-character code: the 32-bit value whose bytes, most significant
// first, are the four characters.
using FourCharCode = std::uint32_t;

constexpr FourCharCode fourCharCode(const char (&code)[5]) {
  return (FourCharCode{static_cast<unsigned char>(code[0])} << 24) |
         (FourCharCode{static_cast<unsigned char>(code[1])} << 16) |
         (FourCharCode{static_cast<unsigned char>(code[2])} << 8) |
         FourCharCode{static_cast<unsigned char>(code[3])};
}

// Payloads are shared and never changed once shared, so copying a
// descriptor costs the same whatever its size; `insert` copies the items
// first when another descriptor still shares them.
class Descriptor {
 public:
  enum class Kind { Text, Integer, Boolean, List };

  static Descriptor text(std::string value);
  static Descriptor integer(std::int64_t value);
  static Descriptor boolean(bool value);
  static Descriptor list();
  static Descriptor list(std::vector<Descriptor> items);

  Kind kind() const { return kind_; }

  // The payload of the matching kind; only meaningful for that kind.
  const std::string& textValue() const;
  std::int64_t integerValue() const { return number_; }
  bool booleanValue() const { return number_ != 0; }
  const std::vector<Descriptor>& items() const;

  // Number of items of a list; 0 for any other kind.
  std::size_t count() const { return kind_ == Kind::List ? items().size() : 0; }

  // Puts `item` at the 1-based position `index` of a list, moving the items
  // from that position on one place back; `count() + 1` appends. Returns
  // false, storing nothing, for any other position or when this is no list.
  bool insert(Descriptor item, long index);

  // How deeply lists nest inside this value: 0 for a text, number or
  // Boolean, 1 for a list of those, and so on.
  std::size_t nesting() const { return nesting_; }

  // How much data the value holds, counting every list item once per place
  // it appears: the bytes of a text, 1 for a number or Boolean, 1 plus the
  // items' weights for a list. Stops growing at SIZE_MAX. Work that walks a
  // whole value is charged by this measure before it starts.
  std::size_t weight() const { return weight_; }

  // The value as text: a text is itself, a whole number its decimal form,
  // a Boolean "true" or "false"; a list has no text value.
  std::optional<std::string> stringValue() const;

 private:
  explicit Descriptor(Kind kind) : kind_(kind) {}

  Kind kind_;
  std::int64_t number_ = 0;
  std::shared_ptr<const std::string> text_;
  std::shared_ptr<std::vector<Descriptor>> items_;
  std::size_t nesting_ = 0;
  std::size_t weight_ = 1;
};

}  // namespace scripting
