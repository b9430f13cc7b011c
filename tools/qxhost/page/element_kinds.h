// What the tree builder's rules need to know of an HTML element by its name
// (lower case): void, special, formatting, a scope boundary, and so on.
#pragma once
#include <string_view>

namespace qxhost {

enum ElementFlag : unsigned {
  kVoid = 1u << 0,
  kSpecial = 1u << 1,
  kFormatting = 1u << 2,
  kScopeBoundary = 1u << 3,  // in the HTML namespace
  kClosesP = 1u << 4,
  kRawText = 1u << 5,
  kMarker = 1u << 6,
  kHeading = 1u << 7,
  kBreakout = 1u << 8,          // leaves SVG or MathML content
  kIntegrationPoint = 1u << 9,  // in SVG or MathML: HTML inside
};

// The element's flags; 0 for a name the rules do not single out.
unsigned ElementFlagsOf(std::string_view name);

}  // namespace qxhost
