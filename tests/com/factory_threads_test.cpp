// The class factory under several threads at once: client references
// taken and dropped, server locks and the unload question, all racing,
// must leave the library held exactly while something holds it.
#include <atomic>
#include <thread>
#include <vector>

#include "com/com_test_support.h"

namespace {

constexpr int kThreads = 4;
constexpr int kRounds = 200;

// Runs body(thread index) on kThreads threads and waits for all of them.
template <typename Body>
void OnThreads(Body body) {
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back(body, t);
  for (std::thread& thread : threads) thread.join();
}

}  // namespace

using FactoryThreadsTest = ComTest;

TEST_F(FactoryThreadsTest, ReferencesAndServerLocksFromManyThreadsBalance) {
  IClassFactory* held = Factory();  // keeps the library locked throughout
  ASSERT_NE(held, nullptr);
  std::atomic<int> unloadableSeen{0};
  OnThreads([&](int) {
    for (int round = 0; round < kRounds; ++round) {
      held->AddRef();
      held->LockServer(TRUE);
      if (DllCanUnloadNow() == S_OK) ++unloadableSeen;
      held->LockServer(FALSE);
      held->Release();
    }
  });
  EXPECT_EQ(unloadableSeen.load(), 0);
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  EXPECT_EQ(held->Release(), 1u);
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST_F(FactoryThreadsTest, FirstAndLastClientReferencesRacing) {
  // Every round moves the factory between the cache's reference alone and
  // one client's, the two transitions that change the module lock count.
  OnThreads([&](int) {
    for (int round = 0; round < kRounds; ++round) {
      void* out = nullptr;
      if (DllGetClassObject(CLSID_InstallKorvex, IID_IClassFactory, &out) !=
          S_OK) {
        ADD_FAILURE() << "no class object";
        return;
      }
      DllCanUnloadNow();
      static_cast<IUnknown*>(out)->Release();
    }
  });
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
  // One factory survived the race, counted once by the library and once
  // by this client.
  IClassFactory* factory = Factory();
  ASSERT_NE(factory, nullptr);
  EXPECT_EQ(factory->AddRef(), 3u);
  EXPECT_EQ(factory->Release(), 2u);
  EXPECT_EQ(factory->Release(), 1u);
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}
