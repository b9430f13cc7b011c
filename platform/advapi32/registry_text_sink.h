// Where exported .reg text goes: a sink takes it in pieces, in order, so
// that a registry's text never has to be in memory whole. The writer
// gathers a piece in TextOut's buffer and hands it on between sections.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace qxplatform {
namespace internal {

class TextSink {
 public:
  virtual ~TextSink() = default;
  // Takes the next piece; false, with *error saying why, stops the export.
  [[nodiscard]] virtual bool Take(std::string_view piece,
                                  std::string* error) = 0;
};

// The text in memory, up to kMaxInMemoryExportBytes: enough for any
// registry a program's setup makes, while a larger one is refused with a
// message rather than exhausting the address space.
constexpr uint64_t kMaxInMemoryExportBytes = uint64_t{256} << 20;
class StringSink : public TextSink {
 public:
  explicit StringSink(std::string* text) : m_text(text) {}
  bool Take(std::string_view piece, std::string* error) override;

 private:
  std::string* m_text;
};

// The text written to a file descriptor as it is made.
class FdSink : public TextSink {
 public:
  explicit FdSink(int fd) : m_fd(fd) {}
  bool Take(std::string_view piece, std::string* error) override;

 private:
  int m_fd;
};

// The buffer the writer appends to, handed to the sink once it holds a
// piece's worth, and the count of bytes handed on.
class TextOut {
 public:
  explicit TextOut(TextSink& sink) : m_sink(sink) {}
  TextOut(const TextOut&) = delete;
  TextOut& operator=(const TextOut&) = delete;

  std::string* buffer() { return &m_buffer; }
  // Hands the buffer on when it holds a piece's worth; all of it with
  // whole true, as the text ends.
  [[nodiscard]] bool Pass(bool whole, std::string* error);
  uint64_t bytes() const { return m_bytes; }

 private:
  TextSink& m_sink;
  std::string m_buffer;
  uint64_t m_bytes = 0;
};

}  // namespace internal
}  // namespace qxplatform
