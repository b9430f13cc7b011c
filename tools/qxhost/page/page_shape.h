// How much work a page would ask of the HTML parser. gumbo checks each
// attribute of a tag against the tag's earlier ones and walks its stack of
// open elements for many tags, so a page of one element with 100,000
// attributes, or of 100,000 elements nested in each other, takes it time that
// grows with the square of the page. Before a page reaches gumbo, the host
// reads its tags once, keeping an estimate of the elements open at each one,
// and adds up that work: each tag costs the elements open around it, each
// attribute the attributes before it in its tag. A page whose work is not
// linear in its size is refused.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace qxhost {

// Work allowed per byte of page, and on top of it for any page: a small page
// may nest a few thousand elements deep; a large one only as deep as its
// size pays for.
constexpr uint64_t kPageWorkPerByte = 8;
constexpr uint64_t kPageWorkAllowance = uint64_t{1} << 22;

// True when gumbo can read the page in time linear in its size; otherwise
// false with *error, a sentence naming the line where the work ran out.
bool CheckPageShape(const std::string& html, std::string* error);

}  // namespace qxhost
