// CChatDialog: the chat window, "Qimbo广场" (template 205). A modeless window
// that mirrors the member list of the network state, shows the queued chat
// records and sends what the user types. The main window makes it, passes the
// chat and member notifications on to it, and deletes it when it reports
// WM_CHAT_CLOSED.
#pragma once
#include <windows.h>
#include <richedit.h>

#include <string>
#include <vector>

#include "net/netstate.h"
#include "skin/skin_button_win32.h"
#include "widgets/explorer_win32.h"
#include "widgets/picture_win32.h"
#include "widgets/rich_edit_win32.h"
#include "win/dialog_win32.h"
#include "win/gdi_win32.h"
#include "win/handles_win32.h"

namespace qb {

class CFavoritesApp;

class CChatDialog : public CDialogWindow {
 public:
  explicit CChatDialog(CFavoritesApp& app);
  ~CChatDialog() override;

  // Makes the window (hidden) with `owner` as its owner.
  bool Create(HWND owner);
  // The close: the tray flag saved when it changed, the window destroyed,
  // WM_CHAT_CLOSED sent to the main window (which deletes this object, so
  // nothing may touch it afterwards).
  void Close();

  // For the window tests.
  HWND Conversation() const { return m_talk.GetSafeHwnd(); }
  HWND Input() const { return m_input.GetSafeHwnd(); }
  HWND Members() const { return m_members; }
  int SendKeyFlagNow() const { return m_sendKeyFlag; }
  HMENU SendKeyMenu() const { return m_sendKeyMenu.Get(); }
  bool ShowsAdPicture() const { return !m_ad.HasEngine(); }
  const std::string& AdAddress() const { return m_ad.Address(); }
  // The send key's menu command, as the menu gives it.
  void OnSendKeyCommand(UINT id);

 private:
  INT_PTR DialogProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
  bool OnInitDialog() override;
  void OnCommand(UINT id, UINT code);
  void OnSend();
  void OnChatArrived(WPARAM wParam);
  void OnLink(const ENLINK& link);
  void ShowSendKeyMenu();
  void OpenPosterBoard();
  void AddMemberRow(const CircleMember& member);
  void RemoveMemberRows(uintptr_t serial);
  int RowOf(uintptr_t serial) const;
  void RebuildMemberRows();
  const CircleMember* SelectedMember() const;
  void Append(const std::vector<ChatLine>& lines, LRESULT scrollLines);
  void ShowRecords(const std::vector<ChatLine>& lines);
  static bool Checked(HWND box);
  void OnPaint();
  static LRESULT CALLBACK InputProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  static LRESULT CALLBACK SendButtonProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);

  CFavoritesApp& m_app;
  CNetState& m_net;
  ScopedMenu m_sendKeyMenu;
  int m_sendKeyFlag = 0;  // 1 Enter, 0 Ctrl+Enter
  CMenuRichEdit m_talk;
  CMenuRichEdit m_input;
  CSkinButton m_poster;
  CExplorer1 m_ad;
  CPicture m_adPicture;  // head\Chat_ad.jpg, where no web engine shows it
  RECT m_adPlace = {};
  ScopedIcon m_icon;
  GdiBrush m_back;
  bool m_swallowReturn = false;  // the Enter that sent: its character makes no new line
  bool m_sendHeld = false;       // 发送 pressed by the mouse and not yet let go
  // Looked up once: under Wine each look-up is a call to its server, and
  // every line that comes in or goes out asks for them.
  HWND m_members = nullptr;
  HWND m_receiveOne = nullptr;
  HWND m_sendToOne = nullptr;
};

}  // namespace qb
