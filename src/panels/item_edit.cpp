#include "panels/item_edit.h"

#include "store/node.h"

namespace panels {

void EmptyBracketNote(CMyNode& item) {
  if (item.m_strNote == "<>") item.m_strNote.clear();
}

namespace {
// The circle mark without its brackets: the file readers keep "<GROUP>".
std::string BareMark(const std::string& circle) {
  std::string bare;
  for (char c : circle)
    if (c != '<' && c != '>') bare += c;
  return bare;
}
}  // namespace

bool CircleTicked(const std::string& circle) { return BareMark(circle) == "GROUP"; }

std::string FormatVisitTime(const std::tm& when) {
  char text[128] = {};
  size_t n = std::strftime(text, sizeof text, "%Y年%m月%d日,%X", &when);
  return std::string(text, n);
}

std::string LastVisitText(int64_t seconds) {
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm local = {};
#ifdef _WIN32
  if (localtime_s(&local, &t) != 0) return std::string();
#else
  if (!localtime_r(&t, &local)) return std::string();
#endif
  return FormatVisitTime(local);
}

std::string AddressWithoutSpaces(const std::string& typed) {
  std::string out;
  out.reserve(typed.size());
  for (char c : typed)
    if (c != ' ') out += c;
  return out;
}

std::vector<CMyNode*> CategoryChoices(const CMyNodeList& list) {
  std::vector<CMyNode*> out;
  for (CMyNode* n : list)
    if (n->m_nKind == UrlCategory) out.push_back(n);
  return out;
}

int ChoiceOfParent(const std::vector<CMyNode*>& choices, const CMyNode* parent) {
  for (size_t i = 0; i < choices.size(); ++i)
    if (choices[i] == parent) return static_cast<int>(i);
  return 0;
}

bool SaveCircleBox(const CircleService& circles, CMyNode* item, bool ticked, qb::IUserInterface& ui) {
  if (!item) return false;
  // The box showed the mark without its brackets; the mark is compared (and
  // kept) in that same form, so an unchanged box asks for nothing.
  item->m_strCircle = BareMark(item->m_strCircle);
  bool asked = ticked != (item->m_strCircle == "GROUP");
  bool loggedIn = circles.loggedIn && circles.loggedIn();
  JoinCircleCheckBox(circles, item, ticked, ui);
  return !asked || loggedIn;
}

CMyNode* ApplyItemEdits(CMyNodeList& list, CMyNode* item, const ItemEdits& edits) {
  if (!item) return nullptr;
  CMyNode* before = item->m_pParent;
  std::string name = CleanName(edits.name);
  if (!name.empty()) item->m_strName = name;
  std::string address = AddressWithoutSpaces(edits.address);
  if (!address.empty()) item->m_strAddress = address;
  item->m_strNote = CleanName(edits.note);
  if (edits.category && edits.category != before && edits.category->m_nKind == UrlCategory)
    list.MoveItemToCategory(item, edits.category);
  item->m_bScript = edits.script ? 1 : 0;
  return before;
}

}  // namespace panels
