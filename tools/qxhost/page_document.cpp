// Reading a page with gumbo. The tree is walked with an explicit stack:
// a hostile page can nest elements deeper than the C stack would take.
#include "tools/qxhost/page_document.h"

#include <gumbo.h>

#include <utility>

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
  script.type = AttributeOf(element, "type");
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

}  // namespace

bool ParsePage(const std::string& html, PageDocument* page,
               std::string* error) {
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

  std::vector<const GumboNode*> pending = {output->document};
  while (!pending.empty()) {
    const GumboNode* node = pending.back();
    pending.pop_back();
    const GumboVector* children = nullptr;
    if (node->type == GUMBO_NODE_DOCUMENT) {
      children = &node->v.document.children;
    } else if (node->type == GUMBO_NODE_ELEMENT ||
               node->type == GUMBO_NODE_TEMPLATE) {
      const GumboElement& element = node->v.element;
      if (element.tag == GUMBO_TAG_OBJECT)
        page->objects.push_back(ReadObject(element));
      if (element.tag == GUMBO_TAG_SCRIPT)
        page->scripts.push_back(ReadScript(element));
      children = &element.children;
    }
    if (children == nullptr) continue;
    // Last child first, so the walk pops them in document order.
    for (unsigned i = children->length; i > 0; --i)
      pending.push_back(static_cast<const GumboNode*>(children->data[i - 1]));
  }
  gumbo_destroy_output(&options, output);
  return true;
}

}  // namespace qxhost
