// The element lists of the HTML tree builder, one table by name.
#include "tools/qxhost/page/element_kinds.h"

#include <initializer_list>
#include <unordered_map>

namespace qxhost {
namespace {

using std::string_view;

const std::unordered_map<string_view, unsigned>& ElementFlags() {
  static const auto* flags = [] {
    auto* table = new std::unordered_map<string_view, unsigned>;
    auto add = [table](std::initializer_list<string_view> names,
                       unsigned flag) {
      for (string_view name : names) (*table)[name] |= flag;
    };
    add({"area",     "base", "basefont", "bgsound", "br",    "col",    "embed",
         "frame",    "hr",   "image",    "img",     "input", "keygen", "link",
         "menuitem", "meta", "param",    "source",  "track", "wbr"},
        kVoid);
    add({"address",  "applet",    "area",     "article",    "aside",
         "base",     "basefont",  "bgsound",  "blockquote", "body",
         "br",       "button",    "caption",  "center",     "col",
         "colgroup", "dd",        "details",  "dir",        "div",
         "dl",       "dt",        "embed",    "fieldset",   "figcaption",
         "figure",   "footer",    "form",     "frame",      "frameset",
         "h1",       "h2",        "h3",       "h4",         "h5",
         "h6",       "head",      "header",   "hgroup",     "hr",
         "html",     "iframe",    "img",      "input",      "isindex",
         "li",       "link",      "listing",  "main",       "marquee",
         "menu",     "menuitem",  "meta",     "nav",        "noembed",
         "noframes", "noscript",  "object",   "ol",         "p",
         "param",    "plaintext", "pre",      "script",     "section",
         "select",   "source",    "style",    "summary",    "table",
         "tbody",    "td",        "template", "textarea",   "tfoot",
         "th",       "thead",     "title",    "tr",         "track",
         "ul",       "wbr",       "xmp"},
        kSpecial);
    add({"a", "b", "big", "code", "em", "font", "i", "nobr", "s", "small",
         "strike", "strong", "tt", "u"},
        kFormatting);
    add({"applet", "caption", "html", "table", "td", "th", "marquee", "object",
         "template"},
        kScopeBoundary);
    add({"address", "article", "aside",  "blockquote", "center",   "details",
         "dialog",  "dir",     "div",    "dl",         "fieldset", "figcaption",
         "figure",  "footer",  "header", "hgroup",     "main",     "menu",
         "nav",     "ol",      "p",      "section",    "summary",  "ul",
         "h1",      "h2",      "h3",     "h4",         "h5",       "h6",
         "pre",     "listing", "form",   "plaintext",  "xmp",      "dd",
         "dt",      "li"},
        kClosesP);
    add({"script", "style", "textarea", "title", "xmp", "iframe", "noembed",
         "noframes"},
        kRawText);
    add({"applet", "caption", "marquee", "object", "td", "th", "template"},
        kMarker);
    add({"h1", "h2", "h3", "h4", "h5", "h6"}, kHeading);
    add({"b",      "big",    "blockquote", "body",    "br",    "center", "code",
         "dd",     "div",    "dl",         "dt",      "em",    "embed",  "h1",
         "h2",     "h3",     "h4",         "h5",      "h6",    "head",   "hr",
         "i",      "img",    "li",         "listing", "menu",  "meta",   "nobr",
         "ol",     "p",      "pre",        "ruby",    "s",     "small",  "span",
         "strong", "strike", "sub",        "sup",     "table", "tt",     "u",
         "ul",     "var"},
        kBreakout);
    add({"foreignobject", "desc", "title", "mi", "mo", "mn", "ms", "mtext",
         "annotation-xml"},
        kIntegrationPoint);
    return table;
  }();
  return *flags;
}

}  // namespace

unsigned ElementFlagsOf(string_view name) {
  const auto& table = ElementFlags();
  auto found = table.find(name);
  return found == table.end() ? 0 : found->second;
}

}  // namespace qxhost
