// ITypeLib over a TypeLibModel. The library owns one type info object per
// view of each type (two for a dual interface: the dispatch view as stored
// and the vtable view); they share the library's reference count, so a
// type info keeps its library alive and the same view is always the same
// object. Imported libraries are loaded on first use and held until the
// library goes.
#pragma once
#include <oaidl.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "member_index.h"
#include "type_model.h"

namespace qxplatform {
namespace internal {

class TypeInfo;

// Bits the runtime sets in the hrefs it hands out; stored hrefs stay below
// kHrefViewBits. A dual interface's vtable view, and, in a dispatch view, a
// type that an inherited member names in its own library.
constexpr HREFTYPE kInterfaceViewBit = 0x01000000;
constexpr HREFTYPE kBorrowedBit = 0x02000000;
constexpr HREFTYPE kHrefViewBits = kInterfaceViewBit | kBorrowedBit;
constexpr size_t kTypeInfoRecordSize = 0x64;

class TypeLib final : public ITypeLib {
 public:
  // A library with one reference.
  static HRESULT Create(std::shared_ptr<const TypeLibModel> model,
                        TypeLib** lib);

  const TypeLibModel& model() const { return *m_model; }
  // The view of type index: its vtable view when asked for and it is dual.
  TypeInfo* View(size_t index, bool interfaceView) const;
  // The href that names type index in this library.
  static HREFTYPE HrefOf(size_t index) {
    return static_cast<HREFTYPE>(index * kTypeInfoRecordSize);
  }
  // The library and type index an href of this library names; the library
  // lives as long as this one.
  HRESULT ResolveHref(HREFTYPE href, TypeLib** lib, size_t* index);
  // A type by GUID, or -1.
  int64_t FindType(REFGUID guid) const;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // ITypeLib
  UINT STDMETHODCALLTYPE GetTypeInfoCount() override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index,
                                        ITypeInfo** ppTInfo) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfoType(UINT index,
                                            TYPEKIND* pTKind) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfoOfGuid(REFGUID guid,
                                              ITypeInfo** ppTinfo) override;
  HRESULT STDMETHODCALLTYPE GetLibAttr(TLIBATTR** ppTLibAttr) override;
  HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp** ppTComp) override;
  HRESULT STDMETHODCALLTYPE GetDocumentation(INT index, BSTR* pBstrName,
                                             BSTR* pBstrDocString,
                                             DWORD* pdwHelpContext,
                                             BSTR* pBstrHelpFile) override;
  HRESULT STDMETHODCALLTYPE IsName(LPOLESTR szNameBuf, ULONG lHashVal,
                                   BOOL* pfName) override;
  HRESULT STDMETHODCALLTYPE FindName(LPOLESTR szNameBuf, ULONG lHashVal,
                                     ITypeInfo** ppTInfo, MEMBERID* rgMemId,
                                     USHORT* pcFound) override;
  void STDMETHODCALLTYPE ReleaseTLibAttr(TLIBATTR* pTLibAttr) override;

 private:
  explicit TypeLib(std::shared_ptr<const TypeLibModel> model);
  ~TypeLib();
  HRESULT ImportedLibrary(int32_t index, TypeLib** lib);
  // A name the library defines: a type's, a member's or a parameter's,
  // with the type and member id it belongs to.
  struct NameEntry {
    int32_t name;
    uint32_t type;
    MEMBERID memid;
    bool isParam;
  };
  // Every name the library defines, types first then their members, each
  // followed by its parameters; indexed on first use, so that IsName and
  // FindName take time in the number of findings, not of names.
  struct Names {
    std::vector<NameEntry> entries;
    MemberIndex index;  // by name; the member ids are the entries'
  };
  const Names& NamesIndex();

  std::atomic<ULONG> m_references{1};
  std::shared_ptr<const TypeLibModel> m_model;
  // Two slots per type: the view as stored, then the vtable view of a dual.
  std::vector<std::unique_ptr<TypeInfo>> m_views;
  std::mutex m_namesLock;
  bool m_namesReady = false;
  Names m_names;
  std::mutex m_importsLock;
  std::vector<TypeLib*> m_imports;  // one per imported library, held
};

// Several texts of one request as BSTRs: all of them, or none and
// E_OUTOFMEMORY. A null destination is not wanted.
HRESULT CopyTexts(
    std::initializer_list<std::pair<BSTR*, const std::u16string*>> texts);

}  // namespace internal
}  // namespace qxplatform
