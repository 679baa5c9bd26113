// The find box per keystroke: each query is typed a character at a time and
// every prefix is matched, over the largest tree the program shows (44 tabs
// of 30 bookmarks and a program folder of 500 entries) and over a favorites
// file of 100,000 nodes read as qimbo-tool fav find reads it. The counters
// give the median and the worst keystroke in microseconds of the thread's
// processor time (the build machine is shared: wall time says more about the
// neighbours than about the match).
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <string>
#include <vector>

#include "os/os.h"
#include "panels/find_logic.h"
#include "store/favorites_file.h"
#include "store/node.h"

namespace {

const char* const kWords[] = {"新闻", "中心", "百度", "银行", "音乐", "地图", "游戏", "视频", "购物", "邮箱",
                              "论坛", "博客", "天气", "股票", "体育", "财经", "科技", "汽车", "房产", "教育",
                              "长城", "行情", "旅游", "招聘", "小说", "软件", "下载", "翻译", "Google", "QQ"};
constexpr size_t kWordCount = sizeof kWords / sizeof kWords[0];

std::string NameOf(size_t i) {
  return std::string(kWords[i % kWordCount]) + kWords[(i / kWordCount + i) % kWordCount] + std::to_string(i % 97);
}

// categories x perCategory bookmarks, then `programs` program entries.
void FillTree(CMyNodeList& list, size_t categories, size_t perCategory, size_t programs) {
  CMyNodeList::CAddBatch batch(list);
  size_t n = 0;
  for (size_t c = 0; c < categories; ++c) {
    CMyNode* cat = new CMyNode(0);
    cat->m_nKind = UrlCategory;
    cat->m_strName = "类" + std::to_string(c);
    cat->m_nSlot = (int)(c % 44);
    if (!list.AddNode(cat)) continue;
    for (size_t i = 0; i < perCategory; ++i, ++n) {
      CMyNode* item = new CMyNode(0);
      item->m_nKind = UrlItem;
      item->m_pParent = cat;
      item->m_nSlot = (int)(i % 30);
      item->m_strName = NameOf(n);
      item->m_strAddress = "http://www.site" + std::to_string(n) + ".example/page?id=" + std::to_string(n);
      item->m_strNote = n % 3 ? std::string() : "常用网站 " + std::to_string(n);
      item->m_nVisits = (int)(n % 17);
      list.AddNode(item);
    }
  }
  if (!programs) return;
  CMyNode* folder = new CMyNode(0);
  folder->m_nKind = ProgramCategory;
  folder->m_strName = "桌面";
  if (!list.AddNode(folder)) return;
  for (size_t i = 0; i < programs; ++i) {
    CMyNode* p = new CMyNode(0);
    p->m_nKind = ProgramItem;
    p->m_pParent = folder;
    p->m_strName = NameOf(i * 7) + ".lnk";
    p->m_strAddress = "C:\\Users\\me\\Desktop\\";
    list.AddNode(p);
  }
}

const char* const kTyped[] = {"xwzx", "baidu", "yinhang 3", "新闻中心", "zzzz", "GOOGLE", "changcheng"};

// Every prefix of every typed query, as the box sees them keystroke by keystroke.
std::vector<std::string> Keystrokes() {
  std::vector<std::string> out;
  for (const char* q : kTyped) {
    std::string s = q;
    for (size_t i = 1; i <= s.size(); ++i) {
      if (i < s.size() && (unsigned char)s[i - 1] >= 0x81) ++i;  // a Chinese character is one keystroke
      out.push_back(s.substr(0, i));
    }
  }
  return out;
}

double ThreadMicros() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return (double)t.tv_sec * 1e6 + (double)t.tv_nsec / 1e3;
}

void MeasureKeystrokes(benchmark::State& state, const panels::CFindIndex& index, size_t limit) {
  std::vector<std::string> keys = Keystrokes();
  std::vector<double> us;
  size_t found = 0;
  for (auto _ : state) {
    for (const std::string& k : keys) {
      double t0 = ThreadMicros();
      std::vector<panels::FindHit> hits = index.Find(k, limit);
      double t1 = ThreadMicros();
      found += hits.size();
      us.push_back(t1 - t0);
    }
  }
  std::sort(us.begin(), us.end());
  state.counters["keystrokes"] = (double)keys.size();
  state.counters["median_us"] = us[us.size() / 2];
  state.counters["worst_us"] = us.back();
  benchmark::DoNotOptimize(found);
}

void BM_FindBoxLargestTree(benchmark::State& state) {
  CMyNodeList list;
  FillTree(list, 44, 30, 500);
  panels::CFindIndex index;
  index.Build(list);
  MeasureKeystrokes(state, index, 200);
  state.counters["entries"] = (double)index.Size();
}
BENCHMARK(BM_FindBoxLargestTree)->Unit(benchmark::kMillisecond);

// The box opening: the entries read from the tree.
void BM_FindBoxOpen(benchmark::State& state) {
  CMyNodeList list;
  FillTree(list, 44, 30, 500);
  for (auto _ : state) {
    panels::CFindIndex index;
    index.Build(list);
    benchmark::DoNotOptimize(index.Size());
  }
}
BENCHMARK(BM_FindBoxOpen)->Unit(benchmark::kMicrosecond);

// 100,000 nodes in a favorites file, loaded as the tool loads it.
void BM_FindToolHundredThousand(benchmark::State& state) {
  std::string path = os::TempFolder() + "qimbo-find-bench.sc";
  {
    CMyNodeList list;
    FillTree(list, 1000, 99, 0);
    std::vector<const CMyNode*> nodes(list.begin(), list.end());
    ReplaceFileKeepingBackup(path, std::string(), FavoritesFileBytes(nodes));
  }
  CMyNodeList list;
  double t0 = ThreadMicros();
  bool loaded = LoadFavoritesFile(list, path) != 0;
  panels::CFindIndex index;
  index.Build(list);
  double t1 = ThreadMicros();
  os::RemoveFile(path);
  if (!loaded) {
    state.SkipWithError("the favorites file did not load");
    return;
  }
  MeasureKeystrokes(state, index, SIZE_MAX);
  state.counters["entries"] = (double)index.Size();
  state.counters["load_and_index_ms"] = (t1 - t0) / 1000;
}
BENCHMARK(BM_FindToolHundredThousand)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
