// What the host takes from an HTML page: its <object> elements and its
// <script> blocks, in document order, read with an HTML5 parser so that a
// page is understood as a browser understands it, malformed or not. Content
// a browser keeps inert is left out: what is inside <template> and, since
// this host runs scripts, inside <noscript>.
#pragma once
#include <string>
#include <vector>

namespace qxhost {

struct PageObject {
  std::string id;
  std::string classId;  // the classid attribute as written
  // The codebase attribute as written: where the class's package is.
  bool hasCodebase = false;
  std::string codebase;
  bool hasParams = false;
  int line = 0;
  // The <object> this one is fallback content of (its index in
  // PageDocument::objects, which comes first), or -1.
  long fallbackOf = -1;
};

struct PageScript {
  bool hasType = false;
  std::string type;      // the type attribute as written
  std::string language;  // the language attribute, "" when absent
  std::string source;    // the src attribute, "" when absent
  // for= and event=, both present: an event handler's block.
  bool hasForEvent = false;
  std::string forName;
  std::string event;
  std::string text;
  int line = 0;  // where the first line of text stands
};

struct PageDocument {
  std::vector<PageObject> objects;
  std::vector<PageScript> scripts;
  // How much the parser had to repair; a page without a DOCTYPE is read in
  // quirks mode, as browsers read it, and is not counted as malformed.
  int parseErrors = 0;
};

// Parses the page; false (with *error) when the page is refused as too
// complex to parse in time linear in its size (see page_shape.h) or no
// document could be built.
bool ParsePage(const std::string& html, PageDocument* page, std::string* error);

}  // namespace qxhost
