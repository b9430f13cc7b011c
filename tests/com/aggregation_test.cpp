// Aggregation: the outer object holds the aggregated object's own IUnknown;
// every interface of the contained object shares the outer identity and
// count, and answers a QueryInterface as the outer object answers it.
// Every reference the contained object took on the outer object is given
// back by the end of each test.
#include "com/com_test_support.h"

class AggregationTest : public ComTest {
 protected:
  void SetUp() override {
    ComTest::SetUp();
    m_factory = Factory();
    ASSERT_EQ(m_outer.Aggregate(m_factory), S_OK);
    ASSERT_NE(m_outer.m_inner, nullptr);
  }
  void TearDown() override {
    if (m_outer.m_inner != nullptr) m_outer.ReleaseInner();
    m_factory->Release();
    // A reference taken on the outer object and never given back keeps the
    // whole object alive for ever; the outer object here never goes, so
    // its count is where such a leak shows.
    EXPECT_EQ(m_outer.m_count, 1u) << "references left on the outer object";
    ComTest::TearDown();
  }
  // The contained object's IInstallKorvex, counted on the outer object.
  IInstallKorvex* Contained() {
    IInstallKorvex* object = nullptr;
    EXPECT_EQ(m_outer.m_inner->QueryInterface(
                  IID_IInstallKorvex, reinterpret_cast<void**>(&object)),
              S_OK);
    return object;
  }

  OuterObject m_outer;
  IClassFactory* m_factory = nullptr;
};

TEST_F(AggregationTest, OuterHoldsTheOwnUnknownWithOneReference) {
  EXPECT_EQ(m_outer.m_count, 1u);  // not AddRef'd by the inner object
  EXPECT_EQ(m_outer.m_inner->AddRef(), 2u);
  EXPECT_EQ(m_outer.m_inner->Release(), 1u);
  // The inner object alone keeps the library once the factory is let go.
  m_factory->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  m_factory = Factory();
}

TEST_F(AggregationTest, OwnUnknownAnswersIUnknownWithItself) {
  IUnknown* again = nullptr;
  ASSERT_EQ(m_outer.m_inner->QueryInterface(IID_IUnknown,
                                            reinterpret_cast<void**>(&again)),
            S_OK);
  EXPECT_EQ(again, m_outer.m_inner);
  EXPECT_EQ(again->Release(), 1u);
  EXPECT_EQ(m_outer.m_inner->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
  EXPECT_EQ(m_outer.m_inner->QueryInterface(IID_IDispatch, nullptr), E_POINTER);
}

TEST_F(AggregationTest, ContainedInterfacesCountOnTheOuterObject) {
  IDispatch* dispatch = nullptr;
  ASSERT_EQ(m_outer.m_inner->QueryInterface(
                IID_IDispatch, reinterpret_cast<void**>(&dispatch)),
            S_OK);
  EXPECT_NE(static_cast<void*>(dispatch), static_cast<void*>(m_outer.m_inner));
  EXPECT_EQ(m_outer.m_count, 2u);
  EXPECT_EQ(dispatch->AddRef(), 3u);  // whatever the outer AddRef returns
  EXPECT_EQ(dispatch->Release(), 2u);
  EXPECT_EQ(dispatch->Release(), 1u);
  // The aggregated object's own count never moved.
  EXPECT_EQ(m_outer.m_inner->AddRef(), 2u);
  m_outer.m_inner->Release();
}

TEST_F(AggregationTest, ContainedIdentityIsTheOuterObject) {
  IInstallKorvex* object = Contained();
  IUnknown* identity = nullptr;
  ASSERT_EQ(
      object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)),
      S_OK);
  EXPECT_EQ(identity, static_cast<IUnknown*>(&m_outer));
  identity->Release();
  object->Release();
  EXPECT_EQ(m_outer.m_count, 1u);
}

// What the identity refuses no interface of the object may hand out: a
// client could not come back to it through the object's IUnknown.
TEST_F(AggregationTest, RefusedByTheOuterIsRefusedByTheContainedObject) {
  IInstallKorvex* object = Contained();
  const int queriesBefore = m_outer.m_queries;
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(object->QueryInterface(IID_IObjectSafety, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(m_outer.m_queries, queriesBefore + 1);  // the outer decided
  EXPECT_EQ(m_outer.m_count, 2u);                   // the test's and object's
  // Once the outer object passes it on, the contained object has it.
  m_outer.m_forwarded = {&IID_IObjectSafety};
  IObjectSafety* safety = nullptr;
  ASSERT_EQ(object->QueryInterface(IID_IObjectSafety,
                                   reinterpret_cast<void**>(&safety)),
            S_OK);
  EXPECT_EQ(m_outer.m_count, 3u);
  IInstallKorvex* back = nullptr;
  EXPECT_EQ(safety->QueryInterface(IID_IInstallKorvex,
                                   reinterpret_cast<void**>(&back)),
            E_NOINTERFACE);  // not passed on
  EXPECT_EQ(back, nullptr);
  safety->Release();
  object->Release();
  EXPECT_EQ(m_outer.m_count, 1u);
}

TEST_F(AggregationTest, WhatTheOuterAnswersComesFromTheOuter) {
  m_outer.m_forwarded = {&IID_IInstallKorvex, &IID_IDispatch};
  IInstallKorvex* object = Contained();
  IDispatch* dispatch = nullptr;
  const int queriesBefore = m_outer.m_queries;
  ASSERT_EQ(object->QueryInterface(IID_IDispatch,
                                   reinterpret_cast<void**>(&dispatch)),
            S_OK);
  EXPECT_EQ(m_outer.m_queries, queriesBefore + 1);
  EXPECT_EQ(static_cast<void*>(dispatch), static_cast<void*>(object));
  dispatch->Release();
  object->Release();
}

TEST_F(AggregationTest, UnknownInterfaceIsRefusedByBoth) {
  IInstallKorvex* object = Contained();
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(object->QueryInterface(IID_IClassFactory, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  const int queriesBefore = m_outer.m_queries;
  EXPECT_EQ(object->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
  EXPECT_EQ(m_outer.m_queries, queriesBefore);
  object->Release();
}

TEST_F(AggregationTest, LastOwnReleaseDestroysWithoutTouchingTheOuter) {
  const long blocks = qxplatform::LiveHeapBlocks();
  const int releasesBefore = m_outer.m_releases;
  EXPECT_EQ(m_outer.ReleaseInner(), 0u);
  EXPECT_EQ(qxplatform::LiveHeapBlocks(), blocks - 1);
  EXPECT_EQ(m_outer.m_releases, releasesBefore);
  // Nothing but the factory client's reference keeps the library now.
  m_factory->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
  m_factory = Factory();
  EXPECT_EQ(m_outer.m_count, 1u);
}

TEST_F(AggregationTest, InstallThroughTheContainedObjectWorks) {
  IInstallKorvex* object = Contained();
  LONG status = 99;
  EXPECT_EQ(object->install(&status), S_OK);
  EXPECT_EQ(status, 0);
  object->Release();
}
