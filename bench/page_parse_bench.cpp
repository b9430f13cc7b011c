// Reading a page for qxhost run: the shape check, then gumbo. The time per
// byte must not grow with the page: for an ordinary page, and for pages
// shaped to take as much of the parser as the check lets through (elements
// nested as deep as the size pays for, stray end tags walking that stack,
// tags with many attributes). Complexity is reported against the size; a
// page the check refuses costs only the check.
#include <benchmark/benchmark.h>

#include <string>

#include "tools/qxhost/page/page_document.h"
#include "tools/qxhost/page/page_shape.h"

namespace {

// Repeats block (and ends with close) until the page reaches size bytes.
std::string PageOf(size_t size, const std::string& open,
                   const std::string& block, const std::string& close = "") {
  std::string page = "<!DOCTYPE html>\n<html><body>\n" + open;
  while (page.size() < size) page += block;
  return page + close + "<script>document.write('end')</script>\n";
}

std::string Repeated(const std::string& text, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += text;
  return out;
}

void ParseAndCheck(benchmark::State& state, const std::string& page,
                   bool accepted) {
  for (auto _ : state) {
    qxhost::PageDocument document;
    std::string error;
    bool parsed = qxhost::ParsePage(page, &document, &error);
    if (parsed != accepted) {
      state.SkipWithError(parsed ? "the page was not refused"
                                 : ("the page was refused: " + error).c_str());
      return;
    }
    benchmark::DoNotOptimize(document.scripts.size());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(page.size()));
  state.SetComplexityN(static_cast<int64_t>(page.size()));
}

void BM_OrdinaryPage(benchmark::State& state) {
  std::string block =
      "<div class=\"item\"><p>Paragraph with <b>bold</b> and <a "
      "href=\"#x\">a link</a><br>\n<ul><li>one<li>two</ul>"
      "<table><tr><td>a<td>b</table></div>\n";
  ParseAndCheck(state, PageOf(static_cast<size_t>(state.range(0)), "", block),
                true);
}
BENCHMARK(BM_OrdinaryPage)
    ->RangeMultiplier(4)
    ->Range(1 << 18, 1 << 24)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

// Comments and raw text, which the check reads past without counting tags.
void BM_CommentsAndScripts(benchmark::State& state) {
  std::string block =
      "<!-- a comment <b> --><!-- another --!><script>if (a<b && c>d) "
      "x('<i>')</script><style>p>b{}</style><textarea><p></textarea>\n";
  ParseAndCheck(state, PageOf(static_cast<size_t>(state.range(0)), "", block),
                true);
}
BENCHMARK(BM_CommentsAndScripts)
    ->RangeMultiplier(4)
    ->Range(1 << 18, 1 << 24)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

// Blocks of spans nested 100 deep: close to the work the check allows per
// byte.
void BM_NestedAsDeepAsAllowed(benchmark::State& state) {
  std::string block = Repeated("<span>", 100) + "x" + Repeated("</span>", 100);
  ParseAndCheck(state, PageOf(static_cast<size_t>(state.range(0)), "", block),
                true);
}
BENCHMARK(BM_NestedAsDeepAsAllowed)
    ->RangeMultiplier(4)
    ->Range(1 << 18, 1 << 24)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

// End tags of elements that are not open, each making gumbo walk the open
// ones, under as many spans as the check lets such a page keep open.
void BM_StrayEndTagsAtDepth(benchmark::State& state) {
  ParseAndCheck(state,
                PageOf(static_cast<size_t>(state.range(0)),
                       Repeated("<span>", 28), "</x>"),
                true);
}
BENCHMARK(BM_StrayEndTagsAtDepth)
    ->RangeMultiplier(4)
    ->Range(1 << 18, 1 << 24)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

// Tags with as many attributes as the check allows for their length.
void BM_ManyAttributes(benchmark::State& state) {
  std::string block = "<i";
  for (int i = 0; i < 40; ++i) block += " a" + std::to_string(i);
  block += "></i>";
  ParseAndCheck(state, PageOf(static_cast<size_t>(state.range(0)), "", block),
                true);
}
BENCHMARK(BM_ManyAttributes)
    ->RangeMultiplier(4)
    ->Range(1 << 18, 1 << 24)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

// 100,000 nested elements and then some: refused by the check alone, in
// time linear in the size (gumbo would take minutes).
void BM_RefusedNesting(benchmark::State& state) {
  ParseAndCheck(
      state, PageOf(static_cast<size_t>(state.range(0)), "", "<span>"), false);
}
BENCHMARK(BM_RefusedNesting)
    ->RangeMultiplier(4)
    ->Range(1 << 20, 1 << 24)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace

BENCHMARK_MAIN();
