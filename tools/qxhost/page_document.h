// What the host takes from an HTML page: its <object> elements and its
// <script> blocks, in document order, read with an HTML5 parser so that a
// page is understood as a browser understands it, malformed or not.
#pragma once
#include <string>
#include <vector>

namespace qxhost {

struct PageObject {
  std::string id;
  std::string classId;  // the classid attribute as written
  bool hasParams = false;
  int line = 0;
};

struct PageScript {
  std::string type;    // the type attribute, "" when absent
  std::string source;  // the src attribute, "" when absent
  std::string text;
  int line = 0;  // where the first line of text stands
};

struct PageDocument {
  std::vector<PageObject> objects;
  std::vector<PageScript> scripts;
  int parseErrors = 0;  // how much the parser had to repair
};

// Parses the page; false (with *error) only when no document could be built.
bool ParsePage(const std::string& html, PageDocument* page, std::string* error);

}  // namespace qxhost
