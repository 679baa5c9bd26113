// CUrlInfoEditDialog, "编辑网址信息": edits one bookmark in place (name,
// address, note, category, icon, script flag, circle) and shows its visits.
// The item panel makes it, disables the main window while it is open and is
// told of its end, once, with WM_PANEL_EDITOR_CLOSED (wParam 1 and the old
// category after a save; 0 and 0 after a cancel). The tree is saved by the
// item panel, not here.
#pragma once
#include <windows.h>

#include <vector>

#include "skin/skin_button_win32.h"
#include "store/node.h"
#include "win/dialog_win32.h"

namespace panels {

class CUrlInfoEditDialog : public qb::CDialogWindow {
 public:
  CUrlInfoEditDialog(CMyNode* item, HWND panel) : m_pNode(item), m_hPanel(panel) {}

  // The window from template 167, without an owner. False when it could not
  // be made or there is no bookmark to edit.
  bool Create();

  void ChangeIcon();
  void SaveItem();
  void CancelEdit();

 protected:
  bool OnInitDialog() override;
  INT_PTR DialogProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  // The icon button shows the shell's icon of `path`, else icons 154 and 153.
  void ShowIcon(const std::string& path);
  void FillCategories();
  // Destroys the window and tells the item panel; the panel deletes this
  // object while handling the message, so nothing may follow it.
  void Finish(WPARAM saved, LPARAM oldCategory);

  CNodeRef m_pNode;
  HWND m_hPanel;
  qb::CSkinButton m_icon;
  std::vector<CNodeRef> m_categories;  // the entries of the category list
};

}  // namespace panels
