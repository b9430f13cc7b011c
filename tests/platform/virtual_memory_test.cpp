// VirtualQuery and VirtualProtect over real mappings: the regions and states
// they report, protections that really fault (caught here as SIGSEGV), and
// the errors Windows gives for bad arguments and unmapped memory.
#include <gtest/gtest.h>
#include <setjmp.h>
#include <signal.h>
#include <stdint.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>
#include <windows.h>

namespace {

const size_t kPage = static_cast<size_t>(sysconf(_SC_PAGESIZE));

// Runs an access and tells whether it faulted.
sigjmp_buf g_faultReturn;

void OnFault(int) { siglongjmp(g_faultReturn, 1); }

template <class Access>
bool Faults(Access access) {
  struct sigaction action = {}, oldSegv = {}, oldBus = {};
  action.sa_handler = OnFault;
  sigemptyset(&action.sa_mask);
  sigaction(SIGSEGV, &action, &oldSegv);
  sigaction(SIGBUS, &action, &oldBus);
  // Set between sigsetjmp and the jump back, so kept in memory.
  volatile bool faulted = true;
  if (sigsetjmp(g_faultReturn, 1) == 0) {
    access();
    faulted = false;
  }
  sigaction(SIGSEGV, &oldSegv, nullptr);
  sigaction(SIGBUS, &oldBus, nullptr);
  return faulted;
}

bool ReadFaults(const void* address) {
  return Faults(
      [address] { (void)*static_cast<const volatile char*>(address); });
}

bool WriteFaults(void* address) {
  return Faults([address] { *static_cast<volatile char*>(address) = 1; });
}

// Pages of their own, fenced by inaccessible pages so that no neighbouring
// mapping merges with them; unmapped when the test ends. They lie low in the
// address space, where the system does not place new mappings of its own
// accord (it places them from the top down): a page a test unmaps stays a
// hole while the test looks at it, even when the runtime (a sanitizer's,
// say) maps memory meanwhile.
class VirtualMemoryTest : public ::testing::Test {
 protected:
  static constexpr size_t kUsable = 4;
  static constexpr uintptr_t kLowArea = 0x00400000;

  void SetUp() override {
    const size_t size = (kUsable + 2) * kPage;
    void* area = mmap(reinterpret_cast<void*>(kLowArea), size, PROT_NONE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (area == MAP_FAILED)
      area = mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(area, MAP_FAILED);
    m_area = static_cast<char*>(area);
    ASSERT_EQ(mprotect(Page(0), kUsable * kPage, PROT_READ | PROT_WRITE), 0);
  }
  void TearDown() override {
    if (m_area != nullptr) munmap(m_area, (kUsable + 2) * kPage);
  }

  char* Page(size_t index) const { return m_area + (index + 1) * kPage; }

  static MEMORY_BASIC_INFORMATION Query(const void* address) {
    MEMORY_BASIC_INFORMATION info;
    memset(&info, 0xCC, sizeof(info));
    SetLastError(0xDEADBEEF);
    EXPECT_EQ(VirtualQuery(address, &info, sizeof(info)), sizeof(info));
    return info;
  }

  char* m_area = nullptr;
};

TEST_F(VirtualMemoryTest, MemoryBasicInformationHasTheWindowsLayout) {
  if (sizeof(void*) == 4) {
    EXPECT_EQ(sizeof(MEMORY_BASIC_INFORMATION), 28u);
    EXPECT_EQ(offsetof(MEMORY_BASIC_INFORMATION, RegionSize), 12u);
    EXPECT_EQ(offsetof(MEMORY_BASIC_INFORMATION, Type), 24u);
  }
  EXPECT_EQ(PAGE_EXECUTE_READWRITE, 0x40);
  EXPECT_EQ(MEM_COMMIT, 0x1000);
  EXPECT_EQ(MEM_FREE, 0x10000);
  EXPECT_EQ(MEM_IMAGE, 0x1000000);
}

TEST_F(VirtualMemoryTest, QueryDescribesTheRegionFromTheAddressesPage) {
  MEMORY_BASIC_INFORMATION info = Query(Page(1) + 123);
  EXPECT_EQ(info.BaseAddress, Page(1));
  EXPECT_EQ(info.RegionSize, (kUsable - 1) * kPage);
  EXPECT_EQ(info.State, static_cast<DWORD>(MEM_COMMIT));
  EXPECT_EQ(info.Protect, static_cast<DWORD>(PAGE_READWRITE));
  EXPECT_EQ(info.Type, static_cast<DWORD>(MEM_PRIVATE));
  EXPECT_NE(info.AllocationBase, nullptr);
  EXPECT_LE(static_cast<char*>(info.AllocationBase), Page(1));

  // The fence pages are there, but without access.
  info = Query(m_area);
  EXPECT_EQ(info.BaseAddress, m_area);
  EXPECT_EQ(info.RegionSize, kPage);
  EXPECT_EQ(info.State, static_cast<DWORD>(MEM_COMMIT));
  EXPECT_EQ(info.Protect, static_cast<DWORD>(PAGE_NOACCESS));
}

TEST_F(VirtualMemoryTest, QueryReportsUnmappedMemoryAsFree) {
  ASSERT_EQ(munmap(Page(1), 2 * kPage), 0);
  MEMORY_BASIC_INFORMATION info = Query(Page(2) + 5);
  EXPECT_EQ(info.BaseAddress, Page(2));
  EXPECT_EQ(info.RegionSize, kPage);  // up to the next mapping
  EXPECT_EQ(info.State, static_cast<DWORD>(MEM_FREE));
  EXPECT_EQ(info.Protect, static_cast<DWORD>(PAGE_NOACCESS));
  EXPECT_EQ(info.AllocationBase, nullptr);
  EXPECT_EQ(info.AllocationProtect, 0u);
  EXPECT_EQ(info.Type, 0u);
  info = Query(Page(1));
  EXPECT_EQ(info.RegionSize, 2 * kPage);
  EXPECT_EQ(info.State, static_cast<DWORD>(MEM_FREE));
}

TEST_F(VirtualMemoryTest, QueryOfCodeAndDataOfThisProgram) {
  MEMORY_BASIC_INFORMATION info =
      Query(reinterpret_cast<const void*>(&VirtualQuery));
  EXPECT_EQ(info.State, static_cast<DWORD>(MEM_COMMIT));
  EXPECT_EQ(info.Protect, static_cast<DWORD>(PAGE_EXECUTE_READ));
  EXPECT_EQ(info.Type, static_cast<DWORD>(MEM_MAPPED));
  // The library's first mapping is where its view of the file begins.
  EXPECT_LT(info.AllocationBase, reinterpret_cast<void*>(&VirtualQuery));

  int local = 0;
  info = Query(&local);
  EXPECT_EQ(info.Protect, static_cast<DWORD>(PAGE_READWRITE));
  EXPECT_EQ(info.Type, static_cast<DWORD>(MEM_PRIVATE));
}

TEST_F(VirtualMemoryTest, QueryRefusesBadArguments) {
  MEMORY_BASIC_INFORMATION info;
  SetLastError(0);
  EXPECT_EQ(VirtualQuery(Page(0), &info, sizeof(info) - 1), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_LENGTH));
  SetLastError(0);
  EXPECT_EQ(VirtualQuery(Page(0), nullptr, sizeof(info)), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOACCESS));
  // Above user address space.
  SetLastError(0);
  EXPECT_EQ(
      VirtualQuery(reinterpret_cast<void*>(~uintptr_t{0} & ~uintptr_t{0xFFF}),
                   &info, sizeof(info)),
      0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  // A larger buffer is fine; only the structure is written.
  char big[sizeof(info) + 8];
  memset(big, 0x5A, sizeof(big));
  EXPECT_EQ(
      VirtualQuery(Page(0), reinterpret_cast<PMEMORY_BASIC_INFORMATION>(big),
                   sizeof(big)),
      sizeof(info));
  EXPECT_EQ(big[sizeof(info)], 0x5A);
}

TEST_F(VirtualMemoryTest, ReadOnlyPagesFaultOnWriteAndNotOnRead) {
  memset(Page(0), 7, 2 * kPage);
  EXPECT_FALSE(WriteFaults(Page(0)));
  DWORD old = 0;
  ASSERT_TRUE(VirtualProtect(Page(0) + 10, 1, PAGE_READONLY, &old));
  EXPECT_EQ(old, static_cast<DWORD>(PAGE_READWRITE));
  EXPECT_TRUE(WriteFaults(Page(0)));
  EXPECT_TRUE(WriteFaults(Page(0) + kPage - 1));
  EXPECT_FALSE(ReadFaults(Page(0)));
  EXPECT_EQ(Page(0)[100], 7);
  // Only the page holding the range changed.
  EXPECT_FALSE(WriteFaults(Page(1)));
  MEMORY_BASIC_INFORMATION info = Query(Page(0));
  EXPECT_EQ(info.Protect, static_cast<DWORD>(PAGE_READONLY));
  EXPECT_EQ(info.RegionSize, kPage);
  info = Query(Page(1));
  EXPECT_EQ(info.Protect, static_cast<DWORD>(PAGE_READWRITE));

  ASSERT_TRUE(VirtualProtect(Page(0), kPage, PAGE_READWRITE, &old));
  EXPECT_EQ(old, static_cast<DWORD>(PAGE_READONLY));
  EXPECT_FALSE(WriteFaults(Page(0)));
}

TEST_F(VirtualMemoryTest, NoAccessPagesFaultOnRead) {
  DWORD old = 0;
  ASSERT_TRUE(VirtualProtect(Page(2), kPage, PAGE_NOACCESS, &old));
  EXPECT_TRUE(ReadFaults(Page(2)));
  EXPECT_TRUE(WriteFaults(Page(2) + 17));
  EXPECT_EQ(Query(Page(2)).Protect, static_cast<DWORD>(PAGE_NOACCESS));
  ASSERT_TRUE(VirtualProtect(Page(2), kPage, PAGE_READONLY, &old));
  EXPECT_EQ(old, static_cast<DWORD>(PAGE_NOACCESS));
  EXPECT_FALSE(ReadFaults(Page(2)));
}

TEST_F(VirtualMemoryTest, ExecutableProtectionRunsCode) {
  // ret
  Page(0)[0] = static_cast<char>(0xC3);
  auto code = reinterpret_cast<void (*)()>(Page(0));
  EXPECT_TRUE(Faults(code)) << "writable data ran as code";
  DWORD old = 0;
  ASSERT_TRUE(VirtualProtect(Page(0), 1, PAGE_EXECUTE_READ, &old));
  EXPECT_FALSE(Faults(code));
  EXPECT_TRUE(WriteFaults(Page(0)));
  EXPECT_EQ(Query(Page(0)).Protect, static_cast<DWORD>(PAGE_EXECUTE_READ));
  ASSERT_TRUE(VirtualProtect(Page(0), 1, PAGE_EXECUTE_READWRITE, &old));
  EXPECT_EQ(old, static_cast<DWORD>(PAGE_EXECUTE_READ));
  EXPECT_FALSE(WriteFaults(Page(0) + 1));
  EXPECT_FALSE(Faults(code));
  EXPECT_EQ(Query(Page(0)).Protect, static_cast<DWORD>(PAGE_EXECUTE_READWRITE));
}

// What mingw's start-up code does for a pseudo-relocation in read-only
// memory: query the page, open it for writing, write, put the protection back.
TEST_F(VirtualMemoryTest, PseudoRelocationPatternWritesReadOnlyMemory) {
  ASSERT_EQ(mprotect(Page(0), kUsable * kPage, PROT_READ), 0);
  char* target = Page(1) + 40;
  MEMORY_BASIC_INFORMATION info = Query(target);
  ASSERT_EQ(info.Protect, static_cast<DWORD>(PAGE_READONLY));
  DWORD old = 0;
  ASSERT_TRUE(VirtualProtect(info.BaseAddress, info.RegionSize,
                             PAGE_EXECUTE_READWRITE, &old));
  EXPECT_EQ(old, static_cast<DWORD>(PAGE_READONLY));
  *target = 42;
  DWORD restored = 0;
  ASSERT_TRUE(
      VirtualProtect(info.BaseAddress, info.RegionSize, old, &restored));
  EXPECT_EQ(restored, static_cast<DWORD>(PAGE_EXECUTE_READWRITE));
  EXPECT_EQ(*target, 42);
  EXPECT_TRUE(WriteFaults(target));
}

TEST_F(VirtualMemoryTest, ProtectReportsTheFirstPagesOldProtection) {
  DWORD old = 0;
  ASSERT_TRUE(VirtualProtect(Page(1), kPage, PAGE_READONLY, &old));
  ASSERT_TRUE(
      VirtualProtect(Page(0) + kPage / 2, 2 * kPage, PAGE_NOACCESS, &old));
  EXPECT_EQ(old, static_cast<DWORD>(PAGE_READWRITE));
  // Pages 0 to 2 each hold some of the range.
  EXPECT_TRUE(ReadFaults(Page(0)));
  EXPECT_TRUE(ReadFaults(Page(2)));
  EXPECT_FALSE(ReadFaults(Page(3)));
  MEMORY_BASIC_INFORMATION info = Query(Page(0));
  EXPECT_EQ(info.Protect, static_cast<DWORD>(PAGE_NOACCESS));
  EXPECT_EQ(info.RegionSize, 3 * kPage);
}

TEST_F(VirtualMemoryTest, ProtectRefusesBadProtections) {
  for (DWORD protection :
       {DWORD{0}, DWORD{PAGE_READONLY | PAGE_READWRITE}, DWORD{0x1000},
        DWORD{0x100000}, DWORD{PAGE_NOACCESS | PAGE_GUARD},
        DWORD{PAGE_READWRITE | PAGE_NOCACHE | PAGE_WRITECOMBINE},
        DWORD{PAGE_EXECUTE | PAGE_EXECUTE_READ}}) {
    DWORD old = 0x1234;
    SetLastError(0);
    EXPECT_FALSE(VirtualProtect(Page(0), kPage, protection, &old))
        << protection;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER))
        << protection;
    EXPECT_EQ(old, 0x1234u);
  }
  // Valid on Windows, but not something a mapping here can have.
  for (DWORD protection :
       {DWORD{PAGE_READWRITE | PAGE_GUARD}, DWORD{PAGE_READONLY | PAGE_NOCACHE},
        DWORD{PAGE_READWRITE | PAGE_WRITECOMBINE}}) {
    DWORD old = 0x1234;
    SetLastError(0);
    EXPECT_FALSE(VirtualProtect(Page(0), kPage, protection, &old))
        << protection;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  }
  EXPECT_FALSE(WriteFaults(Page(0)));
}

TEST_F(VirtualMemoryTest, ProtectRefusesANullOldProtectionAndChangesNothing) {
  SetLastError(0);
  EXPECT_FALSE(VirtualProtect(Page(0), kPage, PAGE_READONLY, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOACCESS));
  EXPECT_FALSE(WriteFaults(Page(0)));
}

TEST_F(VirtualMemoryTest, ProtectRefusesEmptyAndWrappingRanges) {
  DWORD old = 0;
  SetLastError(0);
  EXPECT_FALSE(VirtualProtect(Page(0), 0, PAGE_READONLY, &old));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetLastError(0);
  EXPECT_FALSE(VirtualProtect(Page(0), ~SIZE_T{0} - 10, PAGE_READONLY, &old));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(WriteFaults(Page(0)));
}

TEST_F(VirtualMemoryTest, ProtectOfUnmappedMemoryIsAnInvalidAddress) {
  ASSERT_EQ(munmap(Page(2), kPage), 0);
  DWORD old = 0x1234;
  SetLastError(0);
  EXPECT_FALSE(VirtualProtect(Page(2), kPage, PAGE_READONLY, &old));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ADDRESS));
  // A range that runs into the hole changes nothing, not even the pages
  // that are mapped.
  SetLastError(0);
  EXPECT_FALSE(VirtualProtect(Page(0), 3 * kPage, PAGE_READONLY, &old));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ADDRESS));
  EXPECT_EQ(old, 0x1234u);
  EXPECT_FALSE(WriteFaults(Page(0)));
  EXPECT_FALSE(WriteFaults(Page(1)));
  // Also one that starts in the hole and ends in a mapping.
  EXPECT_FALSE(VirtualProtect(Page(2) + kPage - 1, 2, PAGE_READONLY, &old));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ADDRESS));
  EXPECT_FALSE(WriteFaults(Page(3)));
}

}  // namespace
