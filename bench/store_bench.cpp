// Loading and saving favorites files of a normal size (44 full tabs of 30
// bookmarks) and of 100,000 nodes, against a plain read of the same bytes
// (load_per_read on the clock, load_per_read_cpu in processor time);
// reading a 10 MB bookmark HTML file of 100,000 links; adding 100,000 nodes.
#include <benchmark/benchmark.h>

#include <time.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "base/codepage.h"
#include "os/os.h"
#include "store/bookmark_html.h"
#include "store/favorites_file.h"
#include "store/node.h"

namespace {

// The generated files live in one folder that goes away when the run ends.
struct BenchFolder {
  std::string path;
  BenchFolder() {
    path = os::TempFolder() + "qimbo-store-bench";
    os::CreateFolder(path);
    path += "\\";
  }
  ~BenchFolder() {
    std::vector<os::DirEntry> entries;
    if (os::ListFolder(path, "*.*", entries))
      for (const os::DirEntry& e : entries)
        if (!e.isFolder) os::RemoveFile(path + e.name);
    os::RemoveFolder(path.substr(0, path.size() - 1));
  }
};

std::string Folder() {
  static BenchFolder folder;
  return folder.path;
}

// categories x itemsPerCategory bookmarks, written once per size.
std::string MakeFile(int categories, int itemsPerCategory) {
  std::string name = Folder() + "bench-" + std::to_string(categories) + "x" + std::to_string(itemsPerCategory) + ".sc";
  if (os::FileExists(name)) return name;
  CMyNodeList list;
  for (int c = 0; c < categories; ++c) {
    CMyNode* cat = new CMyNode("分类 " + std::to_string(c), UrlCategory, nullptr, c % 44);
    list.AddLoadedNode(cat);
    for (int i = 0; i < itemsPerCategory; ++i) {
      CMyNode* n = new CMyNode;
      n->m_strName = "网站 " + std::to_string(c) + "-" + std::to_string(i);
      n->m_strAddress = "http://www.example" + std::to_string(c) + ".com.cn/page/" + std::to_string(i) + ".html";
      n->m_strIconPath = "C:\\Program Files\\Qimbo\\images\\icon\\" + std::to_string(i % 5) + ".ico";
      n->m_pParent = cat;
      n->m_nSlot = i % 30;
      n->m_nVisits = (c * 31 + i * 7) % 100;
      list.AddLoadedNode(n);
    }
  }
  SaveFavoritesFile(list, Folder(), name.substr(Folder().size()));
  return name;
}

void Sizes(benchmark::internal::Benchmark* b) {
  b->Args({44, 30});      // 1,320 bookmarks + 44 categories
  b->Args({1000, 99});    // 100,000 nodes
}

// Processor time of this thread, kernel time included (the plain read is
// mostly kernel time): on a machine others use too, it varies far less
// than the time on the clock.
double ThreadSeconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

void BM_Load(benchmark::State& state) {
  std::string file = MakeFile((int)state.range(0), (int)state.range(1));
  double readSeconds = 0, loadSeconds = 0, readCpu = 0, loadCpu = 0;
  size_t nodes = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    double c0 = ThreadSeconds();
    {
      // Read as the load reads it (into a buffer not zeroed first), and let
      // go before the load: the two take their memory alike, and the read
      // no longer varies with whether the allocator has fresh pages for it.
      std::unique_ptr<char[]> bytes;
      size_t size = 0;
      os::ReadWholeFile(file, bytes, size);
      benchmark::DoNotOptimize(bytes.get());
    }
    auto t1 = std::chrono::steady_clock::now();
    double c1 = ThreadSeconds();
    CMyNodeList list;
    if (!LoadFavoritesFile(list, file)) state.SkipWithError("load failed");
    nodes = list.GetCount();
    auto t2 = std::chrono::steady_clock::now();
    double c2 = ThreadSeconds();
    readSeconds += std::chrono::duration<double>(t1 - t0).count();
    loadSeconds += std::chrono::duration<double>(t2 - t1).count();
    readCpu += c1 - c0;
    loadCpu += c2 - c1;
  }
  state.counters["nodes"] = (double)nodes;
  state.counters["load_ms"] = 1000 * loadSeconds / (double)state.iterations();
  state.counters["read_ms"] = 1000 * readSeconds / (double)state.iterations();
  state.counters["load_per_read"] = readSeconds > 0 ? loadSeconds / readSeconds : 0;
  state.counters["load_per_read_cpu"] = readCpu > 0 ? loadCpu / readCpu : 0;
}
BENCHMARK(BM_Load)->Apply(Sizes)->Unit(benchmark::kMillisecond);

// Loads the file of the size the benchmark's arguments give.
void LoadSizedFile(const benchmark::State& state, CMyNodeList& list) {
  LoadFavoritesFile(list, MakeFile((int)state.range(0), (int)state.range(1)));
}

void BM_Save(benchmark::State& state) {
  CMyNodeList list;
  LoadSizedFile(state, list);
  for (auto _ : state) {
    if (!SaveFavoritesFile(list, Folder(), "bench-save.sc")) state.SkipWithError("save failed");
  }
  state.counters["nodes"] = (double)list.GetCount();
}
BENCHMARK(BM_Save)->Apply(Sizes)->Unit(benchmark::kMillisecond);

void BM_TopVisited(benchmark::State& state) {
  CMyNodeList list;
  LoadSizedFile(state, list);
  for (auto _ : state) {
    std::vector<TopVisited> top;
    BuildTopVisitedList(list, top);
    benchmark::DoNotOptimize(top.data());
  }
}
BENCHMARK(BM_TopVisited)->Apply(Sizes)->Unit(benchmark::kMillisecond);


// A bookmark file as a browser exports it: 40 folders of 2,500 links, the
// titles Chinese, the addresses with "&" in their queries; about 10 MB.
const std::string& BigBookmarkHtml() {
  static const std::string html = [] {
    std::string h =
        "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
        "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
        "<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks</H1>\n<DL><p>\n";
    const std::string site = qb::ToUtf8("网站"), news = qb::ToUtf8("新闻"), folder = qb::ToUtf8("文件夹");
    for (int f = 0; f < 40; ++f) {
      h += "    <DT><H3 ADD_DATE=\"1700000000\">" + folder + std::to_string(f) + "</H3>\n    <DL><p>\n";
      for (int i = 0; i < 2500; ++i)
        h += "        <DT><A HREF=\"https://example" + std::to_string(f) + ".cn/page-" + std::to_string(i) +
             ".html?a=1&b=2\" ADD_DATE=\"1700001234\">" + site + std::to_string(i) + " &amp; " + news + "</A>\n";
      h += "    </DL><p>\n";
    }
    return h + "</DL><p>\n";
  }();
  return html;
}

void BM_ImportHtml(benchmark::State& state) {
  const std::string& html = BigBookmarkHtml();
  BookmarkImportResult result;
  for (auto _ : state) {
    CMyNodeList list;
    ImportBookmarkHtml(list, html, result);
    benchmark::DoNotOptimize(list.GetCount());
  }
  state.counters["MB"] = (double)html.size() / (1 << 20);
  state.counters["links_in_file"] = (double)(result.links + result.notImported + result.duplicates);
  state.counters["imported"] = (double)result.links;
  state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)html.size());
}
BENCHMARK(BM_ImportHtml)->Unit(benchmark::kMillisecond);

// One description of 2 MB of "&" without ";".
void BM_ImportHtmlBareAmpersands(benchmark::State& state) {
  std::string html = "<DL><p>\n<DT><A HREF=\"http://a/\">a</A>\n<DD>" + std::string(2 << 20, '&') + "\n</DL><p>\n";
  for (auto _ : state) {
    CMyNodeList list;
    BookmarkImportResult result;
    ImportBookmarkHtml(list, html, result);
    benchmark::DoNotOptimize(list.GetCount());
  }
}
BENCHMARK(BM_ImportHtmlBareAmpersands)->Unit(benchmark::kMillisecond);

// AddNode with its duplicate test, as the importers call it (in a batch).
void BM_AddNodeBatch(benchmark::State& state) {
  int n = (int)state.range(0);
  for (auto _ : state) {
    state.PauseTiming();
    CMyNodeList list;
    CMyNode* cat = new CMyNode("分类", UrlCategory, nullptr, 0);
    list.AddNode(cat);
    std::vector<CMyNode*> items;
    for (int i = 0; i < n; ++i) {
      CMyNode* it = new CMyNode(0);
      it->m_strName = "网站 " + std::to_string(i);
      it->m_strAddress = "http://www.example.com.cn/" + std::to_string(i % 977);
      it->m_pParent = cat;
      items.push_back(it);
    }
    state.ResumeTiming();
    CMyNodeList::CAddBatch batch(list);
    for (CMyNode* it : items)
      list.AddNode(it);  // every name differs: none is refused
  }
  state.counters["nodes"] = (double)n;
}
BENCHMARK(BM_AddNodeBatch)->Arg(26000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
