#include "script/key_script_dlg_win32.h"

#include <commctrl.h>
#include <commdlg.h>

#include <memory>

#include "../../res/script_ids.h"
#include "base/messages.h"
#include "os/os.h"
#include "script/movrec_client_win32.h"
#include "win/file_dialog_win32.h"
#include "win/text_win32.h"

namespace script {

namespace {

int g_trailMode = 1;  // belongs to the program: it outlives the window
std::unique_ptr<CKeyScriptDlg> g_recorder;

struct ButtonLook {
  int id, icon;
  const char* tip;
};
const ButtonLook kButtons[] = {
    {IDC_SCRIPT_RECORD, IDI_SCRIPT_RECORD, "开始录制脚本"},
    {IDC_SCRIPT_STOP_RECORD, IDI_SCRIPT_STOP_RECORD, "停止录制脚本"},
    {IDC_SCRIPT_SAVE_AS, IDI_SCRIPT_SAVE_AS, "'另存'(停止时会自动保存,一般情况下不用)"},
    {IDC_SCRIPT_OPEN, IDI_SCRIPT_OPEN, "打开其他脚本"},
    {IDC_SCRIPT_TRAIL, IDI_SCRIPT_TRAIL, nullptr},
    {IDC_SCRIPT_PLAY, IDI_SCRIPT_PLAY, "播放脚本"},
    {IDC_SCRIPT_STOP_PLAY, IDI_SCRIPT_STOP_PLAY, "停止播放"},
};

// A file dialog's path, in GBK; empty when cancelled.
std::string AskPath(HWND owner, bool save) {
  std::wstring file, filter = save ? qb::W("脚本(*.*)") : qb::W("脚本文件(*.*)");
  filter.append(1, L'\0');
  filter += L"*.*";
  filter.append(2, L'\0');
  DWORD flags = OFN_HIDEREADONLY | OFN_EXPLORER | (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
  return qb::AskFileName(owner, save, filter.c_str(), nullptr, flags, file) ? qb::Gbk(file) : std::string();
}

}  // namespace

const char* CKeyScriptDlg::ScriptFolder(int kind) {
  static const char* const folders[] = {"script\\url_dir\\", "script\\url\\", "script\\lnk_dir\\", "script\\lnk\\"};
  return kind >= 0 && kind <= 3 ? folders[kind] : folders[1];
}

CKeyScriptDlg::~CKeyScriptDlg() {
  if (m_nState == 1) StopRecord();
}

bool CKeyScriptDlg::OnInitDialog() {
  m_hTip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                           CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, m_hWnd, nullptr, nullptr, nullptr);
  for (const ButtonLook& b : kButtons) {
    HICON icon = static_cast<HICON>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(b.icon), IMAGE_ICON, 16, 16, LR_SHARED));
    SendDlgItemMessageW(m_hWnd, b.id, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(icon));
    SetTip(b.id, b.tip ? b.tip : g_trailMode == 1 ? "单击可关闭鼠标轨迹" : "单击可开启鼠标轨迹");
  }
  return true;
}

void CKeyScriptDlg::SetTip(int id, const char* text) {
  if (!m_hTip) return;
  std::wstring w = qb::W(text);
  TOOLINFOW ti = {};
  ti.cbSize = sizeof ti;
  ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  ti.hwnd = m_hWnd;
  ti.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(m_hWnd, id));
  ti.lpszText = &w[0];
  SendMessageW(m_hTip, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
  SendMessageW(m_hTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
}

void CKeyScriptDlg::Status(const char* text) { SetDlgItemTextW(m_hWnd, IDC_SCRIPT_STATUS, qb::W(text).c_str()); }
void CKeyScriptDlg::Enable(int id, bool on) { EnableWindow(GetDlgItem(m_hWnd, id), on); }

void CKeyScriptDlg::StartRecording() {
  Enable(IDC_SCRIPT_RECORD, false);
  Enable(IDC_SCRIPT_PLAY, false);
  m_nState = 1;
  StartRecord(g_trailMode);
  Status("按兰色按钮停止录制");
}

void CKeyScriptDlg::StopRecording() {
  StopRecord();
  m_nState = 0;
  if (!m_pItem && m_bHadItem) {
    // Saved under the name of an item that is gone, the script would be
    // replayed by the next item that takes that name.
    Status("录制后存盘失败!");
  } else if (m_pItem) {
    std::string path = os::ProgramDirectory() + ScriptFolder(m_pItem->m_nKind) + m_pItem->m_strName;
    if (SaveScriptFile(path)) {
      m_pItem->m_bScript = 1;
      Status("录制完成!");
      if (m_recorded) m_recorded();
    } else {
      Status("录制后存盘失败!");
    }
  }
  Enable(IDC_SCRIPT_RECORD, true);
  Enable(IDC_SCRIPT_PLAY, true);
}

void CKeyScriptDlg::Play() {
  Enable(IDC_SCRIPT_PLAY, false);
  m_nState = 2;
  PlayRecord();
  Status("播放");
}

void CKeyScriptDlg::StopPlaying() {
  StopPlay();
  Status("播放被停止");
  Enable(IDC_SCRIPT_PLAY, true);
}

void CKeyScriptDlg::ToggleTrail() {
  if (g_trailMode == 1) {
    g_trailMode = 2;
    SetTip(IDC_SCRIPT_TRAIL, "已关闭鼠标轨迹");
  } else {
    g_trailMode = 1;
    SetTip(IDC_SCRIPT_TRAIL, "已开启鼠标轨迹");
  }
}

void CKeyScriptDlg::OpenScript() {
  std::string path = AskPath(m_hWnd, false);
  if (path.empty()) return;
  Status(ReadScriptFile(path) ? "已读入脚本文件" : "脚本文件读入失败");
}

void CKeyScriptDlg::SaveScriptAs() {
  std::string path = AskPath(m_hWnd, true);
  if (path.empty()) return;
  Status(SaveScriptFile(path) ? "已保存脚本文件" : "脚本文件保存失败");
}

void CKeyScriptDlg::Close() {
  // A recording left running would go on capturing every key the user types,
  // and a replay would go on typing: both end with the window. Nothing is saved.
  if (m_nState == 1) StopRecord();
  if (m_nState == 2) StopPlay();
  m_nState = 0;
  HWND panel = m_hPanel;
  DestroyQuietly();
  if (panel) SendMessageW(panel, qb::WM_PANEL_RECORDER_CLOSED, 0, 0);
}

INT_PTR CKeyScriptDlg::DialogProc(UINT msg, WPARAM wParam, LPARAM) {
  if (msg == WM_CLOSE) {
    Close();
    return TRUE;
  }
  if (msg != WM_COMMAND || HIWORD(wParam) != BN_CLICKED) return FALSE;
  switch (LOWORD(wParam)) {
    case IDC_SCRIPT_RECORD: StartRecording(); break;
    case IDC_SCRIPT_STOP_RECORD: StopRecording(); break;
    case IDC_SCRIPT_PLAY: Play(); break;
    case IDC_SCRIPT_STOP_PLAY: StopPlaying(); break;
    case IDC_SCRIPT_TRAIL: ToggleTrail(); break;
    case IDC_SCRIPT_OPEN: OpenScript(); break;
    case IDC_SCRIPT_SAVE_AS: SaveScriptAs(); break;
    case IDCANCEL: Close(); break;
    default: return FALSE;
  }
  return TRUE;
}

HWND CreateRecorder(CMyNode* item, HWND panel, std::function<void()> recorded) {
  if (g_recorder && g_recorder->GetSafeHwnd()) return nullptr;  // at most one
  qb::CDialogWindow::Retire(g_recorder);
  g_recorder.reset(new CKeyScriptDlg(item, panel, std::move(recorded)));
  if (!g_recorder->Create(IDD_KEY_SCRIPT, nullptr)) {
    qb::CDialogWindow::Retire(g_recorder);
    return nullptr;
  }
  HWND wnd = g_recorder->GetSafeHwnd();
  ShowWindow(wnd, SW_SHOW);
  g_recorder->StartRecording();
  return wnd;
}

}  // namespace script
