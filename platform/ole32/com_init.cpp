// COM initialisation. Each thread counts its CoInitializeEx calls: the first
// answers S_OK, later ones S_FALSE, and one asking for the other apartment
// kind RPC_E_CHANGED_MODE without being counted. A thread may activate
// classes only once it has initialised, or while another thread holds the
// multithreaded apartment open (the implicit MTA); otherwise activation
// answers CO_E_NOTINITIALIZED, as the system's runtime does. Apartments are
// not otherwise enforced: no call is marshalled between threads.
//
// When the last initialised thread of the process uninitialises, every
// library loaded for a class is freed without being asked, as the system
// frees the servers of an apartment that closes.
#include <atomic>

#include "ole32_internal.h"

namespace {

constexpr DWORD kKnownFlags = COINIT_APARTMENTTHREADED |
                              COINIT_DISABLE_OLE1DDE | COINIT_SPEED_OVER_MEMORY;

struct ThreadState {
  ULONG initialisations = 0;
  bool multithreaded = false;
};

thread_local ThreadState t_state;
std::atomic<long> g_initialisedThreads{0};
std::atomic<long> g_multithreadedThreads{0};

}  // namespace

namespace qxplatform {
namespace internal {

bool ComUsableOnThisThread() {
  return t_state.initialisations != 0 || g_multithreadedThreads.load() != 0;
}

}  // namespace internal
}  // namespace qxplatform

HRESULT WINAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit) {
  if (pvReserved != nullptr || (dwCoInit & ~kKnownFlags) != 0)
    return E_INVALIDARG;
  bool multithreaded = (dwCoInit & COINIT_APARTMENTTHREADED) == 0;
  ThreadState& state = t_state;
  if (state.initialisations != 0) {
    if (state.multithreaded != multithreaded) return RPC_E_CHANGED_MODE;
    if (state.initialisations == ~ULONG{0}) return E_UNEXPECTED;
    ++state.initialisations;
    return S_FALSE;
  }
  state.initialisations = 1;
  state.multithreaded = multithreaded;
  ++g_initialisedThreads;
  if (multithreaded) ++g_multithreadedThreads;
  return S_OK;
}

HRESULT WINAPI CoInitialize(LPVOID pvReserved) {
  return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED);
}

// An unmatched call does nothing.
void WINAPI CoUninitialize(void) {
  ThreadState& state = t_state;
  if (state.initialisations == 0 || --state.initialisations != 0) return;
  if (state.multithreaded) --g_multithreadedThreads;
  if (--g_initialisedThreads == 0)
    qxplatform::internal::FreeAllClassLibraries();
}
