#include "panels/panel_logic.h"

#include "model/app_logic.h"
#include "panels/geometry.h"
#include "panels/open_item.h"
#include "panels/panel_text.h"
#include "store/node.h"

namespace panels {

namespace {
const char kNewCategoryNote[] = "一级目录";
}

int CategoryKindOf(DisplayMode mode) { return mode == DisplayMode::kProgram ? ProgramCategory : UrlCategory; }

CMyNode* CategoryAtSlot(const CMyNodeList& list, int kind, int slot) {
  for (CMyNode* n : list)
    if (n->m_nKind == kind && n->m_nSlot == slot) return n;
  return nullptr;
}

CMyNode* ItemAtSlot(const CMyNodeList& list, const CMyNode* category, int slot) {
  if (!category) return nullptr;
  for (CMyNode* n : list)
    if (n->m_pParent == category && n->m_nSlot == slot) return n;
  return nullptr;
}

std::vector<CMyNode*> ChildrenOf(const CMyNodeList& list, const CMyNode* category) {
  std::vector<CMyNode*> out;
  if (!category) return out;
  for (CMyNode* n : list)
    if (n->m_pParent == category) out.push_back(n);
  return out;
}

std::vector<CMyNode*> ProgramFolderItems(const CMyNodeList& list, const CMyNode* category) {
  std::vector<CMyNode*> out = ChildrenOf(list, category);
  if (out.size() > (size_t)kItemSlots) out.resize(kItemSlots);
  return out;
}

int RenameInPlace(CAppLogic& app, CMyNode* category, const std::string& typed) {
  if (!category) return 0;
  std::string text = CleanRenameText(typed);
  if (!RenameAccepted(text)) return 0;
  return app.RenameCategory(category, text);
}

CMyNode* CreateCategoryInPlace(CMyNodeList& list, const std::string& typed, int kind, int slot) {
  std::string text = TrimBlanks(typed);
  if (text.empty() || list.FindNode(text, kind)) return nullptr;
  CMyNode* node = new CMyNode(RemoveSpaces(text), kind, nullptr, 0);
  node->m_strNote = kNewCategoryNote;
  node->m_nSlot = slot;
  return list.AddNode(node) ? node : nullptr;
}

DeleteOutcome DeleteCategoryNode(CMyNodeList& list, CMyNode* category, bool loggedIn, qb::IUserInterface& ui) {
  if (!category) return kNotDeleted;
  if (list.CountChildren(category) != 0) {
    ui.ShowMessage("此类下还有子项，请先删除子项!", kBoxCaption, qb::kMbOk | qb::kMbIconStop);
    return kRefusedHasItems;
  }
  if (category->m_strCircle == "GROUP" && !loggedIn) {
    ui.ShowMessage("该网址URL加入了圈子,登录后才能注销！", kBoxCaption, qb::kMbOk | qb::kMbIconInformation);
    return kRefusedCircle;
  }
  if (category->m_nKind != UrlCategory || !list.RemoveNode(category)) return kNotDeleted;
  delete category;
  return kDeleted;
}

DeleteOutcome DeleteItemNode(CMyNodeList& list, CMyNode* item, bool loggedIn, qb::IUserInterface& ui,
                             void (*dropOut)(CMyNode*, void*), void* context) {
  if (!item || item->m_nKind != UrlItem) return kNotDeleted;
  if (item->m_strCircle == "GROUP") {
    if (!loggedIn) {
      ui.ShowMessage("该网址URL加入了圈子,登录后才能删除！", kBoxCaption, qb::kMbOk | qb::kMbIconInformation);
      return kRefusedCircle;
    }
    item->m_strCircle = "Reserved";
    if (dropOut) dropOut(item, context);
  }
  if (!list.RemoveNode(item)) return kNotDeleted;
  delete item;
  return kDeleted;
}

}  // namespace panels
