// CKeyScriptDlg, "脚本录放机": records the steps that follow opening an item,
// saves them as the item's script, and replays, opens and saves scripts, all
// through Movrec.dll.
#pragma once
#include <windows.h>

#include <functional>
#include <string>

#include "store/node.h"
#include "win/dialog_win32.h"

namespace script {

class CKeyScriptDlg : public qb::CDialogWindow {
 public:
  // `item` may be null; `panel` is told of the end with message 1055;
  // `recorded` runs after a recording was saved as the item's script.
  CKeyScriptDlg(CMyNode* item, HWND panel, std::function<void()> recorded)
      : m_pItem(item), m_bHadItem(item != nullptr), m_hPanel(panel), m_recorded(std::move(recorded)) {}
  ~CKeyScriptDlg() override;

  void StartRecording();
  void StopRecording();
  void Play();
  void StopPlaying();
  void ToggleTrail();
  void OpenScript();
  void SaveScriptAs();
  void Close();
  int State() const { return m_nState; }

  // The folder of a node kind's scripts, under the program directory.
  static const char* ScriptFolder(int kind);

 protected:
  bool OnInitDialog() override;
  INT_PTR DialogProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  void Status(const char* text);
  void Enable(int id, bool on);
  void SetTip(int id, const char* text);

  // The window outlives its item when the user deletes it or switches the
  // favorites file, or a download replaces the tree, during a recording.
  CNodeRef m_pItem;
  bool m_bHadItem;
  HWND m_hPanel;
  std::function<void()> m_recorded;
  int m_nState = 0;  // 0 idle, 1 recording, 2 playing
  HWND m_hTip = nullptr;
};

// The item panel's recorder: at most one, made for `item`, shown, and
// recording at once. Null when the window could not be made.
HWND CreateRecorder(CMyNode* item, HWND panel, std::function<void()> recorded);

}  // namespace script
