// Aggregation: the outer object holds the aggregated object's own IUnknown;
// every interface of the contained object shares the outer identity and
// count, and answers for itself only what the outer object refuses.
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
  EXPECT_EQ(LockCount(), 2);       // the factory client and the object
  EXPECT_EQ(m_outer.m_inner->AddRef(), 2u);
  EXPECT_EQ(m_outer.m_inner->Release(), 1u);
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

TEST_F(AggregationTest, RefusedByTheOuterTheContainedObjectAnswers) {
  IInstallKorvex* object = Contained();
  const int queriesBefore = m_outer.m_queries;
  IObjectSafety* safety = nullptr;
  ASSERT_EQ(object->QueryInterface(IID_IObjectSafety,
                                   reinterpret_cast<void**>(&safety)),
            S_OK);
  EXPECT_EQ(m_outer.m_queries, queriesBefore + 1);  // asked first, refused
  EXPECT_NE(safety, nullptr);
  EXPECT_EQ(m_outer.m_count, 3u);
  // Back to the contained object's IInstallKorvex from its IObjectSafety.
  IInstallKorvex* back = nullptr;
  ASSERT_EQ(safety->QueryInterface(IID_IInstallKorvex,
                                   reinterpret_cast<void**>(&back)),
            S_OK);
  EXPECT_EQ(back, object);
  back->Release();
  safety->Release();
  object->Release();
  EXPECT_EQ(m_outer.m_count, 1u);
}

TEST_F(AggregationTest, WhatTheOuterAnswersComesFromTheOuter) {
  m_outer.m_forwardInstallKorvex = true;
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
  EXPECT_EQ(LockCount(), 1);  // the factory client's alone
  EXPECT_EQ(m_outer.m_releases, releasesBefore);
  EXPECT_EQ(m_outer.m_count, 1u);
}

TEST_F(AggregationTest, InstallThroughTheContainedObjectWorks) {
  IInstallKorvex* object = Contained();
  LONG status = 99;
  EXPECT_EQ(object->install(&status), S_OK);
  EXPECT_EQ(status, 0);
  object->Release();
}
