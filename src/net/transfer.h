// The progress prompt's logic for favorites upload and download: what the
// prompt shows for each transfer status. The prompt window only applies it.
#pragma once
#include <cstdint>
#include <string>

#include "net/netstate.h"

namespace qb {

// What the prompt should show after a command or a status.
struct PromptView {
  std::string text;
  bool okEnabled = false;
  bool cancelEnabled = false;
  bool moveBar = false;
  int barPos = 0;
  bool setRange = false;  // range 0 .. rangeMax
  int rangeMax = 0;
  // Download complete: replace the web-address folder with the download list
  // (CNetTransfer::TakeDownloadList).
  bool replaceFavorites = false;
};

// The prompt text of a status on its channel; empty when it has none.
std::string TransferStatusText(uintptr_t channel, int code);

class CTransferProgress {
 public:
  explicit CTransferProgress(CNetState& net) : m_net(net) {}

  // The upload or download command. False (nothing done) while a prompt is open.
  bool OnCommand(bool upload, PromptView& view);
  // WM_TRANSFER_STATUS; false when no prompt is open (the status is dropped).
  bool OnTransferStatus(uintptr_t channel, intptr_t code, PromptView& view);
  // WM_CLOSE_PROMPT.
  void OnPromptClosed() { m_bPromptOpen = false; }

  bool m_bPromptOpen = false;
  int m_nStep = 0;
  int m_nAnnouncedTotal = 0;

 private:
  CNetState& m_net;
};

}  // namespace qb
