// QueryInterface's rules, over every pair of interfaces an object offers:
// one identity whatever pointer it is asked from, each interface reachable
// from itself (reflexive), back from where it led (symmetric) and onwards
// from there (transitive), the same answers from every pointer of the
// object. The interfaces are found by asking the object, not taken from its
// table, so that a row added or lost is covered as it is. Checked for the
// class factory, a plain InstallKorvex, and an aggregated one under outer
// objects passing on every choice of its interfaces, whose contained
// interfaces must answer exactly as the outer object does.
#include <string>
#include <vector>

#include "com/com_test_support.h"

namespace {

// Interfaces a client may ask an object for; the ones the library has no
// header for are written out from their published ids.
constexpr IID kIPersist = {
    0x0000010C, 0x0000, 0x0000,
    {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID kIMarshal = {
    0x00000003, 0x0000, 0x0000,
    {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID kIProvideClassInfo = {
    0xB196B283, 0xBAB4, 0x101A,
    {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
constexpr IID kIConnectionPointContainer = {
    0xB196B284, 0xBAB4, 0x101A,
    {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
constexpr IID kISupportErrorInfo = {
    0xDF0B3D60, 0x548F, 0x101B,
    {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
constexpr IID kIDispatchEx = {
    0xA6EF9860, 0xC720, 0x11D0,
    {0x93, 0x37, 0x00, 0xA0, 0xC9, 0x0D, 0xCA, 0xA9}};

struct Candidate {
  const char* name;
  const IID* iid;
};

const Candidate kCandidates[] = {
    {"IUnknown", &IID_IUnknown},
    {"IDispatch", &IID_IDispatch},
    {"IInstallKorvex", &IID_IInstallKorvex},
    {"IObjectSafety", &IID_IObjectSafety},
    {"IClassFactory", &IID_IClassFactory},
    {"IPersist", &kIPersist},
    {"IMarshal", &kIMarshal},
    {"IProvideClassInfo", &kIProvideClassInfo},
    {"IConnectionPointContainer", &kIConnectionPointContainer},
    {"ISupportErrorInfo", &kISupportErrorInfo},
    {"IDispatchEx", &kIDispatchEx},
};
constexpr size_t kCandidateCount = sizeof(kCandidates) / sizeof(kCandidates[0]);
constexpr size_t kUnknownIndex = 0;

// Candidates by index, as a set small enough to compare whole.
using InterfaceSet = std::vector<size_t>;

std::string Names(const InterfaceSet& set) {
  std::string names;
  for (size_t index : set) {
    if (!names.empty()) names += ", ";
    names += kCandidates[index].name;
  }
  return "{" + names + "}";
}

// Asks from for candidate index; null when refused (and then checks that
// the refusal said so and nulled the out pointer).
IUnknown* Ask(IUnknown* from, size_t index) {
  void* out = reinterpret_cast<void*>(1);
  const HRESULT hr = from->QueryInterface(*kCandidates[index].iid, &out);
  if (hr == S_OK) {
    EXPECT_NE(out, nullptr) << kCandidates[index].name << " answered null";
    return static_cast<IUnknown*>(out);
  }
  EXPECT_EQ(hr, E_NOINTERFACE) << kCandidates[index].name;
  EXPECT_EQ(out, nullptr) << kCandidates[index].name << " refused, not nulled";
  return nullptr;
}

// Every candidate from answers, each answer released again.
InterfaceSet Answered(IUnknown* from) {
  InterfaceSet set;
  for (size_t index = 0; index < kCandidateCount; ++index) {
    if (IUnknown* answer = Ask(from, index)) {
      set.push_back(index);
      answer->Release();
    }
  }
  return set;
}

// The identity of from: the pointer IUnknown gives, released again.
IUnknown* IdentityOf(IUnknown* from) {
  IUnknown* identity = Ask(from, kUnknownIndex);
  if (identity != nullptr) identity->Release();
  return identity;
}

// The rules for the object whose identity is object: what object offers,
// asked from every interface it offers and from every interface reached
// from those, gives the same identity and the same answers. Returns what
// it offers.
InterfaceSet ExpectRules(IUnknown* object) {
  const InterfaceSet offered = Answered(object);
  EXPECT_EQ(IdentityOf(object), object) << "the identity is not its own";
  for (size_t first : offered) {
    IUnknown* a = Ask(object, first);
    if (a == nullptr) continue;
    const std::string from = kCandidates[first].name;
    EXPECT_EQ(IdentityOf(a), object) << "identity from " << from;
    // Reflexive, and nothing gained or lost on the way: the same answers as
    // the object.
    EXPECT_EQ(Names(Answered(a)), Names(offered)) << "answers from " << from;
    for (size_t second : offered) {
      IUnknown* b = Ask(a, second);
      if (b == nullptr) continue;
      const std::string path = from + " -> " + kCandidates[second].name;
      EXPECT_EQ(IdentityOf(b), object) << "identity from " << path;
      // Symmetric: back to the first; transitive: on to every other.
      EXPECT_EQ(Names(Answered(b)), Names(offered)) << "answers from " << path;
      b->Release();
    }
    a->Release();
  }
  return offered;
}

bool Has(const InterfaceSet& set, size_t index) {
  for (size_t member : set) {
    if (member == index) return true;
  }
  return false;
}

}  // namespace

using QueryInterfaceRulesTest = ComTest;

TEST_F(QueryInterfaceRulesTest, ClassFactoryKeepsTheRules) {
  IClassFactory* factory = Factory();
  ASSERT_NE(factory, nullptr);
  IUnknown* identity = IdentityOf(factory);
  ASSERT_NE(identity, nullptr);
  const InterfaceSet offered = ExpectRules(identity);
  EXPECT_EQ(Names(offered), "{IUnknown, IClassFactory}");
  // The sweep gave back every reference it took.
  EXPECT_EQ(factory->Release(), 1u);  // the cache's own
}

TEST_F(QueryInterfaceRulesTest, PlainObjectKeepsTheRules) {
  IUnknown* object = CreatePlain<IUnknown>(IID_IUnknown);
  ASSERT_NE(object, nullptr);
  const InterfaceSet offered = ExpectRules(object);
  // What a script host needs of it, at least.
  EXPECT_TRUE(Has(offered, 1)) << Names(offered);  // IDispatch
  EXPECT_GE(offered.size(), 2u) << Names(offered);
  EXPECT_EQ(object->Release(), 0u) << "references left by the sweep";
}

// Under an outer object, for every choice of the inner interfaces the outer
// object passes on: the whole object keeps the rules, and each interface
// of the contained object answers exactly what the outer object answers,
// refusals included.
TEST_F(QueryInterfaceRulesTest, AggregatedObjectAnswersAsItsOuterObject) {
  IClassFactory* factory = Factory();
  ASSERT_NE(factory, nullptr);
  // What the inner object's own unknown hands the outer object.
  InterfaceSet inner;
  {
    OuterObject probe;
    ASSERT_EQ(probe.Aggregate(factory), S_OK);
    inner = Answered(probe.m_inner);
    EXPECT_EQ(probe.ReleaseInner(), 0u);
    EXPECT_EQ(probe.m_count, 1u);
  }
  InterfaceSet passable;  // all but IUnknown, which the outer answers itself
  for (size_t index : inner) {
    if (index != kUnknownIndex) passable.push_back(index);
  }
  ASSERT_FALSE(passable.empty());
  ASSERT_LT(passable.size(), 8u);

  for (unsigned choice = 0; choice < (1u << passable.size()); ++choice) {
    OuterObject outer;
    InterfaceSet passed;
    for (size_t bit = 0; bit < passable.size(); ++bit) {
      if ((choice & (1u << bit)) != 0) {
        passed.push_back(passable[bit]);
        outer.m_forwarded.push_back(kCandidates[passable[bit]].iid);
      }
    }
    SCOPED_TRACE("outer passes on " + Names(passed));
    ASSERT_EQ(outer.Aggregate(factory), S_OK);

    const InterfaceSet offered = ExpectRules(&outer);
    InterfaceSet expected = {kUnknownIndex};
    expected.insert(expected.end(), passed.begin(), passed.end());
    EXPECT_EQ(Names(offered), Names(expected));

    // Every interface of the contained object, however the client got it.
    for (size_t index : passable) {
      IUnknown* contained = Ask(outer.m_inner, index);
      if (contained == nullptr) {
        ADD_FAILURE() << kCandidates[index].name << " lost";
        continue;
      }
      EXPECT_EQ(IdentityOf(contained), static_cast<IUnknown*>(&outer))
          << kCandidates[index].name;
      EXPECT_EQ(Names(Answered(contained)), Names(offered))
          << "answers of the contained " << kCandidates[index].name;
      contained->Release();
    }
    EXPECT_EQ(outer.ReleaseInner(), 0u);
    EXPECT_EQ(outer.m_count, 1u) << "references left on the outer object";
  }
  factory->Release();
}

