// Reading a page with gumbo, once its shape has shown that gumbo can read it
// in time linear in its size. The tree is walked with an explicit stack:
// a page can nest elements deeper than the C stack would take.
#include "tools/qxhost/page/page_document.h"

#include <gumbo.h>
#include <strings.h>

#include <utility>

#include "tools/qxhost/page/page_shape.h"

namespace qxhost {
namespace {

// Past this many repairs the count says enough.
constexpr int kMaxRecordedErrors = 1000;

std::string AttributeOf(const GumboElement& element, const char* name) {
  const GumboAttribute* attribute =
      gumbo_get_attribute(&element.attributes, name);
  return attribute == nullptr || attribute->value == nullptr
             ? std::string()
             : std::string(attribute->value);
}

bool HasAttribute(const GumboElement& element, const char* name) {
  return gumbo_get_attribute(&element.attributes, name) != nullptr;
}

PageObject ReadObject(const GumboElement& element) {
  PageObject object;
  object.id = AttributeOf(element, "id");
  object.classId = AttributeOf(element, "classid");
  object.hasCodebase = HasAttribute(element, "codebase");
  object.codebase = AttributeOf(element, "codebase");
  object.line = static_cast<int>(element.start_pos.line);
  for (unsigned i = 0; i < element.children.length; ++i) {
    const auto* child = static_cast<const GumboNode*>(element.children.data[i]);
    if (child->type == GUMBO_NODE_ELEMENT &&
        child->v.element.tag == GUMBO_TAG_PARAM)
      object.hasParams = true;
  }
  return object;
}

PageScript ReadScript(const GumboElement& element) {
  PageScript script;
  script.hasType = HasAttribute(element, "type");
  script.type = AttributeOf(element, "type");
  script.language = AttributeOf(element, "language");
  if (HasAttribute(element, "for") && HasAttribute(element, "event")) {
    script.hasForEvent = true;
    script.forName = AttributeOf(element, "for");
    script.event = AttributeOf(element, "event");
  }
  if (HasAttribute(element, "src")) {
    script.source = AttributeOf(element, "src");
    if (script.source.empty()) script.source = "\"\"";
  }
  script.line = static_cast<int>(element.start_pos.line);
  bool first = true;
  for (unsigned i = 0; i < element.children.length; ++i) {
    const auto* child = static_cast<const GumboNode*>(element.children.data[i]);
    if (child->type != GUMBO_NODE_TEXT && child->type != GUMBO_NODE_CDATA &&
        child->type != GUMBO_NODE_WHITESPACE)
      continue;
    if (first) {
      script.line = static_cast<int>(child->v.text.start_pos.line);
      first = false;
    }
    script.text += child->v.text.text;
  }
  return script;
}

bool IsHtmlSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

// Where the raw text of a <noscript> that starts its content at from ends,
// as a browser that runs scripts reads it: at the first "</noscript"
// followed by a space, '/' or '>'; the end of the page if none.
size_t NoscriptTextEnd(const std::string& html, size_t from) {
  static const char kEnd[] = "</noscript";
  const size_t length = sizeof kEnd - 1;
  for (size_t at = html.find("</", from); at != std::string::npos;
       at = html.find("</", at + 2)) {
    if (at + length >= html.size()) break;
    if (strncasecmp(html.c_str() + at, kEnd, length) == 0) {
      char after = html[at + length];
      if (IsHtmlSpace(after) || after == '/' || after == '>') return at;
    }
  }
  return html.size();
}

// gumbo parses <noscript> as a browser that runs no scripts does, and in
// <head> moves elements it does not allow there out of it. A browser that
// runs scripts reads its content as text: whatever starts in that text is
// left out, wherever gumbo put it. Such spans never overlap, so the last
// one is all the walk needs, and each search for an end starts past the
// previous one.
struct InertText {
  size_t from = 0;
  size_t to = 0;
  bool Holds(size_t offset) const { return offset > from && offset < to; }
};

// Takes the element into page when it is an <object> or a <script> that
// counts (*enclosingObject becomes the object's index for what is inside
// it); the children to walk, or null for content a browser keeps inert.
const GumboVector* VisitElement(const std::string& html,
                                const GumboElement& element, InertText* text,
                                long* enclosingObject, PageDocument* page) {
  // A <template> node (GUMBO_NODE_TEMPLATE) holds inert contents and is
  // not walked; neither is <noscript>.
  size_t offset = element.start_pos.offset;
  bool inert = text->Holds(offset);
  if (element.tag == GUMBO_TAG_NOSCRIPT &&
      element.tag_namespace == GUMBO_NAMESPACE_HTML) {
    if (!inert && element.original_tag.length != 0) {
      text->from = offset;
      text->to = NoscriptTextEnd(html, offset + element.original_tag.length);
    }
    return nullptr;
  }
  // What starts in the text is left out; what gumbo put inside it from
  // past the text's end still counts.
  if (!inert && element.tag == GUMBO_TAG_OBJECT &&
      element.tag_namespace == GUMBO_NAMESPACE_HTML) {
    page->objects.push_back(ReadObject(element));
    page->objects.back().fallbackOf = *enclosingObject;
    *enclosingObject = static_cast<long>(page->objects.size()) - 1;
  }
  if (!inert && element.tag == GUMBO_TAG_SCRIPT &&
      element.tag_namespace != GUMBO_NAMESPACE_MATHML)
    page->scripts.push_back(ReadScript(element));
  return &element.children;
}

// The document's objects and scripts, in document order.
void WalkDocument(const std::string& html, const GumboNode* document,
                  PageDocument* page) {
  InertText inert;
  // Each node with the index of the <object> it is inside, or -1.
  std::vector<std::pair<const GumboNode*, long>> pending = {{document, -1}};
  while (!pending.empty()) {
    auto [node, enclosingObject] = pending.back();
    pending.pop_back();
    const GumboVector* children = nullptr;
    if (node->type == GUMBO_NODE_DOCUMENT) {
      children = &node->v.document.children;
    } else if (node->type == GUMBO_NODE_ELEMENT) {
      children =
          VisitElement(html, node->v.element, &inert, &enclosingObject, page);
    }
    if (children == nullptr) continue;
    // Last child first, so the walk pops them in document order.
    for (unsigned i = children->length; i > 0; --i) {
      pending.emplace_back(static_cast<const GumboNode*>(children->data[i - 1]),
                           enclosingObject);
    }
  }
}

}  // namespace

bool ParsePage(const std::string& html, PageDocument* page,
               std::string* error) {
  if (!CheckPageShape(html, error)) return false;
  GumboOptions options = kGumboDefaultOptions;
  options.max_errors = kMaxRecordedErrors;
  GumboOutput* output =
      gumbo_parse_with_options(&options, html.data(), html.size());
  if (output == nullptr || output->document == nullptr) {
    if (output != nullptr) gumbo_destroy_output(&options, output);
    *error = "the page could not be parsed";
    return false;
  }
  page->parseErrors = static_cast<int>(output->errors.length);
  // gumbo reports a missing DOCTYPE as an error; browsers read such a page
  // in quirks mode without complaint.
  if (!output->document->v.document.has_doctype && page->parseErrors > 0)
    --page->parseErrors;

  WalkDocument(html, output->document, page);
  gumbo_destroy_output(&options, output);
  return true;
}

}  // namespace qxhost
