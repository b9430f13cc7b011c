// Buckets of plans. A plan's next pointer and contents are written before
// the release store that makes it a bucket's head, so a reader that loads
// the head with acquire sees all of them; plans are freed only with the
// type info, when no call can be running through it.
#include "invoke_plan_cache.h"

namespace qxplatform {
namespace internal {

InvokePlanCache::~InvokePlanCache() {
  for (auto& bucket : m_buckets) {
    const InvokePlan* plan = bucket.load(std::memory_order_relaxed);
    while (plan != nullptr) {
      const InvokePlan* next = plan->next;
      delete plan;
      plan = next;
    }
  }
}

WORD InvokePlanCache::KeyFlags(WORD flags) {
  return flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET |
                  DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF);
}

size_t InvokePlanCache::BucketOf(MEMBERID memid, WORD flags) {
  const auto bits = static_cast<uint32_t>(memid);
  return (bits ^ (bits >> 16) ^ (static_cast<uint32_t>(flags) << 2)) % kBuckets;
}

const InvokePlan* InvokePlanCache::Find(MEMBERID memid, WORD flags) const {
  const WORD key = KeyFlags(flags);
  const InvokePlan* plan =
      m_buckets[BucketOf(memid, key)].load(std::memory_order_acquire);
  for (; plan != nullptr; plan = plan->next) {
    if (plan->memid == memid && plan->flags == key) return plan;
  }
  return nullptr;
}

const InvokePlan* InvokePlanCache::Publish(MEMBERID memid, WORD flags,
                                           std::unique_ptr<InvokePlan> plan) {
  const WORD key = KeyFlags(flags);
  std::lock_guard<std::mutex> guard(m_publishLock);
  const InvokePlan* existing = Find(memid, key);
  if (existing != nullptr) return existing;
  std::atomic<const InvokePlan*>& bucket = m_buckets[BucketOf(memid, key)];
  plan->memid = memid;
  plan->flags = key;
  plan->next = bucket.load(std::memory_order_relaxed);
  const InvokePlan* published = plan.release();
  bucket.store(published, std::memory_order_release);
  return published;
}

}  // namespace internal
}  // namespace qxplatform
