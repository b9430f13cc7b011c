// Windows images through LoadLibrary: notifications in Windows's order and
// counts (TLS callbacks and the entry point, process and thread events),
// one mapping shared by repeated loads, relocation when the preferred base
// is taken, the thread environment the image reads through %fs, exports by
// name and ordinal with forwarders followed, resources read in the mapped
// image, every import nobody provides
// named in the refusal (LastLoadFailure), and damaged files refused with
// nothing mapped.
// Images run in the 32-bit build only; a 64-bit process refuses them as
// 64-bit Windows refuses a 32-bit library.
#include <sys/mman.h>
#include <windows.h>

#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "support/platform_fixture.h"
#include "support/scratch_directory.h"

namespace {

#if defined(QX_PE_FIXTURE_DIR)
const std::string kFixtures = QX_PE_FIXTURE_DIR;
#else
const std::string kFixtures;
#endif
const std::string kProbe = kFixtures + "/pe_probe.dll";
const std::string kRefusingProbe = kFixtures + "/pe_probe_refuses.dll";
const std::string kMissingImport = kFixtures + "/pe_missing_import.dll";
const std::string kForwardUser = kFixtures + "/pe_forward_user.dll";
// The probe's preferred base, as its build sets it.
constexpr uintptr_t kProbeBase = 0x63400000;

constexpr DWORD kTls = 100;  // the probe records TLS callbacks as 100 + reason

typedef void(WINAPI* RecordIntoProc)(DWORD*, LONG, LONG*);
typedef LONG(WINAPI* CountProc)();
typedef int(WINAPI* FlagProc)();
typedef DWORD(WINAPI* CallProc)();
typedef LONG(WINAPI* TripleProc)(LONG);
typedef DWORD(WINAPI* ThreadWordProc)(LONG);
typedef void(WINAPI* SetThreadWordProc)(LONG, DWORD);
typedef void*(WINAPI* ImportProc)(LONG);

template <typename Proc>
Proc Lookup(HMODULE module, LPCSTR name) {
  return reinterpret_cast<Proc>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

class WindowsImageLoader : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    if (kFixtures.empty()) GTEST_SKIP() << "the win32 fixtures are not built";
    if (sizeof(void*) != 4) GTEST_SKIP() << "images run in the 32-bit build";
  }

  // Loads the probe and has it record into m_events from then on.
  HMODULE LoadProbe() {
    HMODULE probe = LoadLibraryA(kProbe.c_str());
    EXPECT_NE(probe, nullptr) << "error " << GetLastError();
    if (probe == nullptr) return nullptr;
    auto recordInto = Lookup<RecordIntoProc>(probe, "ProbeRecordInto");
    EXPECT_NE(recordInto, nullptr);
    if (recordInto != nullptr) recordInto(m_events, kCapacity, &m_count);
    return probe;
  }

  std::vector<DWORD> Events() const {
    return std::vector<DWORD>(m_events,
                              m_events + std::min<LONG>(m_count, kCapacity));
  }

  static constexpr LONG kCapacity = 64;
  DWORD m_events[kCapacity] = {};
  LONG m_count = 0;
};

TEST(WindowsImageIn64BitProcess, IsRefusedAsTheWrongFormat) {
  if (sizeof(void*) != 8 || kFixtures.empty()) GTEST_SKIP();
  EXPECT_EQ(LoadLibraryA(kProbe.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
  EXPECT_EQ(qxplatform::LastLoadFailure(),
            "cannot load " + kProbe +
                ": a 32-bit Windows image cannot run in a 64-bit process");
}

TEST_F(WindowsImageLoader, LoadsFreesAndHearsOfThreadsInOrder) {
  HMODULE probe = LoadProbe();
  ASSERT_NE(probe, nullptr);
  // The handle is the image's address, as on Windows.
  EXPECT_EQ(reinterpret_cast<uintptr_t>(probe) & 0xFFFF, 0u);
  EXPECT_EQ(Lookup<CountProc>(probe, "ProbeAttaches")(), 1);

  // A second load shares the mapping and tells the image nothing.
  EXPECT_EQ(LoadLibraryA(kProbe.c_str()), probe);
  EXPECT_EQ(GetModuleHandleA("PE_PROBE.DLL"), probe);
  EXPECT_EQ(Lookup<CountProc>(probe, "ProbeAttaches")(), 1);

  std::thread([] {}).join();
  EXPECT_EQ(Events(),
            (std::vector<DWORD>{kTls + DLL_THREAD_ATTACH, DLL_THREAD_ATTACH,
                                DLL_THREAD_DETACH, kTls + DLL_THREAD_DETACH}));

  m_count = 0;
  ASSERT_TRUE(FreeLibrary(probe));
  EXPECT_EQ(m_count, 0) << "the first free must not detach";
  ASSERT_TRUE(FreeLibrary(probe));
  EXPECT_EQ(Events(), (std::vector<DWORD>{DLL_PROCESS_DETACH,
                                          kTls + DLL_PROCESS_DETACH}));
  EXPECT_EQ(GetModuleHandleA("pe_probe.dll"), nullptr);
  EXPECT_FALSE(FreeLibrary(probe));
}

TEST_F(WindowsImageLoader, SeesItsOwnThreadEnvironmentOnEveryThread) {
  HMODULE probe = LoadProbe();
  ASSERT_NE(probe, nullptr);
  EXPECT_EQ(Lookup<FlagProc>(probe, "ProbeTebAtAttach")(), 1);
  auto here = Lookup<FlagProc>(probe, "ProbeTebHere");
  EXPECT_EQ(here(), 1);
  int onThread = -1;
  std::thread([&] { onThread = here(); }).join();
  EXPECT_EQ(onThread, 1);
  FreeLibrary(probe);
}

TEST_F(WindowsImageLoader, EveryThreadHasItsOwnCopyOfTheThreadData) {
  HMODULE probe = LoadProbe();
  ASSERT_NE(probe, nullptr);
  auto word = Lookup<ThreadWordProc>(probe, "ProbeThreadWord");
  auto setWord = Lookup<SetThreadWordProc>(probe, "ProbeSetThreadWord");
  ASSERT_NE(word, nullptr);
  ASSERT_NE(setWord, nullptr);
  // The template, then the zero fill.
  EXPECT_EQ(word(0), 7u);
  EXPECT_EQ(word(1), 0u);
  setWord(0, 9);
  setWord(1, 10);
  DWORD seen[2] = {};
  std::thread([&] {
    seen[0] = word(0);
    seen[1] = word(1);
    setWord(0, 5);
  }).join();
  EXPECT_EQ(seen[0], 7u);
  EXPECT_EQ(seen[1], 0u);
  EXPECT_EQ(word(0), 9u);
  EXPECT_EQ(word(1), 10u);
  FreeLibrary(probe);

  // Loaded again, the image starts from its template once more.
  probe = LoadProbe();
  ASSERT_NE(probe, nullptr);
  word = Lookup<ThreadWordProc>(probe, "ProbeThreadWord");
  EXPECT_EQ(word(0), 7u);
  FreeLibrary(probe);
}

TEST_F(WindowsImageLoader, CallsThePlatformThroughItsImports) {
  HMODULE probe = LoadProbe();
  ASSERT_NE(probe, nullptr);
  EXPECT_EQ(Lookup<CallProc>(probe, "ProbeCallsThePlatform")(),
            GetCurrentThreadId() ^ 5u);
  FreeLibrary(probe);
}

TEST_F(WindowsImageLoader, RelocatesWhenItsPreferredBaseIsTaken) {
  void* occupied =
      mmap(reinterpret_cast<void*>(kProbeBase), 0x10000, PROT_NONE,
           MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
  ASSERT_EQ(occupied, reinterpret_cast<void*>(kProbeBase));
  HMODULE probe = LoadProbe();
  ASSERT_NE(probe, nullptr);
  EXPECT_NE(reinterpret_cast<uintptr_t>(probe), kProbeBase);
  // Its relocated pointers and TLS callback table work where it landed.
  EXPECT_EQ(Lookup<CountProc>(probe, "ProbeAttaches")(), 1);
  std::thread([] {}).join();
  EXPECT_EQ(Events().front(), kTls + DLL_THREAD_ATTACH);
  FreeLibrary(probe);
  munmap(occupied, 0x10000);
}

TEST_F(WindowsImageLoader, ExportsByNameAndByOrdinal) {
  HMODULE probe = LoadProbe();
  ASSERT_NE(probe, nullptr);
  auto triple = Lookup<TripleProc>(probe, MAKEINTRESOURCEA(9));
  ASSERT_NE(triple, nullptr);
  EXPECT_EQ(triple(14), 42);
  EXPECT_EQ(Lookup<CountProc>(probe, MAKEINTRESOURCEA(2)),
            Lookup<CountProc>(probe, "ProbeAttaches"));
  SetLastError(0);
  EXPECT_EQ(GetProcAddress(probe, "probeattaches"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  EXPECT_EQ(GetProcAddress(probe, MAKEINTRESOURCEA(77)), nullptr);
  FreeLibrary(probe);
}

// A forwarder ("KERNEL32.GetCurrentProcessId", "pe_probe.ProbeAttaches",
// "pe_probe.#9") is the function it names, its library found by the usual
// rules (the name without an extension is a .dll file).
TEST_F(WindowsImageLoader, ForwardersLeadToTheFunctionTheyName) {
  HMODULE probe = LoadProbe();
  ASSERT_NE(probe, nullptr);
  HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
  ASSERT_NE(kernel32, nullptr);
  FARPROC forwarded = GetProcAddress(probe, "ProbeForwarded");
  ASSERT_NE(forwarded, nullptr) << GetLastError();
  EXPECT_EQ(forwarded, GetProcAddress(kernel32, "GetCurrentProcessId"));
  EXPECT_EQ(Lookup<CallProc>(probe, "ProbeForwarded")(), GetCurrentProcessId());
  EXPECT_EQ(GetProcAddress(probe, MAKEINTRESOURCEA(10)), forwarded);

  EXPECT_EQ(Lookup<CountProc>(probe, "ProbeForwardedHere"),
            Lookup<CountProc>(probe, "ProbeAttaches"));
  auto triple = Lookup<TripleProc>(probe, "ProbeForwardedByOrdinal");
  ASSERT_NE(triple, nullptr) << GetLastError();
  EXPECT_EQ(triple, Lookup<TripleProc>(probe, MAKEINTRESOURCEA(9)));

  // A forwarder to itself ends, and one to a library nobody has is refused
  // as that library's load is.
  SetLastError(0);
  EXPECT_EQ(GetProcAddress(probe, "ProbeForwardLoop"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  SetLastError(0);
  EXPECT_EQ(GetProcAddress(probe, "ProbeForwardedNowhere"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));

  // Following its own forwarders holds no reference that keeps it loaded.
  ASSERT_TRUE(FreeLibrary(probe));
  EXPECT_EQ(GetModuleHandleA("pe_probe"), nullptr);
}

// An image importing through another image's forwarders is bound to the
// functions they name, and holds that image loaded until it goes itself.
TEST_F(WindowsImageLoader, ImportsThroughForwardersAreBoundToWhatTheyName) {
  HMODULE probe = LoadProbe();
  ASSERT_NE(probe, nullptr);
  HMODULE user = LoadLibraryA(kForwardUser.c_str());
  ASSERT_NE(user, nullptr) << GetLastError() << " "
                           << qxplatform::LastLoadFailure();
  auto bound = Lookup<ImportProc>(user, "ForwardUserImport");
  ASSERT_NE(bound, nullptr);
  HMODULE kernel32 = GetModuleHandleA("kernel32");
  EXPECT_EQ(bound(0), reinterpret_cast<void*>(
                          GetProcAddress(probe, "ProbeAttaches")));
  EXPECT_EQ(bound(1), reinterpret_cast<void*>(
                          GetProcAddress(kernel32, "GetCurrentProcessId")));
  EXPECT_EQ(bound(2), reinterpret_cast<void*>(
                          GetProcAddress(probe, "ProbeAttaches")));
  EXPECT_EQ(bound(3), reinterpret_cast<void*>(
                          GetProcAddress(probe, MAKEINTRESOURCEA(9))));

  // The probe stays while the image that imports from it is loaded.
  ASSERT_TRUE(FreeLibrary(probe));
  EXPECT_EQ(GetModuleHandleA("pe_probe"), probe);
  ASSERT_TRUE(FreeLibrary(user));
  EXPECT_EQ(GetModuleHandleA("pe_forward_user"), nullptr);
  EXPECT_EQ(GetModuleHandleA("pe_probe"), nullptr);
}

// LockResource points into the image itself, as on Windows: the data lies
// inside the mapping.
TEST_F(WindowsImageLoader, ResourceDataIsTheMappedImagesOwn) {
  HMODULE probe = LoadProbe();
  ASSERT_NE(probe, nullptr);
  HRSRC found = FindResourceA(probe, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(10));
  ASSERT_NE(found, nullptr) << GetLastError();
  const char* data =
      static_cast<const char*>(LockResource(LoadResource(probe, found)));
  ASSERT_NE(data, nullptr);
  EXPECT_STREQ(data, "probe resource");
  EXPECT_EQ(SizeofResource(probe, found), sizeof("probe resource"));
  MEMORY_BASIC_INFORMATION region = {};
  ASSERT_EQ(VirtualQuery(data, &region, sizeof(region)), sizeof(region));
  EXPECT_EQ(region.AllocationBase, probe);
  EXPECT_EQ(region.Type, static_cast<DWORD>(MEM_IMAGE));
  FreeLibrary(probe);
}

TEST_F(WindowsImageLoader, ItsPagesAreImagePagesWithTheirSectionsAccess) {
  HMODULE probe = LoadProbe();
  ASSERT_NE(probe, nullptr);
  MEMORY_BASIC_INFORMATION headers = {};
  ASSERT_EQ(VirtualQuery(probe, &headers, sizeof(headers)), sizeof(headers));
  EXPECT_EQ(headers.Type, static_cast<DWORD>(MEM_IMAGE));
  EXPECT_EQ(headers.AllocationBase, probe);
  EXPECT_EQ(headers.Protect, static_cast<DWORD>(PAGE_READONLY));
  MEMORY_BASIC_INFORMATION code = {};
  auto function = reinterpret_cast<const void*>(
      GetProcAddress(probe, "ProbeCallsThePlatform"));
  ASSERT_EQ(VirtualQuery(function, &code, sizeof(code)), sizeof(code));
  EXPECT_EQ(code.AllocationBase, probe);
  EXPECT_EQ(code.Protect, static_cast<DWORD>(PAGE_EXECUTE_READ));
  ASSERT_TRUE(FreeLibrary(probe));
  MEMORY_BASIC_INFORMATION gone = {};
  ASSERT_EQ(VirtualQuery(probe, &gone, sizeof(gone)), sizeof(gone));
  EXPECT_NE(gone.Type, static_cast<DWORD>(MEM_IMAGE));
}

TEST_F(WindowsImageLoader, LoadedAsDataItSharesTheImageAndItsName) {
  HMODULE probe = LoadProbe();
  ASSERT_NE(probe, nullptr);
  HMODULE data =
      LoadLibraryExA(kProbe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  EXPECT_EQ(data, probe);
  char name[MAX_PATH] = {};
  ASSERT_EQ(GetModuleFileNameA(data, name, sizeof(name)), kProbe.size());
  EXPECT_EQ(name, kProbe);
  FreeLibrary(data);
  EXPECT_EQ(Lookup<CountProc>(probe, "ProbeAttaches")(), 1);
  FreeLibrary(probe);
}

TEST_F(WindowsImageLoader, ImageThatRefusesToStartIsUnloaded) {
  EXPECT_EQ(LoadLibraryA(kRefusingProbe.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DLL_INIT_FAILED));
  EXPECT_EQ(GetModuleHandleA("pe_probe_refuses.dll"), nullptr);
  // Nothing stays where it was mapped: the same base can be taken again.
  void* base = mmap(reinterpret_cast<void*>(0x63500000), 0x1000, PROT_NONE,
                    MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
  EXPECT_EQ(base, reinterpret_cast<void*>(0x63500000));
  if (base != MAP_FAILED) munmap(base, 0x1000);
}

TEST_F(WindowsImageLoader, EveryImportNobodyProvidesIsNamedInTheRefusal) {
  SetLastError(0);
  HMODULE image = LoadLibraryA(kMissingImport.c_str());
  EXPECT_EQ(image, nullptr);
  // The first import the loader cannot bind is a function kernel32 lacks.
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  const std::string said = qxplatform::LastLoadFailure();
  EXPECT_EQ(said.rfind("cannot load " + kMissingImport + ": ", 0), 0u) << said;
  // Every one of them, and whether the function or its library is missing.
  for (const char* missing :
       {"KERNEL32.dll!Beep (no such function)",
        "KERNEL32.dll!SetConsoleTitleA (no such function)",
        "VERSION.dll!GetFileVersionInfoSizeA (no such library)"})
    EXPECT_NE(said.find(missing), std::string::npos) << missing << "\n" << said;
  EXPECT_EQ(GetModuleHandleA("pe_missing_import.dll"), nullptr);
}

TEST_F(WindowsImageLoader, ImageThatRefusesToStartSaysSo) {
  EXPECT_EQ(LoadLibraryA(kRefusingProbe.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DLL_INIT_FAILED));
  EXPECT_EQ(qxplatform::LastLoadFailure(),
            "cannot load " + kRefusingProbe +
                ": its entry point refused to start (DLL_PROCESS_ATTACH "
                "answered FALSE)");
}

TEST_F(WindowsImageLoader, DamagedImageIsRefusedAndNothingStaysMapped) {
  std::ifstream file(kProbe, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(file)),
                          std::istreambuf_iterator<char>());
  ASSERT_GT(bytes.size(), 0x400u);
  ScratchDirectory scratch("qxpe");
  const std::string cut = (scratch.path() / "cut.dll").string();
  std::ofstream(cut, std::ios::binary).write(bytes.data(), 0x180);
  EXPECT_EQ(LoadLibraryA(cut.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
  const std::string said = qxplatform::LastLoadFailure();
  EXPECT_EQ(said.rfind("cannot load " + cut + ": ", 0), 0u) << said;
  void* base = mmap(reinterpret_cast<void*>(kProbeBase), 0x1000, PROT_NONE,
                    MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
  EXPECT_EQ(base, reinterpret_cast<void*>(kProbeBase));
  if (base != MAP_FAILED) munmap(base, 0x1000);
}

}  // namespace
