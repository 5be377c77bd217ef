#include "platform/plist_limits.h"

#include <algorithm>
#include <cstddef>
#include <optional>
#include <vector>

namespace platform {
namespace {

// ---------------------------------------------------------------------------
// Binary form: "bplist00", the objects, a table of their offsets, and a
// 32-byte trailer giving the sizes of offsets and references, the number of
// objects, the top object and where the table starts.

constexpr std::string_view kBinaryMagic = "bplist00";
constexpr std::size_t kTrailerSize = 32;

// Containers are arrays, sets (references) and dictionaries (key references
// followed by value references); every other object is a leaf.
constexpr unsigned kArrayType = 0xA;
constexpr unsigned kSetType = 0xC;
constexpr unsigned kDictType = 0xD;

std::uint64_t readBigEndian(std::string_view bytes, std::size_t at, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < width; ++i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

struct Trailer {
  std::size_t offsetSize = 0;
  std::size_t referenceSize = 0;
  std::uint64_t objectCount = 0;
  std::uint64_t topObject = 0;
  std::uint64_t tableOffset = 0;
};

std::optional<Trailer> readTrailer(std::string_view bytes) {
  if (bytes.size() < kBinaryMagic.size() + kTrailerSize || !bytes.starts_with(kBinaryMagic)) return std::nullopt;
  const std::size_t at = bytes.size() - kTrailerSize;
  Trailer trailer;
  trailer.offsetSize = static_cast<unsigned char>(bytes[at + 6]);
  trailer.referenceSize = static_cast<unsigned char>(bytes[at + 7]);
  trailer.objectCount = readBigEndian(bytes, at + 8, 8);
  trailer.topObject = readBigEndian(bytes, at + 16, 8);
  trailer.tableOffset = readBigEndian(bytes, at + 24, 8);
  const auto validSize = [](std::size_t size) { return size >= 1 && size <= 8; };
  if (!validSize(trailer.offsetSize) || !validSize(trailer.referenceSize)) return std::nullopt;
  if (trailer.objectCount == 0 || trailer.topObject >= trailer.objectCount) return std::nullopt;
  // The table lies between the objects and the trailer; this also bounds the
  // number of objects by the file's size.
  if (trailer.tableOffset < kBinaryMagic.size() || trailer.tableOffset > at) return std::nullopt;
  if (trailer.objectCount > (at - trailer.tableOffset) / trailer.offsetSize) return std::nullopt;
  return trailer;
}

// One object as far as the tree's shape and size are concerned.
struct ObjectShape {
  bool container = false;
  std::size_t referencesAt = 0;  // containers: where the references start
  std::uint64_t references = 0;  // containers: how many
  std::uint64_t bytes = 0;       // the object's own size in the file
};

struct Summary {
  enum State : unsigned char { unseen, open, done } state = unseen;
  int height = 0;              // levels below the object
  std::uint64_t objects = 0;   // the expanded tree it roots
  std::uint64_t bytes = 0;
};

class BinaryScan {
 public:
  BinaryScan(std::string_view bytes, const Trailer& trailer, const PlistLimits& limits)
      : bytes_(bytes), trailer_(trailer), limits_(limits), summaries_(trailer.objectCount) {}

  // Depth-first over the references with an explicit stack no deeper than
  // the depth limit; each object is summarised once and its summary reused
  // wherever it is referenced again.
  bool withinLimits() {
    struct Frame {
      std::uint64_t index;
      ObjectShape shape;
      std::uint64_t nextReference = 0;
      Summary summary;
    };
    std::vector<Frame> stack;
    auto enter = [&](std::uint64_t index) -> bool {
      const auto shape = shapeOf(index);
      if (!shape) return false;
      Summary summary{Summary::open, 0, 1, shape->bytes};
      if (!shape->container) {
        summary.state = Summary::done;
        return add(stack.empty() ? nullptr : &stack.back().summary, index, summary, stack.size());
      }
      if (static_cast<int>(stack.size()) > limits_.maxDepth) return false;
      summaries_[index].state = Summary::open;
      stack.push_back({index, *shape, 0, summary});
      return true;
    };

    if (!enter(trailer_.topObject)) return false;
    while (!stack.empty()) {
      Frame& frame = stack.back();
      if (frame.nextReference == frame.shape.references) {
        Summary finished = frame.summary;
        finished.state = Summary::done;
        const std::uint64_t index = frame.index;
        stack.pop_back();
        if (!add(stack.empty() ? nullptr : &stack.back().summary, index, finished, stack.size())) return false;
        continue;
      }
      const std::uint64_t child = readBigEndian(
          bytes_, frame.shape.referencesAt + frame.nextReference * trailer_.referenceSize, trailer_.referenceSize);
      ++frame.nextReference;
      if (child >= trailer_.objectCount) return false;
      const Summary known = summaries_[child];
      if (known.state == Summary::open) return false;  // a cycle
      if (known.state == Summary::done) {
        if (!add(&frame.summary, child, known, stack.size())) return false;
      } else if (!enter(child)) {
        return false;
      }
    }
    return true;
  }

 private:
  // Records the finished summary of `index`, found at `depth`, and adds it to
  // its parent's (none for the top object). False once a limit is passed.
  bool add(Summary* parent, std::uint64_t index, const Summary& summary, std::size_t depth) {
    summaries_[index] = summary;
    if (static_cast<std::uint64_t>(depth) + summary.height > static_cast<std::uint64_t>(limits_.maxDepth)) return false;
    if (parent == nullptr) return summary.objects <= limits_.maxObjects && summary.bytes <= limits_.maxExpandedBytes;
    parent->height = std::max(parent->height, summary.height + 1);
    parent->objects += summary.objects;
    parent->bytes += summary.bytes;
    // Summaries stay below twice the limits, so the sums cannot overflow.
    return parent->objects <= limits_.maxObjects && parent->bytes <= limits_.maxExpandedBytes;
  }

  std::optional<std::uint64_t> offsetOf(std::uint64_t index) const {
    const std::uint64_t offset =
        readBigEndian(bytes_, trailer_.tableOffset + index * trailer_.offsetSize, trailer_.offsetSize);
    if (offset < kBinaryMagic.size() || offset >= trailer_.tableOffset) return std::nullopt;
    return offset;
  }

  std::optional<ObjectShape> shapeOf(std::uint64_t index) const {
    const auto offset = offsetOf(index);
    if (!offset) return std::nullopt;
    const std::size_t end = trailer_.tableOffset;
    const auto marker = static_cast<unsigned char>(bytes_[*offset]);
    const unsigned type = marker >> 4;
    const unsigned nibble = marker & 0xF;
    std::size_t position = *offset + 1;

    // A count of 15 or more follows the marker as an integer object.
    const bool counted = (type >= 0x4 && type <= 0x7) || type == kArrayType || type == kSetType || type == kDictType;
    std::uint64_t count = nibble;
    if (nibble == 0xF && counted) {
      if (position >= end) return std::nullopt;
      const auto countMarker = static_cast<unsigned char>(bytes_[position]);
      const std::size_t width = std::size_t{1} << (countMarker & 0xF);
      if ((countMarker >> 4) != 0x1 || width > 8 || end - position - 1 < width) return std::nullopt;
      count = readBigEndian(bytes_, position + 1, width);
      position += 1 + width;
    }

    ObjectShape shape;
    if (type == kArrayType || type == kSetType || type == kDictType) {
      const std::uint64_t room = (end - position) / trailer_.referenceSize;
      if (count > room || (type == kDictType && count > room / 2)) return std::nullopt;
      shape.container = true;
      shape.referencesAt = position;
      shape.references = type == kDictType ? count * 2 : count;
      shape.bytes = position - *offset + shape.references * trailer_.referenceSize;
      return shape;
    }
    // A leaf: what its contents take. Counts beyond the file are the
    // parser's to reject; here they only have to stay bounded.
    const std::uint64_t units = std::min<std::uint64_t>(count, bytes_.size());
    std::uint64_t contents = 0;
    switch (type) {
      case 0x1: case 0x2: contents = std::uint64_t{1} << nibble; break;  // integer, real
      case 0x3: contents = 8; break;                                     // date
      case 0x4: case 0x5: case 0x7: contents = units; break;             // data, ASCII, UTF-8
      case 0x6: contents = units * 2; break;                             // UTF-16
      case 0x8: contents = nibble + 1; break;                            // UID
      default: break;
    }
    shape.bytes = position - *offset + contents;
    return shape;
  }

  std::string_view bytes_;
  Trailer trailer_;
  PlistLimits limits_;
  std::vector<Summary> summaries_;
};

// ---------------------------------------------------------------------------
// XML form: counts elements and their nesting. Comments, processing
// instructions, declarations and character data sections hold no elements.

struct Skipped {
  std::string_view opening;
  std::string_view closing;
};
constexpr Skipped kSkipped[] = {{"<!--", "-->"}, {"<![CDATA[", "]]>"}, {"<?", "?>"}, {"<!", ">"}};

// Where the tag that starts at `at` ends (its '>'), passing over quoted
// attribute values; npos when it never ends.
std::size_t tagEnd(std::string_view bytes, std::size_t at) {
  char quote = 0;
  for (std::size_t i = at; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '>') {
      return i;
    }
  }
  return std::string_view::npos;
}

std::string_view tagName(std::string_view tag) {
  const std::size_t end = tag.find_first_of(" \t\r\n/>");
  return tag.substr(0, end);
}

}  // namespace

bool binaryPlistWithinLimits(std::string_view bytes, const PlistLimits& limits) {
  const auto trailer = readTrailer(bytes);
  if (!trailer) return false;
  return BinaryScan(bytes, *trailer, limits).withinLimits();
}

bool xmlPlistWithinLimits(std::string_view bytes, const PlistLimits& limits) {
  // The <plist> element and the top object's own element come on top of
  // the levels below the top object.
  const std::size_t maxOpen = static_cast<std::size_t>(limits.maxDepth) + 2;
  std::vector<std::string_view> open;
  std::uint64_t elements = 0;
  std::size_t at = 0;
  while ((at = bytes.find('<', at)) != std::string_view::npos) {
    const std::string_view rest = bytes.substr(at);
    const auto skipped = std::find_if(std::begin(kSkipped), std::end(kSkipped),
                                      [&](const Skipped& s) { return rest.starts_with(s.opening); });
    if (skipped != std::end(kSkipped)) {
      const std::size_t end = bytes.find(skipped->closing, at + skipped->opening.size());
      if (end == std::string_view::npos) return false;
      at = end + skipped->closing.size();
      continue;
    }
    const std::size_t end = tagEnd(bytes, at + 1);
    if (end == std::string_view::npos) return false;
    const std::string_view tag = bytes.substr(at + 1, end - at - 1);
    at = end + 1;
    if (tag.starts_with('/')) {
      if (open.empty() || tagName(tag.substr(1)) != open.back()) return false;
      open.pop_back();
      continue;
    }
    if (++elements > limits.maxObjects) return false;
    if (tag.ends_with('/')) continue;
    if (open.size() == maxOpen) return false;
    open.push_back(tagName(tag));
  }
  return true;
}

}  // namespace platform
