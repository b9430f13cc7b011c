// The sinks exported text goes to, and the buffer that gathers its pieces.
#include "registry_text_sink.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace qxplatform {
namespace internal {
namespace {

// A piece large enough that writing it costs little per byte, small enough
// to be nothing beside the registry's own page cache.
constexpr size_t kPieceBytes = size_t{1} << 18;

}  // namespace

bool StringSink::Take(std::string_view piece, std::string* error) {
  if (m_text->size() + piece.size() > kMaxInMemoryExportBytes) {
    *error = "the text is larger than 256 MiB, too large to be held in "
             "memory; export it to a file";
    return false;
  }
  const size_t needed = m_text->size() + piece.size();
  if (needed > m_text->capacity()) {
    const size_t doubled = m_text->capacity() * 2;
    const size_t room = std::min<size_t>(std::max(needed, doubled),
                                         kMaxInMemoryExportBytes);
    // Asked of malloc first: without exceptions, a string that cannot grow
    // ends the process, while a refusal here is a message.
    void* probe = std::malloc(room + 1);
    if (probe == nullptr) {
      *error = "not enough memory to hold the text; export it to a file";
      return false;
    }
    std::free(probe);
    m_text->reserve(room);
  }
  m_text->append(piece.data(), piece.size());
  return true;
}

bool FdSink::Take(std::string_view piece, std::string* error) {
  while (!piece.empty()) {
    const ssize_t wrote = write(m_fd, piece.data(), piece.size());
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      *error = std::string("cannot write the text: ") +
               (wrote < 0 ? std::strerror(errno) : "nothing was written");
      return false;
    }
    piece.remove_prefix(static_cast<size_t>(wrote));
  }
  return true;
}

bool TextOut::Pass(bool whole, std::string* error) {
  if (m_buffer.empty() || (!whole && m_buffer.size() < kPieceBytes))
    return true;
  if (!m_sink.Take(m_buffer, error)) return false;
  m_bytes += m_buffer.size();
  m_buffer.clear();
  return true;
}

}  // namespace internal
}  // namespace qxplatform
