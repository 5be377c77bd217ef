// The executable must carry the hardening the build asks the linker for:
// position independence, read-only relocations bound at start and a stack
// that cannot be executed. Read straight from the ELF headers so that a
// change of toolchain or flags that silently drops one of them is caught.
#include <elf.h>
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <vector>

#include "harness.h"

namespace {

struct ElfFacts {
  std::uint16_t type = 0;
  bool hasInterpreter = false;
  bool hasRelro = false;
  std::optional<std::uint32_t> stackFlags;  // PT_GNU_STACK p_flags
  bool bindNow = false;
};

template <typename T>
bool readAt(const std::string& image, std::uint64_t offset, T& out) {
  if (offset > image.size() || image.size() - offset < sizeof(T)) return false;
  std::memcpy(&out, image.data() + offset, sizeof(T));
  return true;
}

// Fails the test (and returns nothing) when the file is not a well-formed
// 64-bit ELF image of this machine's byte order.
std::optional<ElfFacts> inspectElf(const std::string& image) {
  Elf64_Ehdr header{};
  if (!readAt(image, 0, header) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0) {
    ADD_FAILURE() << "not an ELF file";
    return std::nullopt;
  }
  if (header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_ident[EI_DATA] != ELFDATA2LSB ||
      header.e_phentsize != sizeof(Elf64_Phdr)) {
    ADD_FAILURE() << "expected a 64-bit little-endian ELF image";
    return std::nullopt;
  }

  ElfFacts facts;
  facts.type = header.e_type;
  std::optional<Elf64_Phdr> dynamic;
  for (std::uint16_t i = 0; i < header.e_phnum; ++i) {
    Elf64_Phdr segment{};
    if (!readAt(image, header.e_phoff + std::uint64_t{i} * sizeof(Elf64_Phdr), segment)) {
      ADD_FAILURE() << "program header " << i << " lies outside the file";
      return std::nullopt;
    }
    switch (segment.p_type) {
      case PT_INTERP: facts.hasInterpreter = true; break;
      case PT_GNU_RELRO: facts.hasRelro = true; break;
      case PT_GNU_STACK: facts.stackFlags = segment.p_flags; break;
      case PT_DYNAMIC: dynamic = segment; break;
      default: break;
    }
  }

  if (dynamic) {
    for (std::uint64_t offset = dynamic->p_offset; offset < dynamic->p_offset + dynamic->p_filesz;
         offset += sizeof(Elf64_Dyn)) {
      Elf64_Dyn entry{};
      if (!readAt(image, offset, entry) || entry.d_tag == DT_NULL) break;
      if (entry.d_tag == DT_BIND_NOW) facts.bindNow = true;
      if (entry.d_tag == DT_FLAGS && (entry.d_un.d_val & DF_BIND_NOW)) facts.bindNow = true;
      if (entry.d_tag == DT_FLAGS_1 && (entry.d_un.d_val & DF_1_NOW)) facts.bindNow = true;
    }
  }
  return facts;
}

class HardeningTest : public ::testing::Test {
 protected:
  void SetUp() override {
    facts_ = inspectElf(harness::readFile(SUPPORT_DRAFT_EXECUTABLE));
    if (!facts_) GTEST_FAIL() << "cannot read " << SUPPORT_DRAFT_EXECUTABLE;
  }
  ElfFacts& facts() { return *facts_; }

 private:
  std::optional<ElfFacts> facts_;
};

TEST_F(HardeningTest, IsPositionIndependentExecutable) {
  // A shared object is ET_DYN too; the interpreter is what makes it a program.
  EXPECT_EQ(facts().type, ET_DYN);
  EXPECT_TRUE(facts().hasInterpreter);
}

TEST_F(HardeningTest, RelocationsAreReadOnlyAndBoundAtStart) {
  EXPECT_TRUE(facts().hasRelro) << "no PT_GNU_RELRO segment";
  EXPECT_TRUE(facts().bindNow) << "neither DF_BIND_NOW nor DF_1_NOW is set";
}

TEST_F(HardeningTest, StackIsNotExecutable) {
  // Without PT_GNU_STACK the loader falls back to an executable stack.
  ASSERT_TRUE(facts().stackFlags.has_value()) << "no PT_GNU_STACK segment";
  EXPECT_EQ(*facts().stackFlags & PF_X, 0u);
}

}  // namespace
