// What the fuzz targets share: a user interface that shows nothing, a private
// scratch folder for the readers that take a path, checks that abort (so the
// fuzzer keeps the input), and a reader of multi-part inputs.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/ui.h"
#include "store/node.h"

#define FUZZ_CHECK(cond)                                                              \
  do {                                                                                \
    if (!(cond)) {                                                                    \
      fprintf(stderr, "fuzz check failed: %s at %s:%d\n", #cond, __FILE__, __LINE__); \
      abort();                                                                        \
    }                                                                                 \
  } while (0)

namespace qfuzz {

// Boxes are answered with their default button; posts and timers are counted.
class CQuietUi : public qb::IUserInterface {
 public:
  int ShowMessage(const std::string&, const std::string&, unsigned flags) override {
    ++boxes;
    return (flags & 0xF) == qb::kMbYesNo ? qb::kIdYes : qb::kIdOk;
  }
  void Post(qb::UiTarget, unsigned msg, uintptr_t wParam, intptr_t lParam) override {
    posts.push_back({msg, wParam, lParam});
  }
  void StartTimer(qb::UiTarget, unsigned, unsigned) override { ++timers; }
  void StopTimer(qb::UiTarget, unsigned) override {}
  struct PostRec {
    unsigned msg;
    uintptr_t wParam;
    intptr_t lParam;
  };
  int boxes = 0;
  int timers = 0;
  std::vector<PostRec> posts;
};

// A folder of this process under $TMPDIR, removed with everything in it at
// exit. Native form ("/tmp/qimbo-fuzz-XXXXXX/") and the core's ("\tmp\...\").
const std::string& ScratchNative();
const std::string& ScratchCore();
// Writes `bytes` to the scratch folder's `name` (GBK, '/' between folders,
// which are made as needed); returns the core path. Aborts when the file
// cannot be written.
std::string WriteScratch(const std::string& name, const std::string& bytes);
void RemoveScratch(const std::string& name);

// An input of several parts: records separated by the byte FF (which no GBK
// text holds), each one op byte followed by its payload.
struct Record {
  char op;
  std::string payload;
};
std::vector<Record> SplitRecords(const uint8_t* data, size_t size);

// Text that the JSON and UTF-8 forms carry: GBK that converts to UTF-8 and
// back to the same bytes, with no zero byte.
bool IsText(const std::string& gbk);

// Whole GBK characters only: every lead byte 0x81..0xFE has a trail byte
// 0x40..0xFE other than 0x7F.
bool IsWholeGbk(const std::string& text);

// What every import must leave: every category at a tab of its own (0..43),
// every item in a category at a button of its own there (0..29). Aborts
// otherwise; returns the number of items. Then saved and loaded back, the
// list has as many nodes.
int CheckImportedTree(const CMyNodeList& list);

}  // namespace qfuzz
