#include "scripting/descriptor.h"

#include <algorithm>
#include <cstdint>

namespace scripting {
namespace {

const std::string kNoText;
const std::vector<Descriptor> kNoItems;

std::size_t saturatingAdd(std::size_t a, std::size_t b) {
  const std::size_t sum = a + b;
  return sum < a ? SIZE_MAX : sum;
}

}  // namespace

Descriptor Descriptor::text(std::string value) {
  Descriptor d(Kind::Text);
  d.weight_ = value.size();
  d.text_ = std::make_shared<const std::string>(std::move(value));
  return d;
}

Descriptor Descriptor::integer(std::int64_t value) {
  Descriptor d(Kind::Integer);
  d.number_ = value;
  return d;
}

Descriptor Descriptor::boolean(bool value) {
  Descriptor d(Kind::Boolean);
  d.number_ = value ? 1 : 0;
  return d;
}

Descriptor Descriptor::list() { return list({}); }

Descriptor Descriptor::list(std::vector<Descriptor> items) {
  Descriptor d(Kind::List);
  std::size_t deepest = 0;
  for (const Descriptor& item : items) {
    deepest = std::max(deepest, item.nesting_);
    d.weight_ = saturatingAdd(d.weight_, item.weight_);
  }
  d.nesting_ = deepest + 1;
  d.items_ = std::make_shared<std::vector<Descriptor>>(std::move(items));
  return d;
}

const std::string& Descriptor::textValue() const { return text_ ? *text_ : kNoText; }

const std::vector<Descriptor>& Descriptor::items() const { return items_ ? *items_ : kNoItems; }

bool Descriptor::insert(Descriptor item, long index) {
  if (kind_ != Kind::List || index < 1 || static_cast<std::size_t>(index) > items_->size() + 1) {
    return false;
  }
  if (items_.use_count() > 1) items_ = std::make_shared<std::vector<Descriptor>>(*items_);
  nesting_ = std::max(nesting_, item.nesting_ + 1);
  weight_ = saturatingAdd(weight_, item.weight_);
  items_->insert(items_->begin() + (index - 1), std::move(item));
  return true;
}

std::optional<std::string> Descriptor::stringValue() const {
  switch (kind_) {
    case Kind::Text:
      return textValue();
    case Kind::Integer:
      return std::to_string(number_);
    case Kind::Boolean:
      return booleanValue() ? "true" : "false";
    case Kind::List:
      return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace scripting
