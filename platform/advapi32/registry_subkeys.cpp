// The subkeys of a key: sorted chunks of counted key pointers under a small
// index block that also holds the enumeration cursor.
#include <algorithm>
#include <new>

#include "registry_store.h"

namespace qxplatform {
namespace internal {

// A chunk's entries follow its header in the same block.
struct alignas(RegKeyPtr) Subkeys::Chunk {
  uint32_t count;
  uint32_t capacity;

  RegKeyPtr* keys() { return reinterpret_cast<RegKeyPtr*>(this + 1); }
  const RegKeyPtr& last() { return keys()[count - 1]; }

  static Chunk* Make(uint32_t capacity) {
    void* block = ::operator new(sizeof(Chunk) + capacity * sizeof(RegKeyPtr));
    return new (block) Chunk{0, capacity};
  }
  static void Free(Chunk* chunk) {
    for (uint32_t i = 0; i < chunk->count; ++i) chunk->keys()[i].~RegKeyPtr();
    ::operator delete(chunk);
  }
  // The same entries in a block of another capacity.
  static Chunk* Resize(Chunk* chunk, uint32_t capacity) {
    Chunk* resized = Make(capacity);
    for (uint32_t i = 0; i < chunk->count; ++i)
      new (&resized->keys()[i]) RegKeyPtr(std::move(chunk->keys()[i]));
    resized->count = chunk->count;
    Free(chunk);
    return resized;
  }
};

// The chunk pointers follow the header in the same block. Its capacity is
// not stored: it is the chunk count rounded up to a power of two, as the
// block doubles whenever the count reaches one. Sixteen bytes of header keep
// the index of a key with one chunk in the allocator's smallest block.
struct alignas(void*) Subkeys::Index {
  uint32_t size;
  uint32_t chunkCount;
  // The chunk of the last index walked to, and the index of its first entry.
  uint32_t cursorChunk;
  uint32_t cursorStart;

  Chunk** chunks() { return reinterpret_cast<Chunk**>(this + 1); }
  // Room for chunkCount chunks; the block may have more after removals.
  static uint32_t CapacityFor(uint32_t chunkCount) {
    uint32_t capacity = 1;
    while (capacity < chunkCount) capacity *= 2;
    return capacity;
  }

  static Index* Make(uint32_t chunkCapacity) {
    static_assert(sizeof(Index) == 16, "the index header is 16 bytes");
    void* block =
        ::operator new(sizeof(Index) + chunkCapacity * sizeof(Chunk*));
    return new (block) Index{0, 0, 0, 0};
  }
};
namespace {

// Blocks start small and double: most keys have one or two subkeys.
constexpr uint32_t kFirstChunkCapacity = 1;

}  // namespace

const RegKeyPtr& Subkeys::const_iterator::operator*() const {
  return m_owner->m_index->chunks()[m_chunk]->keys()[m_offset];
}

Subkeys::const_iterator& Subkeys::const_iterator::operator++() {
  if (++m_offset == m_owner->m_index->chunks()[m_chunk]->count) {
    ++m_chunk;
    m_offset = 0;
  }
  return *this;
}

Subkeys& Subkeys::operator=(Subkeys&& other) noexcept {
  if (this != &other) {
    clear();
    m_index = other.m_index;
    other.m_index = nullptr;
  }
  return *this;
}

size_t Subkeys::size() const { return m_index ? m_index->size : 0; }

Subkeys::const_iterator Subkeys::end() const {
  return const_iterator(this, m_index ? m_index->chunkCount : 0, 0);
}

void Subkeys::clear() {
  if (m_index == nullptr) return;
  for (uint32_t i = 0; i < m_index->chunkCount; ++i)
    Chunk::Free(m_index->chunks()[i]);
  ::operator delete(m_index);
  m_index = nullptr;
}

void Subkeys::ResetCursor() const {
  m_index->cursorChunk = 0;
  m_index->cursorStart = 0;
}

bool Subkeys::Place(std::u16string_view name, uint32_t* chunk,
                    uint32_t* offset) const {
  Chunk** chunks = m_index->chunks();
  const uint32_t chunkCount = m_index->chunkCount;
  // Files list keys in order: most often the name goes after the last.
  int order = CompareNames(chunks[chunkCount - 1]->last()->Name(), name);
  if (order < 0) {
    *chunk = chunkCount - 1;
    *offset = chunks[*chunk]->count;
    return true;
  }
  // The first chunk whose last name is not below name holds it or its place.
  Chunk** found = std::lower_bound(
      chunks, chunks + chunkCount, name, [](Chunk* c, std::u16string_view n) {
        return CompareNames(c->last()->Name(), n) < 0;
      });
  *chunk = static_cast<uint32_t>(found - chunks);
  RegKeyPtr* keys = (*found)->keys();
  RegKeyPtr* at =
      std::lower_bound(keys, keys + (*found)->count, name,
                       [](const RegKeyPtr& key, std::u16string_view n) {
                         return CompareNames(key->Name(), n) < 0;
                       });
  *offset = static_cast<uint32_t>(at - keys);
  return CompareNames((*at)->Name(), name) != 0;
}

Subkeys::const_iterator Subkeys::find(std::u16string_view name) const {
  uint32_t chunk = 0, offset = 0;
  if (m_index == nullptr || Place(name, &chunk, &offset) ||
      offset == m_index->chunks()[chunk]->count)
    return end();
  return const_iterator(this, chunk, offset);
}

const RegKeyPtr* Subkeys::At(size_t index) const {
  if (m_index == nullptr || index >= m_index->size) return nullptr;
  Index& in = *m_index;
  Chunk** chunks = in.chunks();
  // From the first chunk when that is nearer than the cursor.
  if (index < in.cursorStart && index < in.cursorStart - index) ResetCursor();
  while (index >= in.cursorStart + chunks[in.cursorChunk]->count) {
    in.cursorStart += chunks[in.cursorChunk]->count;
    ++in.cursorChunk;
  }
  while (index < in.cursorStart) {
    --in.cursorChunk;
    in.cursorStart -= chunks[in.cursorChunk]->count;
  }
  return &chunks[in.cursorChunk]->keys()[index - in.cursorStart];
}

const RegKeyPtr* Subkeys::Last() const {
  if (m_index == nullptr) return nullptr;
  return &m_index->chunks()[m_index->chunkCount - 1]->last();
}

// Halves a full chunk; the upper half becomes the next chunk.
void Subkeys::SplitChunk(uint32_t chunk) {
  Index* in = m_index;
  if (in->chunkCount == Index::CapacityFor(in->chunkCount)) {
    Index* grown = Index::Make(in->chunkCount * 2);
    std::copy(in->chunks(), in->chunks() + in->chunkCount, grown->chunks());
    grown->size = in->size;
    grown->chunkCount = in->chunkCount;
    ::operator delete(in);
    m_index = in = grown;
  }
  Chunk* full = in->chunks()[chunk];
  Chunk* upper = Chunk::Make(kChunkLimit);
  const uint32_t keep = full->count / 2;
  for (uint32_t i = keep; i < full->count; ++i) {
    new (&upper->keys()[i - keep]) RegKeyPtr(std::move(full->keys()[i]));
    full->keys()[i].~RegKeyPtr();
  }
  upper->count = full->count - keep;
  full->count = keep;
  Chunk** chunks = in->chunks();
  std::copy_backward(chunks + chunk + 1, chunks + in->chunkCount,
                     chunks + in->chunkCount + 1);
  chunks[chunk + 1] = upper;
  ++in->chunkCount;
  ResetCursor();
}

void Subkeys::insert(RegKeyPtr key) {
  uint32_t chunk = 0, offset = 0;
  if (m_index == nullptr) {
    m_index = Index::Make(Index::CapacityFor(1));
    m_index->chunks()[0] = Chunk::Make(kFirstChunkCapacity);
    m_index->chunkCount = 1;
  } else if (!Place(key->Name(), &chunk, &offset)) {
    return;
  }
  if (m_index->chunks()[chunk]->count == kChunkLimit) {
    SplitChunk(chunk);
    const uint32_t lower = m_index->chunks()[chunk]->count;
    if (offset > lower) {
      ++chunk;
      offset -= lower;
    }
  }
  Chunk*& target = m_index->chunks()[chunk];
  if (target->count == target->capacity)
    target = Chunk::Resize(target, std::min(target->capacity * 2, kChunkLimit));
  RegKeyPtr* keys = target->keys();
  if (offset == target->count) {
    new (&keys[offset]) RegKeyPtr(std::move(key));
  } else {
    new (&keys[target->count]) RegKeyPtr(std::move(keys[target->count - 1]));
    std::move_backward(keys + offset, keys + target->count - 1,
                       keys + target->count);
    keys[offset] = std::move(key);
  }
  ++target->count;
  ++m_index->size;
  if (chunk < m_index->cursorChunk) ++m_index->cursorStart;
}

void Subkeys::erase(const_iterator at) {
  Index* in = m_index;
  const uint32_t chunk = at.m_chunk;
  Chunk*& target = in->chunks()[chunk];
  RegKeyPtr* keys = target->keys();
  std::move(keys + at.m_offset + 1, keys + target->count, keys + at.m_offset);
  keys[target->count - 1].~RegKeyPtr();
  --target->count;
  --in->size;
  if (in->size == 0) {
    clear();
    return;
  }
  if (target->count == 0) {
    ::operator delete(target);
    Chunk** chunks = in->chunks();
    std::copy(chunks + chunk + 1, chunks + in->chunkCount, chunks + chunk);
    --in->chunkCount;
    ResetCursor();
    return;
  }
  // Space left over after many removals goes back.
  if (target->capacity > kFirstChunkCapacity &&
      target->count < target->capacity / 4)
    target = Chunk::Resize(target, target->capacity / 2);
  if (chunk < in->cursorChunk) --in->cursorStart;
}

}  // namespace internal
}  // namespace qxplatform
