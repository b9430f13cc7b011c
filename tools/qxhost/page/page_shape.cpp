// The page's tags read as the HTML tokenizer reads them (comments, raw text
// elements such as <script>, quoted attribute values), and the elements open
// at each tag estimated the way the tree builder keeps its stack: an end tag
// closes what it closes there (an element, and whatever the builder pops
// with it), <p>, <li>, table cells and the like close implicitly, void and
// foreign self-closing elements never open. Where the estimate cannot follow
// gumbo exactly it errs towards more open elements, never fewer: formatting
// elements closed by another element's end tag stay counted, as gumbo keeps
// them to reopen. Everything here is linear in the work it adds up, which is
// bounded before it is done.
#include "tools/qxhost/page/page_shape.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string_view>
#include <vector>

#include "tools/qxhost/page/element_kinds.h"

namespace qxhost {
namespace {

using std::string_view;

// Which namespace an open element is in, as far as the estimate can tell.
// Where it cannot, it takes neither side: such an element's self-closing
// tag still opens it, and its raw text is still read as tags.
enum class Space { kHtml, kForeign, kUnsure };

struct OpenElement {
  std::string name;  // lower case
  unsigned flags = 0;
  Space space = Space::kHtml;
  uint64_t reopenableAtStart = 0;  // for markers
};

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}
bool IsAsciiAlpha(char c) {
  char lower = static_cast<char>(c | 0x20);
  return lower >= 'a' && lower <= 'z';
}
char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

enum class Refusal { kNone, kNesting, kAttributes };

class ShapeScanner {
 public:
  explicit ShapeScanner(const std::string& html)
      : m_begin(html.data()),
        m_end(html.data() + html.size()),
        m_budget(kPageWorkAllowance + kPageWorkPerByte * html.size()) {}

  // False when the work ran out; refusal() and failedAt() then say where.
  bool Scan();
  Refusal refusal() const { return m_refusal; }
  const char* failedAt() const { return m_tagStart; }
  const char* begin() const { return m_begin; }

 private:
  bool Charge(uint64_t units, Refusal kind) {
    m_work += units;
    if (m_work <= m_budget) return true;
    m_refusal = kind;
    return false;
  }
  const char* SkipPast(const char* from, char c) const {
    const void* found = std::memchr(from, c, static_cast<size_t>(m_end - from));
    return found == nullptr ? m_end : static_cast<const char*>(found) + 1;
  }
  const char* Find(const char* from, string_view pattern) const {
    string_view rest(from, static_cast<size_t>(m_end - from));
    size_t at = rest.find(pattern);
    return at == string_view::npos ? m_end : from + at;
  }
  const char* SkipMarkupDeclaration(const char* from) const;
  const char* SkipRawText(const char* from, const std::string& name) const;
  bool ReadTag(const char** cursor, bool endTag);

  bool ReadAttributes(const char** cursor, bool* selfClosing, bool* complete);

  void StartTag(const std::string& name, bool selfClosing, bool* rawText);
  Space EnterSpace(const std::string& name, unsigned flags);
  bool LeaveSelectFor(const std::string& name, bool* inSelect);
  void CloseImpliedBy(const std::string& name, unsigned flags, bool inSelect);
  void CloseListItemFor(const std::string& name);
  void CloseRepeated(const std::string& name);
  long FindInTableScope(std::initializer_list<const char*> names) const;

  void EndTag(const std::string& name);
  void EndTagInHtml(const std::string& name, unsigned flags);
  void EndHeading();
  void EndFormatting(const std::string& name);

  // Index of the topmost open element named name, searching down from the
  // top and giving up at an element for which stop() is true; -1 if none.
  template <typename Stop>
  long FindOpen(const std::string& name, Stop stop) const {
    for (size_t i = m_open.size(); i > 0; --i) {
      const OpenElement& element = m_open[i - 1];
      if (element.name == name && element.space == Space::kHtml)
        return static_cast<long>(i - 1);
      if (stop(element)) return -1;
    }
    return -1;
  }
  long FindInScope(const std::string& name) const {
    return FindOpen(
        name, [](const OpenElement& element) { return IsBoundary(element); });
  }
  static bool IsBoundary(const OpenElement& element) {
    if (element.space == Space::kHtml)
      return (element.flags & kScopeBoundary) != 0;
    return (element.flags & kIntegrationPoint) != 0 ||
           element.space == Space::kUnsure;
  }
  void PopTo(long index);
  void CloseP();
  void Adopt(long index);

  const char* m_begin;
  const char* m_end;
  const char* m_tagStart = nullptr;
  uint64_t m_budget;
  uint64_t m_work = 0;
  Refusal m_refusal = Refusal::kNone;
  std::vector<OpenElement> m_open;
  // Formatting elements closed by something else, which gumbo reopens on
  // the next text or tag.
  uint64_t m_reopenable = 0;
  bool m_frameset = false;
};

bool ShapeScanner::Scan() {
  const char* cursor = m_begin;
  while (cursor < m_end) {
    cursor = SkipPast(cursor, '<');
    if (cursor >= m_end) break;
    m_tagStart = cursor - 1;
    char c = *cursor;
    if (c == '!') {
      cursor = SkipMarkupDeclaration(cursor + 1);
    } else if (c == '?') {
      cursor = SkipPast(cursor, '>');
    } else if (c == '/') {
      ++cursor;
      if (cursor < m_end && IsAsciiAlpha(*cursor)) {
        if (!ReadTag(&cursor, /*endTag=*/true)) return false;
      } else if (cursor < m_end && *cursor == '>') {
        ++cursor;
      } else {
        cursor = SkipPast(cursor, '>');
      }
    } else if (IsAsciiAlpha(c)) {
      if (!ReadTag(&cursor, /*endTag=*/false)) return false;
    }
  }
  return true;
}

// From just after "<!": a comment, a DOCTYPE or a bogus comment.
const char* ShapeScanner::SkipMarkupDeclaration(const char* from) const {
  if (m_end - from >= 2 && from[0] == '-' && from[1] == '-') {
    // "-->" may share the opening dashes ("<!-->", "<!--->"); "--!>" also
    // ends a comment.
    // "--!>" is looked for only before the first "-->": each comment's
    // search ends where the comment does.
    const char* close = Find(from, "-->");
    string_view before(
        from + 2, static_cast<size_t>(std::max(close, from + 2) - (from + 2)));
    size_t bang = before.find("--!>");
    if (bang != string_view::npos) return from + 2 + bang + 4;
    return close == m_end ? m_end : close + 3;
  }
  // A DOCTYPE ends at its first '>', quoted identifiers or not; CDATA
  // outside foreign content is a bogus comment, and inside it ends at a '>'
  // too, so ending there never reads less as tags than gumbo does.
  return SkipPast(from, '>');
}

// Raw text ends at "</name" followed by a space, '/' or '>'. In a script,
// "<!--<script>" can hide such an end from gumbo, so gumbo's script may run
// on; what follows is then read here as tags, which only overestimates.
const char* ShapeScanner::SkipRawText(const char* from,
                                      const std::string& name) const {
  const char* cursor = from;
  while (cursor < m_end) {
    const char* open = SkipPast(cursor, '<');
    if (open >= m_end) return m_end;
    const char* at = open;
    if (at < m_end && *at == '/' &&
        static_cast<size_t>(m_end - at - 1) > name.size()) {
      bool same = true;
      for (size_t i = 0; i < name.size() && same; ++i)
        same = Lower(at[1 + i]) == name[i];
      char after = at[1 + name.size()];
      if (same && (IsSpace(after) || after == '/' || after == '>'))
        return open - 1;
    }
    cursor = open;
  }
  return m_end;
}

// From the first letter of the tag name; reads the tag as the tokenizer
// does and applies it to the open elements.
bool ShapeScanner::ReadTag(const char** cursor, bool endTag) {
  const char* nameStart = *cursor;
  const char* at = nameStart;
  while (at < m_end && !IsSpace(*at) && *at != '/' && *at != '>') ++at;
  std::string name(nameStart, at);
  for (char& c : name) c = Lower(c);
  if (!Charge(m_open.size() + m_reopenable + 1, Refusal::kNesting))
    return false;
  *cursor = at;
  bool selfClosing = false;
  bool complete = false;
  if (!ReadAttributes(cursor, &selfClosing, &complete)) return false;
  // A tag cut short by the end of the page is dropped.
  if (!complete) return true;
  if (endTag) {
    EndTag(name);
    return true;
  }
  bool rawText = false;
  StartTag(name, selfClosing, &rawText);
  if (rawText) *cursor = SkipRawText(*cursor, name);
  return true;
}

// From after the tag name to after its '>' (*complete) or the end of the
// page, charging for each attribute; false when the work ran out.
bool ShapeScanner::ReadAttributes(const char** cursor, bool* selfClosing,
                                  bool* complete) {
  const char* at = *cursor;
  uint64_t attributes = 0;
  while (at < m_end) {
    while (at < m_end && IsSpace(*at)) ++at;
    if (at >= m_end) break;
    if (*at == '>') {
      ++at;
      *complete = true;
      break;
    }
    if (*at == '/') {
      ++at;
      if (at < m_end && *at == '>') {
        ++at;
        *selfClosing = true;
        *complete = true;
        break;
      }
      continue;
    }
    // An attribute name; its first character may be anything, '=' too.
    const char* attributeStart = at++;
    while (at < m_end && !IsSpace(*at) && *at != '/' && *at != '>' &&
           *at != '=')
      ++at;
    // gumbo compares the name with each earlier one of the tag.
    uint64_t length = static_cast<uint64_t>(at - attributeStart);
    if (!Charge(1 + attributes * (1 + length / 64), Refusal::kAttributes))
      return false;
    ++attributes;
    while (at < m_end && IsSpace(*at)) ++at;
    if (at >= m_end || *at != '=') continue;
    ++at;
    while (at < m_end && IsSpace(*at)) ++at;
    if (at >= m_end) break;
    if (*at == '"' || *at == '\'') {
      at = SkipPast(at + 1, *at);
    } else if (*at != '>') {
      while (at < m_end && !IsSpace(*at) && *at != '>') ++at;
    }
  }
  *cursor = at;
  return true;
}

void ShapeScanner::PopTo(long index) {
  while (static_cast<long>(m_open.size()) > index) {
    const OpenElement& element = m_open.back();
    bool target = static_cast<long>(m_open.size()) - 1 == index;
    if (element.flags & kMarker)
      m_reopenable = std::min(m_reopenable, element.reopenableAtStart);
    else if (!target && (element.flags & kFormatting) &&
             element.space == Space::kHtml)
      ++m_reopenable;
    m_open.pop_back();
  }
}

// Closes a <p> in button scope.
void ShapeScanner::CloseP() {
  long p = FindOpen("p", [](const OpenElement& element) {
    return IsBoundary(element) ||
           (element.name == "button" && element.space == Space::kHtml);
  });
  if (p >= 0) PopTo(p);
}

// The adoption agency for the formatting element at index: with a special
// element above it, the element comes off the stack and a copy goes back
// above that element, so as many stay open as before; without one, it
// closes with everything above it.
void ShapeScanner::Adopt(long index) {
  for (size_t i = static_cast<size_t>(index) + 1; i < m_open.size(); ++i) {
    if (m_open[i].flags & kSpecial) return;
  }
  PopTo(index);
}

void ShapeScanner::StartTag(const std::string& name, bool selfClosing,
                            bool* rawText) {
  unsigned flags = ElementFlagsOf(name);
  Space space = EnterSpace(name, flags);
  if (space != Space::kHtml) {
    // A self-closing foreign element never opens; where the namespace is
    // unsure, it opens all the same.
    if (space == Space::kForeign && selfClosing) return;
    m_open.push_back({name, flags, space, m_reopenable});
    return;
  }
  // In the HTML namespace, as the tree builder's "in body" rules go.
  if (name == "html" || name == "head" || name == "body") return;
  if (name == "frameset") m_frameset = true;
  bool inSelect = false;
  if (!LeaveSelectFor(name, &inSelect)) return;
  CloseImpliedBy(name, flags, inSelect);
  CloseRepeated(name);
  if (flags & kVoid) return;
  m_open.push_back({name, flags, Space::kHtml, m_reopenable});
  if (flags & kRawText) {
    if (m_frameset)
      *rawText = name == "noframes";
    else if (inSelect)
      *rawText = name == "script";
    else
      *rawText = true;
  }
}

// The namespace a start tag's element opens in. An HTML element named in
// SVG or MathML content first closes that content.
Space ShapeScanner::EnterSpace(const std::string& name, unsigned flags) {
  const OpenElement* top = m_open.empty() ? nullptr : &m_open.back();
  if (top != nullptr && top->space == Space::kForeign &&
      !(top->flags & kIntegrationPoint) && (flags & kBreakout)) {
    while (!m_open.empty() && m_open.back().space == Space::kForeign &&
           !(m_open.back().flags & kIntegrationPoint))
      m_open.pop_back();
    top = m_open.empty() ? nullptr : &m_open.back();
  }
  if (name == "svg" || name == "math") return Space::kForeign;
  if (top != nullptr && top->space == Space::kForeign) {
    if (!(top->flags & kIntegrationPoint)) return Space::kForeign;
    if (top->name == "annotation-xml") return Space::kUnsure;
    if (name == "mglyph" || name == "malignmark") return Space::kForeign;
    return Space::kHtml;
  }
  if (top != nullptr && top->space == Space::kUnsure) return Space::kUnsure;
  return Space::kHtml;
}

// Whether the tag is inside a <select> (*inSelect), once a select,
// textarea, input or keygen there has closed it; false when that is all
// the tag does (a <select> inside one).
bool ShapeScanner::LeaveSelectFor(const std::string& name, bool* inSelect) {
  *inSelect = FindInScope("select") >= 0;
  if (*inSelect && (name == "select" || name == "textarea" || name == "input" ||
                    name == "keygen")) {
    PopTo(FindOpen("select", [](const OpenElement&) { return false; }));
    if (name == "select") return false;
    *inSelect = false;
  }
  return true;
}

// What a start tag closes before it opens: a <p>, a heading under a
// heading, a list item, an option.
void ShapeScanner::CloseImpliedBy(const std::string& name, unsigned flags,
                                  bool inSelect) {
  if (flags & kClosesP) CloseP();
  if ((flags & kHeading) && !m_open.empty() &&
      (m_open.back().flags & kHeading) && m_open.back().space == Space::kHtml)
    m_open.pop_back();
  if (name == "li" || name == "dd" || name == "dt") CloseListItemFor(name);
  if ((name == "option" || name == "optgroup") && !m_open.empty() &&
      m_open.back().name == "option")
    m_open.pop_back();
  if (name == "optgroup" && inSelect && !m_open.empty() &&
      m_open.back().name == "optgroup")
    m_open.pop_back();
}

// An <li> closes the open <li>, a <dd> or <dt> the open <dd> or <dt>,
// unless a special element other than address, div or p is in the way.
void ShapeScanner::CloseListItemFor(const std::string& name) {
  for (size_t i = m_open.size(); i > 0; --i) {
    const OpenElement& element = m_open[i - 1];
    bool closes = name == "li" ? element.name == "li"
                               : element.name == "dd" || element.name == "dt";
    if (closes && element.space == Space::kHtml) {
      PopTo(static_cast<long>(i - 1));
      return;
    }
    if ((element.flags & kSpecial) && element.name != "address" &&
        element.name != "div" && element.name != "p")
      return;
  }
}

// A cell, row or table section closes the open one of its kind in the
// table; a second <a>, <nobr> or <button> closes the first.
void ShapeScanner::CloseRepeated(const std::string& name) {
  long open = -1;
  if (name == "td" || name == "th") {
    open = FindInTableScope({"td", "th"});
  } else if (name == "tr") {
    open = FindInTableScope({"tr"});
  } else if (name == "tbody" || name == "thead" || name == "tfoot") {
    open = FindInTableScope({"tbody", "thead", "tfoot"});
  } else if (name == "a" || name == "nobr") {
    // By the adoption agency.
    long first = FindOpen(name, [](const OpenElement& element) {
      return (element.flags & kMarker) != 0;
    });
    if (first >= 0) Adopt(first);
    return;
  } else if (name == "button") {
    open = FindInScope("button");
  }
  if (open >= 0) PopTo(open);
}

// The topmost open HTML element with one of the names, below no table,
// html or template element; -1 if none.
long ShapeScanner::FindInTableScope(
    std::initializer_list<const char*> names) const {
  for (size_t i = m_open.size(); i > 0; --i) {
    const OpenElement& element = m_open[i - 1];
    if (element.name == "table" || element.name == "html" ||
        element.name == "template")
      return -1;
    for (const char* candidate : names) {
      if (element.name == candidate && element.space == Space::kHtml)
        return static_cast<long>(i - 1);
    }
  }
  return -1;
}

void ShapeScanner::EndTag(const std::string& name) {
  // In SVG or MathML content an end tag closes the foreign element it
  // names; otherwise the HTML rules take it.
  for (size_t i = m_open.size(); i > 0; --i) {
    const OpenElement& element = m_open[i - 1];
    if (element.space != Space::kForeign) break;
    if (element.name == name) {
      PopTo(static_cast<long>(i - 1));
      return;
    }
  }
  EndTagInHtml(name, ElementFlagsOf(name));
}

void ShapeScanner::EndTagInHtml(const std::string& name, unsigned flags) {
  if (name == "body" || name == "html" || name == "br") return;
  if (name == "p") {
    CloseP();
    return;
  }
  if (name == "li") {
    long li = FindOpen("li", [](const OpenElement& element) {
      return IsBoundary(element) || element.name == "ol" ||
             element.name == "ul";
    });
    if (li >= 0) PopTo(li);
    return;
  }
  if (flags & kHeading) {
    EndHeading();
    return;
  }
  if (name == "form") {
    // The form is taken off the stack alone.
    long form = FindInScope("form");
    if (form >= 0) m_open.erase(m_open.begin() + form);
    return;
  }
  if (flags & kFormatting) {
    EndFormatting(name);
    return;
  }
  if (name == "table" || name == "tbody" || name == "thead" ||
      name == "tfoot" || name == "tr" || name == "td" || name == "th" ||
      name == "caption" || name == "colgroup") {
    // Table scope: a cell does not stop the search, the table does.
    long open = FindOpen(name, [](const OpenElement& element) {
      return element.space == Space::kHtml &&
             (element.name == "table" || element.name == "html" ||
              element.name == "template");
    });
    if (open >= 0) PopTo(open);
    return;
  }
  if (flags & kSpecial) {
    long open = FindInScope(name);
    if (open >= 0) PopTo(open);
    return;
  }
  long open = FindOpen(name, [](const OpenElement& element) {
    return (element.flags & kSpecial) != 0 && element.space == Space::kHtml;
  });
  if (open >= 0) PopTo(open);
}

// Any heading's end tag closes the open heading in scope.
void ShapeScanner::EndHeading() {
  for (size_t i = m_open.size(); i > 0; --i) {
    const OpenElement& element = m_open[i - 1];
    if ((element.flags & kHeading) && element.space == Space::kHtml) {
      PopTo(static_cast<long>(i - 1));
      return;
    }
    if (IsBoundary(element)) return;
  }
}

void ShapeScanner::EndFormatting(const std::string& name) {
  long open = FindInScope(name);
  if (open >= 0) {
    Adopt(open);
    return;
  }
  // Perhaps one closed earlier by another end tag: gumbo forgets it.
  if (FindOpen(name, [](const OpenElement&) { return false; }) < 0 &&
      m_reopenable > 0)
    --m_reopenable;
}

}  // namespace

bool CheckPageShape(const std::string& html, std::string* error) {
  ShapeScanner scanner(html);
  if (scanner.Scan()) return true;
  const char* at = scanner.failedAt();
  long line = 1 + std::count(scanner.begin(),
                             at == nullptr ? scanner.begin() : at, '\n');
  *error = "the page is refused: at line " + std::to_string(line) +
           (scanner.refusal() == Refusal::kAttributes
                ? " a tag carries too many attributes"
                : " its elements nest too deeply") +
           " to be parsed in time linear in its size";
  return false;
}

}  // namespace qxhost
