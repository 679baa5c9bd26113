#include "panels/url_edit_dlg_win32.h"

#include <commdlg.h>

#include <string>

#include "model/app_logic.h"
#include "panels/item_edit.h"
#include "panels/open_item.h"
#include "panels/panel_windows_win32.h"
#include "win/file_dialog_win32.h"
#include "win/text_win32.h"

#include "../../res/panels_ids.h"
#include "../../res/url_edit_ids.h"

namespace panels {

namespace {
const int kMainIcon = 128;

// The editor's boxes belong to the editor, so that it cannot be used while
// one is up; posts go to the program's windows as usual.
class CEditorUi : public qb::IUserInterface {
 public:
  explicit CEditorUi(HWND editor) : m_hEditor(editor) {}
  int ShowMessage(const std::string& text, const std::string& caption, unsigned flags) override {
    return MessageBoxW(m_hEditor, qb::W(text).c_str(), qb::W(caption.empty() ? std::string(kBoxCaption) : caption).c_str(),
                       flags);
  }
  void Post(qb::UiTarget target, unsigned msg, uintptr_t wParam, intptr_t lParam) override {
    if (Host().ui) Host().ui->Post(target, msg, wParam, lParam);
  }
  void StartTimer(qb::UiTarget target, unsigned id, unsigned ms) override {
    if (Host().ui) Host().ui->StartTimer(target, id, ms);
  }
  void StopTimer(qb::UiTarget target, unsigned id) override {
    if (Host().ui) Host().ui->StopTimer(target, id);
  }

 private:
  HWND m_hEditor;
};

void SetText(HWND dlg, int id, const std::string& text) { SetDlgItemTextW(dlg, id, qb::W(text).c_str()); }
std::string GetText(HWND dlg, int id) { return qb::WindowTextGbk(GetDlgItem(dlg, id)); }
bool Ticked(HWND dlg, int id) { return IsDlgButtonChecked(dlg, id) == BST_CHECKED; }

// Lower case for the letters A to Z only: the rest of a GBK path is left as
// it is.
std::wstring LowerAscii(std::wstring text) {
  for (wchar_t& c : text)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  return text;
}
}  // namespace

bool CUrlInfoEditDialog::Create() {
  if (!m_pNode) return false;
  return qb::CDialogWindow::Create(IDD_URL_INFO_EDIT, nullptr);
}

bool CUrlInfoEditDialog::OnInitDialog() {
  CMyNode* item = m_pNode;
  if (!item) return false;
  HINSTANCE module = GetModuleHandleW(nullptr);
  SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(LoadIconW(module, MAKEINTRESOURCEW(kMainIcon))));
  SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL,
               reinterpret_cast<LPARAM>(LoadImageW(module, MAKEINTRESOURCEW(kMainIcon), IMAGE_ICON,
                                                   GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                                                   LR_SHARED)));
  EmptyBracketNote(*item);
  SetText(m_hWnd, IDC_EDIT_NAME, item->m_strName);
  SetText(m_hWnd, IDC_EDIT_ADDRESS, item->m_strAddress);
  SetText(m_hWnd, IDC_EDIT_NOTE, item->m_strNote);
  SetText(m_hWnd, IDC_EDIT_VISITS, std::to_string(item->m_nVisits));
  SetText(m_hWnd, IDC_EDIT_LAST_VISIT, LastVisitText(item->m_tLastVisit));
  m_icon.SubclassDlgItem(IDC_EDIT_ICON, m_hWnd);
  m_icon.SetFlat(true, false);
  ShowIcon(item->m_strIconPath);
  SetText(m_hWnd, IDC_EDIT_ICON_PATH, item->m_strIconPath);
  FillCategories();
  CheckDlgButton(m_hWnd, IDC_EDIT_SCRIPT, item->m_bScript ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(m_hWnd, IDC_EDIT_CIRCLE, CircleTicked(item->m_strCircle) ? BST_CHECKED : BST_UNCHECKED);
  return true;
}

void CUrlInfoEditDialog::ShowIcon(const std::string& path) {
  qb::ScopedIcon icon(ShellIcon(path));
  if (icon)
    m_icon.SetIcon(icon.Get(), icon.Get());
  else
    m_icon.SetIconById(IDI_ITEM_DEFAULT, IDI_ITEM_HOT);
}

void CUrlInfoEditDialog::FillCategories() {
  HWND box = GetDlgItem(m_hWnd, IDC_EDIT_CATEGORY);
  m_categories.clear();
  std::vector<CMyNode*> choices;
  if (Host().app) choices = CategoryChoices(*Host().app);
  for (CMyNode* c : choices) {
    LRESULT at = SendMessageW(box, CB_INSERTSTRING, m_categories.size(), reinterpret_cast<LPARAM>(qb::W(c->m_strName).c_str()));
    if (at >= 0) SendMessageW(box, CB_SETITEMDATA, static_cast<WPARAM>(at), static_cast<LPARAM>(m_categories.size()));
    m_categories.push_back(c);
  }
  if (!choices.empty()) SendMessageW(box, CB_SETCURSEL, ChoiceOfParent(choices, m_pNode->m_pParent), 0);
}

void CUrlInfoEditDialog::ChangeIcon() {
  static const wchar_t kFilter[] = L"资源文件(*.ICO,*.BMP,*.EXE,*.DLL,*.ICL)\0*.ICO;*.BMP;*.EXE;*.DLL;*.ICL\0\0";
  std::wstring file;
  if (!qb::AskFileName(m_hWnd, false, kFilter, L"ICO", OFN_EXPLORER | OFN_HIDEREADONLY, file) || !m_pNode) return;
  // Stored at once: a later cancel keeps the new icon.
  std::string path = qb::Gbk(LowerAscii(file));
  m_pNode->m_strIconPath = path;
  SetText(m_hWnd, IDC_EDIT_ICON_PATH, path);
  ShowIcon(path);
}

void CUrlInfoEditDialog::SaveItem() {
  CMyNode* item = m_pNode;
  CAppLogic* app = Host().app;
  if (!item || !app) {  // the bookmark went with its tree meanwhile
    CancelEdit();
    return;
  }
  CEditorUi ui(m_hWnd);
  if (!SaveCircleBox(Host().circles, item, Ticked(m_hWnd, IDC_EDIT_CIRCLE), ui)) return;
  ItemEdits edits;
  edits.name = GetText(m_hWnd, IDC_EDIT_NAME);
  edits.address = GetText(m_hWnd, IDC_EDIT_ADDRESS);
  edits.note = GetText(m_hWnd, IDC_EDIT_NOTE);
  LRESULT sel = SendDlgItemMessageW(m_hWnd, IDC_EDIT_CATEGORY, CB_GETCURSEL, 0, 0);
  if (sel != CB_ERR) {
    LRESULT entry = SendDlgItemMessageW(m_hWnd, IDC_EDIT_CATEGORY, CB_GETITEMDATA, static_cast<WPARAM>(sel), 0);
    if (entry >= 0 && static_cast<size_t>(entry) < m_categories.size()) edits.category = m_categories[entry];
  }
  edits.script = Ticked(m_hWnd, IDC_EDIT_SCRIPT);
  CMyNode* before = ApplyItemEdits(*app, item, edits);
  Finish(1, reinterpret_cast<LPARAM>(before));
}

void CUrlInfoEditDialog::CancelEdit() { Finish(0, 0); }

void CUrlInfoEditDialog::Finish(WPARAM saved, LPARAM oldCategory) {
  HWND panel = m_hPanel;
  m_icon.Detach();
  DestroyQuietly();
  if (panel) SendMessageW(panel, WM_PANEL_EDITOR_CLOSED, saved, oldCategory);
}

INT_PTR CUrlInfoEditDialog::DialogProc(UINT msg, WPARAM wParam, LPARAM) {
  switch (msg) {
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_EDIT_CHANGE_ICON: ChangeIcon(); return TRUE;
        case IDC_EDIT_SAVE: SaveItem(); return TRUE;
        case IDC_EDIT_CANCEL:
        case IDCANCEL: CancelEdit(); return TRUE;
      }
      return FALSE;
    case WM_CLOSE:
      CancelEdit();
      return TRUE;
  }
  return FALSE;
}

}  // namespace panels
