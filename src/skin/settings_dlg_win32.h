// CBackBmpDlg: the window "当前热键及皮肤设置" (template 180). The user presses
// a new capture hotkey into its edit, edits the button look of one skin area
// at a time against two sample buttons, and can save the whole skin under a
// name. Modeless; the main window owns the object and deletes it when the
// window tells it that it closed (WM_SETTINGS_CLOSED).
#pragma once
#include <windows.h>

#include <functional>
#include <string>

#include "skin/skin.h"
#include "skin/skin_button_win32.h"
#include "win/dialog_win32.h"

namespace qb {

// What the window needs from the program: the records it edits, and the
// hotkey owner's and the areas' windows, reached through the main window.
struct SettingsHost {
  HWND mainWindow = nullptr;
  std::string programDir;  // ends in '\'
  SkinSet* skins = nullptr;
  std::function<std::string()> hotkeyText;
  // The hotkey owner: a new text registered (and, when that works, kept and
  // saved; 1 on success), all its hotkeys off, the current text on again.
  std::function<int(const std::string& text)> changeHotkey;
  std::function<void()> unregisterHotkey;
  std::function<void(const std::string& text)> restoreHotkey;
  // The area's record changed: its window takes the skin again (1059).
  std::function<void(int area)> skinApplied;

  // The pickers and boxes; the platform's own when empty (tests replace them).
  std::function<bool(HWND owner, COLORREF& colour)> pickColour;
  std::function<bool(HWND owner, LOGFONTW& font)> pickFont;
  std::function<bool(HWND owner, std::string& path)> pickImage;
  std::function<void(HWND owner, const wchar_t* text, const wchar_t* title)> stopBox;
  // The pauses of a named skin's save and of the last second before the
  // window goes; by default they wait while the window goes on painting.
  std::function<void(uint32_t ms)> pause;
};

class CBackBmpDlg : public CDialogWindow {
 public:
  explicit CBackBmpDlg(const SettingsHost& host);
  ~CBackBmpDlg() override;

  bool Create(HWND owner);
  // A named skin is being saved: the window must not go meanwhile.
  bool Busy() const { return m_bMaking; }

  const SkinStyle& WorkingCopy() const { return m_working; }
  bool HotkeyChanged() const { return m_bHotkeyChanged; }

  // Tests change what the next windows get from their host (pickers, boxes,
  // pauses); an empty function stops that.
  static void SetHostAdjuster(std::function<void(SettingsHost&)> adjust);

  // The wait that keeps the window painted: this thread's messages are
  // handled until `ms` milliseconds have passed.
  static void PumpMessagesFor(uint32_t ms);

 private:
  bool OnInitDialog() override;
  INT_PTR DialogProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
  void OnCommand(UINT id, UINT code);
  void ShowArea();
  void ShowRecord();
  void RefreshSamples(bool textSample, bool buttonSample);
  SkinColours WorkingLook() const;
  void SwitchArea();
  void PickAreaColour(UINT id);
  void PickAreaFont();
  void PickAreaImage();
  void Apply();
  void Confirm();
  void Cancel();
  void MakeNamedSkin();
  void Close();
  void StopBox(const wchar_t* text, const wchar_t* title);
  void Pause(uint32_t ms);
  static LRESULT CALLBACK HotkeyEditProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  bool CaptureKey(UINT msg, WPARAM key);
  void HotkeyEdited();

  SettingsHost m_host;
  SkinStyle m_working;
  int m_nArea = kAreaBookmarks;
  bool m_bCaptureKeys = false;
  bool m_bHotkeyChanged = false;
  bool m_bOpening = true;     // the edit's first text is not a change
  bool m_bMaking = false;     // a named skin is being saved
  bool m_bEatChar = false;    // the character of a captured key press goes nowhere
  CSkinButton m_buttons[7];   // font and the six colours
  CSkinButton m_textSample;   // 1055, transparent
  CSkinButton m_buttonSample; // 1058
};

}  // namespace qb
