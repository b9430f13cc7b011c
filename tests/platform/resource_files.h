// Small module files built in memory for the resource tests: a compiled
// resource file (.res), a 64-bit ELF file carrying one in its .rsrc section,
// and a PE32 image with a resource tree. Each builder reports where its
// fields landed, so that a test can damage exactly one of them.
#pragma once
#include <string.h>
#include <windows.h>

#include <string>
#include <vector>

namespace resource_files {

using Bytes = std::vector<BYTE>;

// A type or a name: a string when text is not empty, else the id.
struct Id {
  WORD id = 0;
  std::u16string text;
  bool operator==(const Id& other) const {
    return id == other.id && text == other.text;
  }
};
inline Id Number(WORD id) { return Id{id, u""}; }
inline Id Text(const std::u16string& text) { return Id{0, text}; }

struct Resource {
  Id type;
  Id name;
  Bytes data;
  WORD language = 0x409;
};

inline Bytes BytesOf(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

inline void AppendWord(Bytes* out, WORD value) {
  out->push_back(static_cast<BYTE>(value));
  out->push_back(static_cast<BYTE>(value >> 8));
}
inline void AppendDword(Bytes* out, DWORD value) {
  AppendWord(out, static_cast<WORD>(value));
  AppendWord(out, static_cast<WORD>(value >> 16));
}
inline void AppendQword(Bytes* out, uint64_t value) {
  AppendDword(out, static_cast<DWORD>(value));
  AppendDword(out, static_cast<DWORD>(value >> 32));
}
inline void PutWord(Bytes* out, size_t at, WORD value) {
  (*out)[at] = static_cast<BYTE>(value);
  (*out)[at + 1] = static_cast<BYTE>(value >> 8);
}
inline void PutDword(Bytes* out, size_t at, DWORD value) {
  PutWord(out, at, static_cast<WORD>(value));
  PutWord(out, at + 2, static_cast<WORD>(value >> 16));
}
inline void PutQword(Bytes* out, size_t at, uint64_t value) {
  PutDword(out, at, static_cast<DWORD>(value));
  PutDword(out, at + 4, static_cast<DWORD>(value >> 32));
}
inline DWORD ReadDwordAt(const Bytes& in, size_t at) {
  return in[at] | (in[at + 1] << 8) | (in[at + 2] << 16) |
         (static_cast<DWORD>(in[at + 3]) << 24);
}
inline void PadTo(Bytes* out, size_t alignment) {
  while (out->size() % alignment != 0) out->push_back(0);
}

// A string table block: sixteen counted strings.
inline Bytes StringBlock(const std::vector<std::u16string>& strings) {
  Bytes block;
  for (size_t index = 0; index < 16; ++index) {
    const std::u16string text = index < strings.size() ? strings[index] : u"";
    AppendWord(&block, static_cast<WORD>(text.size()));
    for (char16_t unit : text) AppendWord(&block, unit);
  }
  return block;
}

// ---- .res -------------------------------------------------------------------
inline void AppendResId(Bytes* out, const Id& id) {
  if (id.text.empty()) {
    AppendWord(out, 0xFFFF);
    AppendWord(out, id.id);
    return;
  }
  for (char16_t unit : id.text) AppendWord(out, unit);
  AppendWord(out, 0);
}

// records: the offset of each resource's record (the empty marker first).
inline Bytes ResFile(const std::vector<Resource>& resources,
                     std::vector<size_t>* records = nullptr) {
  Bytes out;
  AppendDword(&out, 0);
  AppendDword(&out, 32);
  AppendResId(&out, Number(0));
  AppendResId(&out, Number(0));
  out.resize(32, 0);
  for (const Resource& resource : resources) {
    const size_t start = out.size();
    if (records != nullptr) records->push_back(start);
    AppendDword(&out, static_cast<DWORD>(resource.data.size()));
    AppendDword(&out, 0);  // header size, below
    AppendResId(&out, resource.type);
    AppendResId(&out, resource.name);
    PadTo(&out, 4);
    AppendDword(&out, 0);      // data version
    AppendWord(&out, 0x1030);  // memory flags
    AppendWord(&out, resource.language);
    AppendDword(&out, 0);  // version
    AppendDword(&out, 0);  // characteristics
    PutDword(&out, start + 4, static_cast<DWORD>(out.size() - start));
    out.insert(out.end(), resource.data.begin(), resource.data.end());
    PadTo(&out, 4);
  }
  return out;
}

// ---- ELF ------------------------------------------------------------------
struct ElfLayout {
  size_t sectionTable = 0;  // e_shoff
  size_t rsrcHeader = 0;    // the .rsrc section header
  size_t rsrc = 0;          // the section's bytes
};

inline Bytes ElfFile(const Bytes& rsrc, ElfLayout* layout = nullptr,
                     const char* sectionName = ".rsrc") {
  const std::string names = std::string(1, '\0') + ".shstrtab" +
                            std::string(1, '\0') + sectionName +
                            std::string(1, '\0');
  Bytes out(64, 0);
  memcpy(out.data(),
         "\x7f"
         "ELF\x02\x01\x01",
         7);
  PutWord(&out, 0x10, 3);     // shared object
  PutWord(&out, 0x12, 0x3E);  // x86-64
  PutDword(&out, 0x14, 1);
  PutWord(&out, 0x34, 64);
  PutWord(&out, 0x36, 56);
  PutWord(&out, 0x3A, 64);
  PutWord(&out, 0x3C, 3);
  PutWord(&out, 0x3E, 1);
  const size_t rsrcOffset = out.size();
  out.insert(out.end(), rsrc.begin(), rsrc.end());
  const size_t namesOffset = out.size();
  out.insert(out.end(), names.begin(), names.end());
  PadTo(&out, 8);
  const size_t table = out.size();
  PutQword(&out, 0x28, table);
  auto section = [&out](DWORD name, DWORD type, uint64_t offset,
                        uint64_t size) {
    AppendDword(&out, name);
    AppendDword(&out, type);
    AppendQword(&out, 0);  // flags: neither allocated nor written
    AppendQword(&out, 0);
    AppendQword(&out, offset);
    AppendQword(&out, size);
    AppendDword(&out, 0);
    AppendDword(&out, 0);
    AppendQword(&out, 1);
    AppendQword(&out, 0);
  };
  section(0, 0, 0, 0);
  section(1, 3, namesOffset, names.size());
  section(11, 1, rsrcOffset, rsrc.size());
  if (layout != nullptr) {
    layout->sectionTable = table;
    layout->rsrcHeader = table + 2 * 64;
    layout->rsrc = rsrcOffset;
  }
  return out;
}

// ---- PE -------------------------------------------------------------------
struct PeLayout {
  size_t resourceDirectory = 0;  // the data directory entry: RVA, size
  size_t sectionHeader = 0;
  size_t root = 0;                  // the root directory in the file
  std::vector<size_t> typeEntries;  // the root's entries in the file
  std::vector<size_t> dataEntries;  // in the order of the resources
};

constexpr DWORD kPeSectionAddress = 0x3000;
constexpr size_t kPeSectionOffset = 0x200;

// Resources of one type and name in a row become the languages of one name,
// in that order.
inline Bytes PeImage(const std::vector<Resource>& resources,
                     PeLayout* layout = nullptr) {
  struct Name {
    Id id;
    std::vector<size_t> languages;  // indexes into resources
  };
  struct Type {
    Id id;
    std::vector<Name> names;
  };
  std::vector<Type> types;
  for (size_t index = 0; index < resources.size(); ++index) {
    const Resource& resource = resources[index];
    if (types.empty() || !(types.back().id == resource.type))
      types.push_back(Type{resource.type, {}});
    std::vector<Name>& names = types.back().names;
    if (names.empty() || !(names.back().id == resource.name))
      names.push_back(Name{resource.name, {}});
    names.back().languages.push_back(index);
  }

  // Directories first, then data entries, strings and data, as a linker
  // lays them out; offsets are filled in once everything has a place.
  Bytes section;
  auto directory = [&section](size_t count) {
    const size_t at = section.size();
    section.resize(at + 16 + 8 * count, 0);
    PutWord(&section, at + 14, static_cast<WORD>(count));
    return at;
  };
  const size_t root = directory(types.size());
  std::vector<size_t> dataEntries(resources.size());
  std::vector<std::pair<size_t, size_t>> links;  // entry -> directory
  std::vector<std::pair<size_t, const Id*>> idFields;
  std::vector<std::pair<size_t, size_t>> leaves;  // entry -> resource
  for (size_t t = 0; t < types.size(); ++t) {
    const size_t nameDirectory = directory(types[t].names.size());
    links.push_back({root + 16 + 8 * t, nameDirectory});
    idFields.push_back({root + 16 + 8 * t, &types[t].id});
    for (size_t n = 0; n < types[t].names.size(); ++n) {
      const Name& name = types[t].names[n];
      const size_t languageDirectory = directory(name.languages.size());
      links.push_back({nameDirectory + 16 + 8 * n, languageDirectory});
      idFields.push_back({nameDirectory + 16 + 8 * n, &name.id});
      for (size_t l = 0; l < name.languages.size(); ++l)
        leaves.push_back({languageDirectory + 16 + 8 * l, name.languages[l]});
    }
  }
  for (auto& leaf : leaves) {
    dataEntries[leaf.second] = section.size();
    PutWord(&section, leaf.first, resources[leaf.second].language);
    PutDword(&section, leaf.first + 4, static_cast<DWORD>(section.size()));
    section.resize(section.size() + 16, 0);
  }
  for (auto& link : links)
    PutDword(&section, link.first + 4,
             0x80000000u | static_cast<DWORD>(link.second));
  for (auto& field : idFields) {
    if (field.second->text.empty()) {
      PutDword(&section, field.first, field.second->id);
      continue;
    }
    PutDword(&section, field.first,
             0x80000000u | static_cast<DWORD>(section.size()));
    AppendWord(&section, static_cast<WORD>(field.second->text.size()));
    for (char16_t unit : field.second->text) AppendWord(&section, unit);
  }
  for (size_t index = 0; index < resources.size(); ++index) {
    PadTo(&section, 4);
    PutDword(&section, dataEntries[index],
             kPeSectionAddress + static_cast<DWORD>(section.size()));
    PutDword(&section, dataEntries[index] + 4,
             static_cast<DWORD>(resources[index].data.size()));
    section.insert(section.end(), resources[index].data.begin(),
                   resources[index].data.end());
  }
  PadTo(&section, 4);

  Bytes out(64, 0);
  out[0] = 'M';
  out[1] = 'Z';
  PutDword(&out, 0x3C, 64);
  AppendDword(&out, 0x00004550);  // "PE\0\0"
  const size_t fileHeader = out.size();
  out.resize(fileHeader + 20, 0);
  PutWord(&out, fileHeader, 0x14C);        // i386
  PutWord(&out, fileHeader + 2, 1);        // one section
  PutWord(&out, fileHeader + 16, 224);     // optional header length
  PutWord(&out, fileHeader + 18, 0x2102);  // DLL, 32-bit, executable
  const size_t optional = out.size();
  out.resize(optional + 224, 0);
  PutWord(&out, optional, 0x10B);
  PutDword(&out, optional + 92, 16);
  const size_t resourceDirectory = optional + 96 + 2 * 8;
  PutDword(&out, resourceDirectory, kPeSectionAddress);
  PutDword(&out, resourceDirectory + 4, static_cast<DWORD>(section.size()));
  const size_t sectionHeader = out.size();
  out.resize(sectionHeader + 40, 0);
  memcpy(&out[sectionHeader], ".rsrc", 5);
  PutDword(&out, sectionHeader + 8, static_cast<DWORD>(section.size()));
  PutDword(&out, sectionHeader + 12, kPeSectionAddress);
  PutDword(&out, sectionHeader + 16, static_cast<DWORD>(section.size()));
  PutDword(&out, sectionHeader + 20, static_cast<DWORD>(kPeSectionOffset));
  out.resize(kPeSectionOffset, 0);
  out.insert(out.end(), section.begin(), section.end());

  if (layout != nullptr) {
    layout->resourceDirectory = resourceDirectory;
    layout->sectionHeader = sectionHeader;
    layout->root = kPeSectionOffset + root;
    layout->typeEntries.clear();
    for (size_t t = 0; t < types.size(); ++t)
      layout->typeEntries.push_back(kPeSectionOffset + root + 16 + 8 * t);
    layout->dataEntries.clear();
    for (size_t entry : dataEntries)
      layout->dataEntries.push_back(kPeSectionOffset + entry);
  }
  return out;
}

}  // namespace resource_files
