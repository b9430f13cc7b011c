// MSFT type libraries: a 0x54-byte header, the type info offset table, a
// directory of fifteen segments, the segments, and one member block per
// type info. Every offset the file stores is checked against the segment it
// points into before it is followed; chains are bounded by the size of
// their segment, type description nesting by a fixed depth, so a damaged or
// hostile file ends in TYPE_E_INVDATAREAD rather than a wild read or an
// endless walk.
//
// Decisions where the format leaves room:
// - TLIBATTR.lcid is the library's own locale attribute (header +10, 0 when
//   the IDL names none), which is also what registration files it under.
// - A dispatch interface without a base of its own inherits the header's
//   IDispatch reference.
// - An import whose type has no GUID entry still loads; only resolving it
//   fails.
#include "msft_reader.h"

#include <string.h>

#include <new>
#include <string>

#include "byte_view.h"
#include "platform_internal.h"
#include "variant_types.h"

namespace qxplatform {
namespace internal {
namespace {

constexpr char kMsftMagic[4] = {'M', 'S', 'F', 'T'};
constexpr char kSltgMagic[4] = {'S', 'L', 'T', 'G'};
constexpr uint32_t kFormatVersion = 0x00010002;
constexpr int64_t kHeaderSize = 0x54;
constexpr uint32_t kHelpStringDllFlag = 0x100;
constexpr int kSegmentCount = 15;
constexpr int64_t kDirectoryEntrySize = 16;
constexpr int64_t kTypeInfoSize = 0x64;
constexpr int64_t kImportInfoSize = 12;
constexpr int64_t kRefEntrySize = 16;
constexpr int64_t kGuidEntrySize = 24;
constexpr int64_t kTypeDescSize = 8;
constexpr int64_t kCustomEntrySize = 12;
constexpr int64_t kFunctionFixedSize = 0x18;
constexpr int64_t kVariableFixedSize = 0x14;
constexpr int64_t kParamSize = 12;
constexpr uint32_t kHasDefaultsBit = 0x1000;
constexpr uint32_t kNullStringLength = 0xFFFFFFFF;
// Hrefs at or above this carry the runtime's own view bits.
constexpr int64_t kHrefLimit = 0x01000000;
// Deeper than any real declaration (a pointer to a pointer to ...).
constexpr int kMaxTypeDepth = 32;
// How much reading a file may cost, in bytes of records, descriptions and
// chain entries, per byte of the file. Parts of a real library are never
// read twice; a hostile one can point many members at one record or many
// owners at one long chain, and is stopped once the work outgrows it.
constexpr int64_t kWorkPerByte = 4;
constexpr int64_t kWorkAllowance = 0x10000;

enum Segment {
  kTypeInfos = 0,
  kImportInfo = 1,
  kImportFiles = 2,
  kRefTable = 3,
  kGuidTable = 5,
  kNameTable = 7,
  kStringTable = 8,
  kTypeDescs = 9,
  kArrayDescs = 10,
  kCustomData = 11,
  kCustomDirectory = 12,
};

struct Failure {};

bool IsSimpleType(VARTYPE vt) {
  return vt <= VT_DECIMAL || (vt >= VT_I1 && vt <= VT_HRESULT) ||
         vt == VT_LPSTR || vt == VT_LPWSTR || vt == 37 /* VT_INT_PTR */ ||
         vt == 38 /* VT_UINT_PTR */;
}

// Inline constants hold at most 26 bits (see InlineConstant); an object
// pointer cannot be stored, so an inline object other than null is damage.
bool IsInlineConstant(VARTYPE vt, uint32_t value) {
  switch (TraitsOf(vt).inlineConstant) {
    case InlineConstant::kAny:
      return true;
    case InlineConstant::kNullOnly:
      return value == 0;
    case InlineConstant::kNever:
      break;
  }
  return false;
}

class Reader {
 public:
  Reader(const uint8_t* data, size_t size, TypeLibModel* model)
      : m_file(data, size),
        m_model(model),
        m_budget(static_cast<int64_t>(size) * kWorkPerByte + kWorkAllowance) {}

  HRESULT Read() {
    HRESULT hr = ReadHeader();
    if (FAILED(hr)) return hr;
    ReadImports();
    ReadLibraryFields();
    for (int32_t i = 0; i < m_count && !m_failed; ++i) ReadTypeInfo(i);
    return m_failed ? TYPE_E_INVDATAREAD : S_OK;
  }

 private:
  // Marks the library damaged; reading goes on harmlessly on zeros so that
  // callers need not unwind, and the result is refused at the end.
  void Fail() { m_failed = true; }
  bool Check(bool condition) {
    if (!condition) Fail();
    return condition;
  }
  bool Spend(int64_t bytes) {
    m_budget -= bytes;
    return Check(m_budget >= 0);
  }

  int32_t FileI32(int64_t offset) {
    int32_t value = 0;
    Check(m_file.I32(offset, &value));
    return value;
  }
  uint32_t FileU32(int64_t offset) {
    return static_cast<uint32_t>(FileI32(offset));
  }

  HRESULT ReadHeader() {
    uint32_t version = 0;
    if (!m_file.Contains(0, kHeaderSize) || !m_file.U32(4, &version))
      return TYPE_E_INVDATAREAD;
    if (version != kFormatVersion) return TYPE_E_UNSUPFORMAT;
    m_varFlags = FileU32(0x14);
    m_count = FileI32(0x20);
    if (m_count < 0 || m_count > kHrefLimit / kTypeInfoSize)
      return TYPE_E_INVDATAREAD;
    int64_t offsetTable =
        kHeaderSize + ((m_varFlags & kHelpStringDllFlag) ? 4 : 0);
    int64_t directory = offsetTable + 4 * static_cast<int64_t>(m_count);
    if (!m_file.Contains(directory, kSegmentCount * kDirectoryEntrySize))
      return TYPE_E_INVDATAREAD;
    for (int i = 0; i < kSegmentCount; ++i) {
      int32_t offset = FileI32(directory + i * kDirectoryEntrySize);
      int32_t length = FileI32(directory + i * kDirectoryEntrySize + 4);
      if (offset == kNone) continue;  // empty, whatever its length says
      if (!m_file.Slice(offset, length, &m_segments[i]))
        return TYPE_E_INVDATAREAD;
    }
    // Hrefs are type info offsets; the runtime relies on entry i sitting at
    // i * 0x64.
    if (!m_segments[kTypeInfos].Contains(0, m_count * kTypeInfoSize))
      return TYPE_E_INVDATAREAD;
    for (int32_t i = 0; i < m_count; ++i) {
      if (FileI32(offsetTable + 4 * i) != i * kTypeInfoSize)
        return TYPE_E_INVDATAREAD;
    }
    if (m_segments[kImportInfo].size() >= static_cast<size_t>(kHrefLimit))
      return TYPE_E_INVDATAREAD;
    return S_OK;
  }

  void ReadLibraryFields() {
    TypeLibModel& lib = *m_model;
    lib.libid = GuidAt(FileI32(0x08));
    lib.lcid = FileU32(0x10);
    uint32_t sysKind = m_varFlags & 0xF;
    if (Check(sysKind <= SYS_WIN64))
      lib.sysKind = static_cast<SYSKIND>(sysKind);
    uint32_t version = FileU32(0x18);
    lib.majorVersion = static_cast<WORD>(version & 0xFFFF);
    lib.minorVersion = static_cast<WORD>(version >> 16);
    lib.flags = static_cast<WORD>(FileU32(0x1C) & 0xFFFF);
    lib.docString = StringAt(FileI32(0x24));
    lib.helpStringContext = FileU32(0x28);
    lib.helpContext = FileU32(0x2C);
    lib.name = NameAt(FileI32(0x38));
    lib.helpFile = StringAt(FileI32(0x3C));
    lib.custom = CustomChain(FileI32(0x40));
    int32_t dispatchHref = FileI32(0x4C);
    if (dispatchHref != kNone && CheckHref(dispatchHref))
      lib.dispatchHref = dispatchHref;
    if (m_varFlags & kHelpStringDllFlag)
      lib.helpStringDll = StringAt(FileI32(kHeaderSize));
  }

  // ---- segments -------------------------------------------------------------

  const ByteView& Seg(Segment segment) const { return m_segments[segment]; }

  int32_t SegI32(Segment segment, int64_t offset) {
    int32_t value = 0;
    Check(Seg(segment).I32(offset, &value));
    return value;
  }
  uint16_t SegU16(Segment segment, int64_t offset) {
    uint16_t value = 0;
    Check(Seg(segment).U16(offset, &value));
    return value;
  }

  GUID GuidAt(int32_t offset) {
    GUID guid = {};
    Check(Seg(kGuidTable).Contains(offset, kGuidEntrySize) &&
          Seg(kGuidTable).Bytes(offset, &guid, sizeof(guid)));
    return guid;
  }

  int32_t AddText(std::u16string text) {
    m_model->texts.push_back(std::move(text));
    return static_cast<int32_t>(m_model->texts.size() - 1);
  }

  // length ANSI bytes at offset of a segment, as a text of the model; kNone
  // when they lie outside it.
  int32_t TextAt(Segment segment, int64_t offset, size_t length) {
    std::string bytes(length, '\0');
    if (!Check(Seg(segment).Bytes(offset, &bytes[0], length))) return kNone;
    return AddText(AnsiToWide(bytes));
  }

  // Name table entry: href, next, length byte, kind, hash, the bytes.
  int32_t NameAt(int32_t offset) {
    if (offset == kNone) return kNone;
    auto found = m_names.find(offset);
    if (found != m_names.end()) return found->second;
    uint8_t length = 0;
    if (!Check(Seg(kNameTable).U8(static_cast<int64_t>(offset) + 8, &length)))
      return kNone;
    const int32_t index =
        TextAt(kNameTable, static_cast<int64_t>(offset) + 12, length);
    if (index != kNone) m_names[offset] = index;
    return index;
  }

  // String table entry: a 16-bit length, the bytes.
  int32_t StringAt(int32_t offset) {
    if (offset == kNone) return kNone;
    auto found = m_strings.find(offset);
    if (found != m_strings.end()) return found->second;
    const uint16_t length = SegU16(kStringTable, offset);
    const int32_t index =
        TextAt(kStringTable, static_cast<int64_t>(offset) + 2, length);
    if (index != kNone) m_strings[offset] = index;
    return index;
  }

  // ---- hrefs and imports ----------------------------------------------------

  bool CheckHref(int64_t href) {
    if (href < 0 || href >= kHrefLimit) return Check(false);
    if (href & 1)
      return Check(m_model->importedTypes.count(static_cast<HREFTYPE>(href)));
    return Check(href % kTypeInfoSize == 0 && href / kTypeInfoSize < m_count);
  }

  // Every import info entry, so that external hrefs can be checked against
  // them.
  void ReadImports() {
    const ByteView& infos = Seg(kImportInfo);
    for (int64_t offset = 0; offset + kImportInfoSize <= int64_t(infos.size());
         offset += kImportInfoSize) {
      uint8_t flags = 0;
      Check(infos.U8(offset + 2, &flags));
      ImportedType type;
      type.library = ImportedLibraryAt(SegI32(kImportInfo, offset + 4));
      int32_t target = SegI32(kImportInfo, offset + 8);
      if (flags & 1) {
        type.byGuid = true;
        // A missing GUID entry leaves the type unresolvable, not the
        // library unreadable.
        if (target == kNone)
          type.library = kNone;
        else
          type.guid = GuidAt(target);
      } else {
        type.byGuid = false;
        Check(target >= 0);
        type.typeIndex = target;
      }
      m_model->importedTypes[static_cast<HREFTYPE>(offset | 1)] = type;
    }
  }

  // Import file entry: LIBID, lcid, version, name size word, the name.
  int32_t ImportedLibraryAt(int32_t offset) {
    auto found = m_importFiles.find(offset);
    if (found != m_importFiles.end()) return found->second;
    ImportedLibrary library;
    library.libid = GuidAt(SegI32(kImportFiles, offset));
    library.lcid = static_cast<LCID>(SegI32(kImportFiles, int64_t(offset) + 4));
    library.majorVersion = SegU16(kImportFiles, int64_t(offset) + 8);
    library.minorVersion = SegU16(kImportFiles, int64_t(offset) + 10);
    size_t length = SegU16(kImportFiles, int64_t(offset) + 12) >> 2;
    std::string name(length, '\0');
    if (Check(Seg(kImportFiles).Bytes(int64_t(offset) + 14, &name[0], length)))
      library.fileName = AddText(AnsiToWide(name));
    m_model->importedLibraries.push_back(library);
    int32_t index = static_cast<int32_t>(m_model->importedLibraries.size() - 1);
    m_importFiles[offset] = index;
    return index;
  }

  // ---- values ---------------------------------------------------------------

  Constant ConstantOf(int32_t word) {
    Constant value;
    if (word == kNone) return value;
    if (word < 0) {
      uint32_t bits = static_cast<uint32_t>(word);
      value.vt = static_cast<VARTYPE>((bits >> 26) & 0x1F);
      value.bits = bits & 0x03FFFFFF;
      if (!Check(IsInlineConstant(value.vt, static_cast<uint32_t>(value.bits))))
        return Constant();
      return value;
    }
    const ByteView& data = Seg(kCustomData);
    uint16_t vt = SegU16(kCustomData, word);
    value.vt = vt;
    if (vt == VT_BSTR) {
      auto found = m_bstrs.find(word);
      if (found != m_bstrs.end()) {
        value.text = found->second;
        return value;
      }
      uint32_t length = 0;
      if (!Check(data.U32(int64_t(word) + 2, &length))) return Constant();
      // A length of -1 is the null string, which has no text at all (an
      // empty string has one).
      if (length == kNullStringLength) return value;
      if (!Check(data.Contains(int64_t(word) + 6, length))) return Constant();
      std::string bytes(reinterpret_cast<const char*>(data.data()) + word + 6,
                        length);
      value.text = AddText(AnsiToWide(bytes));
      m_bstrs[word] = value.text;
      return value;
    }
    int size = TraitsOf(vt).storedSize;
    if (!Check(size >= 0) ||
        !Check(data.Bytes(int64_t(word) + 2, &value.bits, size)))
      return Constant();
    return value;
  }

  // Custom data directory entries: GUID offset, value, next.
  CustomList CustomChain(int32_t offset) {
    CustomList list;
    const size_t limit = Seg(kCustomDirectory).size() / kCustomEntrySize;
    while (offset != kNone && !m_failed) {
      if (!Check(list.size() < limit) || !Spend(kCustomEntrySize)) break;
      CustomEntry entry;
      entry.guid = GuidAt(SegI32(kCustomDirectory, offset));
      entry.value = ConstantOf(SegI32(kCustomDirectory, int64_t(offset) + 4));
      list.push_back(entry);
      offset = SegI32(kCustomDirectory, int64_t(offset) + 8);
    }
    return list;
  }

  // ---- type descriptions ----------------------------------------------------

  int32_t AddNode(const TypeNode& node) {
    m_model->nodes.push_back(node);
    return static_cast<int32_t>(m_model->nodes.size() - 1);
  }

  // A DataType word: negative for a simple type, else an 8-byte entry of
  // the type descriptor segment.
  int32_t TypeOf(int32_t word, int depth = 0) {
    TypeNode node;
    if (!Check(depth < kMaxTypeDepth) || !Spend(kTypeDescSize))
      return AddNode(node);
    if (word < 0) {
      node.vt = static_cast<VARTYPE>(word & 0x7FFF);
      Check(IsSimpleType(node.vt));
      return AddNode(node);
    }
    node.vt = static_cast<VARTYPE>(SegU16(kTypeDescs, word) & 0x7FFF);
    int32_t ref = SegI32(kTypeDescs, int64_t(word) + 4);
    Check(Seg(kTypeDescs).Contains(word, kTypeDescSize));
    if (m_failed) return AddNode(TypeNode());
    switch (node.vt) {
      case VT_PTR:
      case VT_SAFEARRAY:
        node.child = TypeOf(ref, depth + 1);
        break;
      case VT_USERDEFINED:
        if (CheckHref(ref)) node.href = static_cast<HREFTYPE>(ref);
        break;
      case VT_CARRAY:
        node.array = ArrayOf(ref, depth);
        break;
      default:
        Check(IsSimpleType(node.vt));
        break;
    }
    return AddNode(node);
  }

  // Array descriptor: element DataType, dimension count, a word, then per
  // dimension the element count and the lower bound.
  int32_t ArrayOf(int32_t offset, int depth) {
    ArrayShape shape;
    int32_t element = SegI32(kArrayDescs, offset);
    uint16_t dims = SegU16(kArrayDescs, int64_t(offset) + 4);
    if (!Check(dims > 0) || !Spend(int64_t(dims) * 8) ||
        !Check(
            Seg(kArrayDescs).Contains(int64_t(offset) + 8, int64_t(dims) * 8)))
      return kNone;
    for (uint16_t i = 0; i < dims; ++i) {
      SAFEARRAYBOUND bound;
      bound.cElements =
          static_cast<ULONG>(SegI32(kArrayDescs, int64_t(offset) + 8 + 8 * i));
      bound.lLbound = SegI32(kArrayDescs, int64_t(offset) + 12 + 8 * i);
      shape.bounds.push_back(bound);
    }
    shape.element = TypeOf(element, depth + 1);
    m_model->arrays.push_back(std::move(shape));
    return static_cast<int32_t>(m_model->arrays.size() - 1);
  }

  // ---- type infos -----------------------------------------------------------

  int32_t InfoI32(int64_t base, int64_t field) {
    return SegI32(kTypeInfos, base + field);
  }

  void ReadTypeInfo(int32_t index) {
    const int64_t base = index * kTypeInfoSize;
    TypeEntry type;
    uint32_t kindWord = static_cast<uint32_t>(InfoI32(base, 0x00));
    if (!Check((kindWord & 0xF) < TKIND_MAX)) return;
    type.kind = static_cast<TYPEKIND>(kindWord & 0xF);
    type.alignment = static_cast<WORD>((kindWord >> 11) & 0x1F);
    uint32_t elements = static_cast<uint32_t>(InfoI32(base, 0x18));
    int32_t guid = InfoI32(base, 0x2C);
    if (guid != kNone) {
      type.guid = GuidAt(guid);
      type.hasGuid = true;
    }
    type.flags = static_cast<WORD>(InfoI32(base, 0x30) & 0xFFFF);
    type.name = NameAt(InfoI32(base, 0x34));
    uint32_t version = static_cast<uint32_t>(InfoI32(base, 0x38));
    type.majorVersion = static_cast<WORD>(version & 0xFFFF);
    type.minorVersion = static_cast<WORD>(version >> 16);
    type.docString = StringAt(InfoI32(base, 0x3C));
    type.helpStringContext = static_cast<DWORD>(InfoI32(base, 0x40));
    type.helpContext = static_cast<DWORD>(InfoI32(base, 0x44));
    type.custom = CustomChain(InfoI32(base, 0x48));
    uint32_t sizes = static_cast<uint32_t>(InfoI32(base, 0x4C));
    uint16_t implTypes = static_cast<uint16_t>(sizes & 0xFFFF);
    type.cbSizeVft = static_cast<WORD>(sizes >> 16);
    type.cbSizeInstance = static_cast<ULONG>(InfoI32(base, 0x50));
    int32_t dataType1 = InfoI32(base, 0x54);

    switch (type.kind) {
      case TKIND_COCLASS:
        ReadImplTypes(dataType1, implTypes, &type);
        break;
      case TKIND_INTERFACE:
      case TKIND_DISPATCH:
        if (dataType1 != kNone) {
          if (CheckHref(dataType1)) type.base = dataType1;
        } else if (type.kind == TKIND_DISPATCH) {
          type.base = m_model->dispatchHref;
        }
        break;
      case TKIND_ALIAS:
        type.aliasType = TypeOf(dataType1);
        break;
      default:
        break;
    }
    uint16_t functions = static_cast<uint16_t>(elements & 0xFFFF);
    uint16_t variables = static_cast<uint16_t>(elements >> 16);
    if (functions + variables > 0)
      ReadMembers(InfoI32(base, 0x04), functions, variables, &type);
    if (!m_failed) m_model->types.push_back(std::move(type));
  }

  // Reference table entries: href, flags, custom data, next.
  void ReadImplTypes(int32_t offset, uint16_t count, TypeEntry* type) {
    for (uint16_t i = 0; i < count && !m_failed; ++i) {
      if (!Check(Seg(kRefTable).Contains(offset, kRefEntrySize)) ||
          !Spend(kRefEntrySize))
        return;
      ImplType impl;
      int32_t href = SegI32(kRefTable, offset);
      if (CheckHref(href)) impl.href = static_cast<HREFTYPE>(href);
      impl.flags = SegI32(kRefTable, int64_t(offset) + 4);
      impl.custom = CustomChain(SegI32(kRefTable, int64_t(offset) + 8));
      type->implTypes.push_back(std::move(impl));
      offset = SegI32(kRefTable, int64_t(offset) + 12);
    }
  }

  // The member block: the records' total size, the records, then the
  // member ids, the name offsets and the record offsets, one per member.
  void ReadMembers(int32_t blockOffset, uint16_t functions, uint16_t variables,
                   TypeEntry* type) {
    const int64_t count = int64_t(functions) + variables;
    int32_t recordsSize = FileI32(blockOffset);
    ByteView records;
    ByteView arrays;
    if (!Check(m_file.Slice(int64_t(blockOffset) + 4, recordsSize, &records)) ||
        !Check(m_file.Slice(int64_t(blockOffset) + 4 + recordsSize, count * 12,
                            &arrays)) ||
        !Spend(count * 12))
      return;
    for (int64_t i = 0; i < count && !m_failed; ++i) {
      int32_t memid = 0;
      int32_t name = 0;
      int32_t offset = 0;
      arrays.I32(4 * i, &memid);
      arrays.I32(4 * (count + i), &name);
      arrays.I32(4 * (2 * count + i), &offset);
      uint32_t info = 0;
      ByteView record;
      if (!Check(records.U32(offset, &info)) ||
          !Check(records.Slice(offset, info & 0xFFFF, &record)) ||
          !Spend(record.size()))
        return;
      if (i < functions) {
        Function function;
        function.memid = memid;
        function.name = NameAt(name);
        ReadFunction(record, &function);
        type->functions.push_back(std::move(function));
      } else {
        Variable variable;
        variable.memid = memid;
        variable.name = NameAt(name);
        ReadVariable(record, &variable);
        type->variables.push_back(std::move(variable));
      }
    }
  }

  int32_t RecordI32(const ByteView& record, int64_t offset) {
    int32_t value = 0;
    Check(record.I32(offset, &value));
    return value;
  }

  void ReadFunction(const ByteView& record, Function* function) {
    const int64_t size = static_cast<int64_t>(record.size());
    if (!Check(size >= kFunctionFixedSize)) return;
    int16_t oVft = 0;
    int16_t params = 0;
    int16_t optional = 0;
    record.I16(0x0C, &oVft);
    record.I16(0x14, &params);
    record.I16(0x16, &optional);
    uint32_t bits = static_cast<uint32_t>(RecordI32(record, 0x10));
    const bool hasDefaults = (bits & kHasDefaultsBit) != 0;
    const int64_t fixed =
        kFunctionFixedSize +
        int64_t(params) * (kParamSize + (hasDefaults ? 4 : 0));
    if (!Check(params >= 0 && fixed <= size && optional >= -1 &&
               optional <= params))
      return;
    uint32_t funcKind = bits & 0x7;
    uint32_t invokeKind = (bits >> 3) & 0xF;
    uint32_t callConv = (bits >> 8) & 0xF;
    if (!Check(funcKind <= FUNC_DISPATCH && callConv < CC_MAX &&
               (invokeKind == INVOKE_FUNC || invokeKind == INVOKE_PROPERTYGET ||
                invokeKind == INVOKE_PROPERTYPUT ||
                invokeKind == INVOKE_PROPERTYPUTREF)))
      return;
    function->funcKind = static_cast<FUNCKIND>(funcKind);
    function->invokeKind = static_cast<INVOKEKIND>(invokeKind);
    function->callConv = static_cast<CALLCONV>(callConv);
    function->oVft = oVft;
    function->cParamsOpt = optional;
    function->flags = static_cast<WORD>(RecordI32(record, 0x08) & 0xFFFF);
    function->returnType = TypeOf(RecordI32(record, 0x04));

    // The optional words: helpcontext, help string, entry, two reserved,
    // helpstringcontext, custom data, then custom data per parameter.
    const int64_t words = (size - fixed) / 4;
    auto word = [&](int64_t index, int32_t absent) {
      return OptionalWord(record, kFunctionFixedSize, words, index, absent);
    };
    function->helpContext = static_cast<DWORD>(word(0, 0));
    function->docString = StringAt(word(1, kNone));
    function->helpStringContext = static_cast<DWORD>(word(5, 0));
    function->custom = CustomChain(word(6, kNone));
    ReadParams(record, params, hasDefaults, words, function);
  }

  // A record's optional word by its index after the fixed part; absent past
  // the words it has.
  int32_t OptionalWord(const ByteView& record, int64_t fixedSize,
                       int64_t words, int64_t index, int32_t absent) {
    return index < words ? RecordI32(record, fixedSize + 4 * index) : absent;
  }

  // A function record's parameters, at its end; their defaults, when it has
  // any, after its optional words; their custom data among those words.
  void ReadParams(const ByteView& record, int16_t params, bool hasDefaults,
                  int64_t words, Function* function) {
    const int64_t size = static_cast<int64_t>(record.size());
    const int64_t defaults = kFunctionFixedSize + 4 * words;
    const int64_t paramBase = size - int64_t(params) * kParamSize;
    for (int16_t p = 0; p < params && !m_failed; ++p) {
      Param param;
      const int64_t at = paramBase + int64_t(p) * kParamSize;
      param.type = TypeOf(RecordI32(record, at));
      param.name = NameAt(RecordI32(record, at + 4));
      param.flags = static_cast<USHORT>(RecordI32(record, at + 8) & 0xFFFF);
      if (hasDefaults) {
        int32_t value = RecordI32(record, defaults + 4 * p);
        if (value != kNone && (param.flags & PARAMFLAG_FHASDEFAULT)) {
          param.defaultValue = ConstantOf(value);
          param.hasDefault = true;
        }
      }
      // A default announced but not stored is no default at all.
      if (!param.hasDefault) param.flags &= ~PARAMFLAG_FHASDEFAULT;
      param.custom = CustomChain(
          OptionalWord(record, kFunctionFixedSize, words, 7 + p, kNone));
      function->params.push_back(std::move(param));
    }
  }

  void ReadVariable(const ByteView& record, Variable* variable) {
    const int64_t size = static_cast<int64_t>(record.size());
    if (!Check(size >= kVariableFixedSize)) return;
    uint16_t varKind = 0;
    record.U16(0x0C, &varKind);
    if (!Check(varKind <= VAR_DISPATCH)) return;
    variable->varKind = static_cast<VARKIND>(varKind);
    variable->type = TypeOf(RecordI32(record, 0x04));
    variable->flags = static_cast<WORD>(RecordI32(record, 0x08) & 0xFFFF);
    int32_t value = RecordI32(record, 0x10);
    if (variable->varKind == VAR_CONST)
      variable->value = ConstantOf(value);
    else
      variable->oInst = static_cast<ULONG>(value);
    // The optional words: helpcontext, help string, a reserved word, custom
    // data, helpstringcontext.
    const int64_t words = (size - kVariableFixedSize) / 4;
    auto word = [&](int64_t index, int32_t absent) {
      return index < words ? RecordI32(record, kVariableFixedSize + 4 * index)
                           : absent;
    };
    variable->helpContext = static_cast<DWORD>(word(0, 0));
    variable->docString = StringAt(word(1, kNone));
    variable->custom = CustomChain(word(3, kNone));
    variable->helpStringContext = static_cast<DWORD>(word(4, 0));
  }

  ByteView m_file;
  TypeLibModel* m_model;
  ByteView m_segments[kSegmentCount];
  uint32_t m_varFlags = 0;
  int32_t m_count = 0;
  bool m_failed = false;
  int64_t m_budget;
  std::map<int32_t, int32_t> m_names;
  std::map<int32_t, int32_t> m_bstrs;
  std::map<int32_t, int32_t> m_strings;
  std::map<int32_t, int32_t> m_importFiles;
};

}  // namespace

bool LooksLikeTypeLibrary(const uint8_t* data, size_t size) {
  return size >= 4 &&
         (memcmp(data, kMsftMagic, 4) == 0 || memcmp(data, kSltgMagic, 4) == 0);
}

HRESULT ReadMsftLibrary(const uint8_t* data, size_t size,
                        std::shared_ptr<const TypeLibModel>* model) {
  if (size < 4 || memcmp(data, kMsftMagic, 4) != 0) return TYPE_E_UNSUPFORMAT;
  auto parsed = std::shared_ptr<TypeLibModel>(new (std::nothrow) TypeLibModel);
  if (!parsed) return E_OUTOFMEMORY;
  HRESULT hr = Reader(data, size, parsed.get()).Read();
  if (FAILED(hr)) return hr;
  *model = std::move(parsed);
  return S_OK;
}

}  // namespace internal
}  // namespace qxplatform
