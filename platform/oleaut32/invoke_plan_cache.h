// The plans one type info has prepared, by member id and invoke kinds.
// Type infos are shared across threads, and Invoke looks a plan up on
// every call: lookups take no lock, reading buckets of immutable plans
// that are only ever prepended to, each published with release ordering
// and read with acquire. Publishing takes a lock, so two threads that
// prepared the same plan keep one of them.
#pragma once
#include <oaidl.h>

#include <atomic>
#include <memory>
#include <mutex>

#include "invoke_plan.h"

namespace qxplatform {
namespace internal {

class InvokePlanCache {
 public:
  InvokePlanCache() = default;
  ~InvokePlanCache();
  InvokePlanCache(const InvokePlanCache&) = delete;
  InvokePlanCache& operator=(const InvokePlanCache&) = delete;

  // The plan for memid called with flags, or null when none is prepared.
  const InvokePlan* Find(MEMBERID memid, WORD flags) const;
  // Takes plan, keyed by memid and flags, and returns the cached plan for
  // that key: plan, or the one another thread published first.
  const InvokePlan* Publish(MEMBERID memid, WORD flags,
                            std::unique_ptr<InvokePlan> plan);

 private:
  static constexpr size_t kBuckets = 16;
  // The flags that choose a member; other bits do not change the plan.
  static WORD KeyFlags(WORD flags);
  static size_t BucketOf(MEMBERID memid, WORD flags);

  std::atomic<const InvokePlan*> m_buckets[kBuckets] = {};
  std::mutex m_publishLock;
};

}  // namespace internal
}  // namespace qxplatform
