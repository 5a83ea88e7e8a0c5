// What the dynamic loader has to resolve when libkor-types loads. The virtual
// tables of the library's thousands of classes inherit the runtime's counting,
// array comparisons and stub forwarding; those entries must point at the
// library's own copies (fixed up by offset), not at libmovel's symbols, or
// every table costs a symbol binding at load. The library file is read back
// from disk and its dynamic relocations are checked by target.
#include <gtest/gtest.h>

#include <cxxabi.h>
#include <elf.h>
#include <link.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "kortypes/kortypes.h"

namespace {

// The path of the loaded libkor-types, found among the loaded objects.
std::string LoadedLibraryPath() {
  std::string found;
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* out) {
        if (info->dlpi_name && std::strstr(info->dlpi_name, "libkor-types.so")) {
          *static_cast<std::string*>(out) = info->dlpi_name;
          return 1;
        }
        return 0;
      },
      &found);
  return found;
}

std::string Demangle(const std::string& name) {
  int status = 0;
  char* text = abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status);
  if (status != 0 || !text) return name;
  std::string result(text);
  std::free(text);
  return result;
}

template <class T>
T ReadAt(const std::vector<char>& file, size_t offset) {
  T value{};
  if (offset + sizeof(T) <= file.size()) std::memcpy(&value, file.data() + offset, sizeof(T));
  return value;
}

// Symbol name -> number of dynamic relocations of data (RELA, in .rela.dyn)
// that name it: table slots and addresses the loader resolves when the
// library loads. Calls through the procedure linkage table (.rela.plt jump
// slots, bound lazily at the first call) and relocations without a symbol
// are not counted.
std::map<std::string, int> SymbolicRelocations(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::map<std::string, int> counts;
  const auto header = ReadAt<Elf64_Ehdr>(file, 0);
  if (file.size() < sizeof header || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
      header.e_ident[EI_CLASS] != ELFCLASS64) {
    return counts;
  }
  std::vector<Elf64_Shdr> sections;
  for (unsigned i = 0; i < header.e_shnum; ++i) {
    sections.push_back(ReadAt<Elf64_Shdr>(file, header.e_shoff + i * size_t{header.e_shentsize}));
  }
  for (const Elf64_Shdr& rela : sections) {
    if (rela.sh_type != SHT_RELA || rela.sh_link >= sections.size()) continue;
    const Elf64_Shdr& symbols = sections[rela.sh_link];
    if (symbols.sh_type != SHT_DYNSYM || symbols.sh_link >= sections.size()) continue;
    const Elf64_Shdr& strings = sections[symbols.sh_link];
    for (size_t at = 0; at + sizeof(Elf64_Rela) <= rela.sh_size; at += sizeof(Elf64_Rela)) {
      const auto entry = ReadAt<Elf64_Rela>(file, rela.sh_offset + at);
      const size_t index = ELF64_R_SYM(entry.r_info);
      if (index == 0 || ELF64_R_TYPE(entry.r_info) == R_X86_64_JUMP_SLOT) continue;
      const auto symbol = ReadAt<Elf64_Sym>(file, symbols.sh_offset + index * sizeof(Elf64_Sym));
      const size_t name = strings.sh_offset + symbol.st_name;
      if (name >= file.size()) continue;
      ++counts[std::string(file.data() + name, strnlen(file.data() + name, file.size() - name))];
    }
  }
  return counts;
}

class LibraryRelocations : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Referenced so that the library is loaded whatever the linker keeps.
    ASSERT_NE(Movel::GetDoType<Kor::AboutInfo>(), nullptr);
    path_ = new std::string(LoadedLibraryPath());
    counts_ = new std::map<std::string, int>(SymbolicRelocations(*path_));
  }
  static void TearDownTestSuite() {
    delete path_;
    delete counts_;
  }
  static std::string* path_;
  static std::map<std::string, int>* counts_;
};
std::string* LibraryRelocations::path_ = nullptr;
std::map<std::string, int>* LibraryRelocations::counts_ = nullptr;

TEST_F(LibraryRelocations, TheReaderSeesTheRelocationsTheLoaderResolves) {
  ASSERT_FALSE(path_->empty()) << "libkor-types is not among the loaded objects";
  // The interposable records are bound through their symbols, and so are the
  // runtime's own records the descriptors name: both must be found, or the
  // checks below would pass on an empty reading.
  EXPECT_GT((*counts_)["gKorAboutInfoTypeInfo"], 0);
  EXPECT_GT((*counts_)["gStringTypeInfo"], 100);
  // Type information of the runtime's base classes stays shared with it.
  EXPECT_GT((*counts_)["_ZTIN5Movel13DataArrayBaseE"], 1000);
}

TEST_F(LibraryRelocations, InheritedRuntimeVirtualsPointIntoTheLibrary) {
  // Demangled prefixes of the runtime members that the library's tables
  // inherit in thousands of copies.
  const char* const inherited[] = {
      "Movel::Any::IncRef",           "Movel::Any::DecRef",
      "Movel::Any::ToString",         "Movel::Any::GetRefCount",
      "Movel::DataArrayBase::_",      "Movel::ManagedObject::_GetRef",
      "Movel::ManagedObject::_Unregistered", "Movel::StubImpl::_",
      "virtual thunk to Movel::StubImpl::_", "virtual thunk to Movel::ManagedObject::_"};
  std::vector<std::string> bound;
  for (const auto& [name, count] : *counts_) {
    const std::string plain = Demangle(name);
    for (const char* prefix : inherited) {
      if (plain.compare(0, std::strlen(prefix), prefix) == 0) {
        bound.push_back(plain + " (" + std::to_string(count) + " relocations)");
      }
    }
  }
  EXPECT_TRUE(bound.empty()) << "bound through libmovel's symbols: " << ::testing::PrintToString(bound);
}

// The counting the library's tables use and the counting compiled into this
// program are one count on one member.
TEST(InlineRuntimeVirtuals, CountingAndNamesAgreeAcrossTheBoundary) {
  Basekit::Ref<Movel::Any> made(Movel::GetDoType<Kor::AboutInfo>()->CreateInstance());
  ASSERT_NE(made.Get(), nullptr);
  const Basekit::Object* object = made.Get();
  object->IncRef();             // through the library's table
  made->Movel::Any::IncRef();   // this program's copy, called directly
  EXPECT_EQ(made->GetRefCount(), 3);
  EXPECT_EQ(object->GetRefCount(), 3);
  made->Movel::Any::DecRef();
  object->DecRef();
  EXPECT_EQ(made->GetRefCount(), 1);
  EXPECT_EQ(object->ToString(), "kor.AboutInfo");

  Basekit::Ref<Movel::Any> array(Movel::GetDoType<Kor::AboutInfo>()->CreateArrayInstance());
  ASSERT_NE(array.Get(), nullptr);
  EXPECT_EQ(array->ToString(), "kor.AboutInfo[]");
}

}  // namespace
