// The progress prompt's logic for favorites upload and download: what the
// prompt shows for each transfer status. The prompt window only applies it.
//
// Revisions (CNetTransfer, net/netstate.h): the server numbers each user's
// tree, 0 while none is stored, and raises the number with every stored
// upload. Transfer().DownloadRevision() is the revision of the last
// completed download (0 after "网络收藏为空！"); StartUpload(revision), or
// OnCommand(true, view, revision), asks the server to store the tree only if
// its tree is still at that revision, else the upload ends with
// kUploadStale (7019) and StaleRevision() names the server's revision: merge
// with a fresh download and upload again. UploadRevision() is the revision
// after a completed upload. kNoRevision: not known (a server without
// revisions), or for StartUpload an upload that replaces whatever is stored.
//
// Loss: each upload message the server answers is sent again, under the
// same number, after a wait taken from the measured round trips (smoothed
// round trip plus four times its variation, kResendFloorMs to
// kResendCeilingMs, doubled after each resend, kResendTries sends at most);
// the server does the same for download nodes, and a node it sends again is
// acknowledged again and stored once.
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
  // `fromRevision`: see StartUpload (uploads only).
  bool OnCommand(bool upload, PromptView& view, int32_t fromRevision = kNoRevision);
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
