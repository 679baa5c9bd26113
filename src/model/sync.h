// The sync of the favorites with the server, the progress prompt's logic for
// it: download the server's tree, merge it three ways with the base (the
// tree as this machine last synced it, store/merge.h) and the tree here, save
// the result, upload it on the condition that the server's tree is still the
// one downloaded, and make it the new base. An upload refused because another
// machine's came first, or whose answer did not come, downloads and merges
// again, kSyncTries times at most.
// The program and the tool drive it the same way as CTransferProgress: a
// command, then every transfer status.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "net/netstate.h"
#include "net/transfer.h"
#include "store/merge.h"

namespace qb {

constexpr int kSyncTries = 3;

// What a sync needs from the program around it.
struct SyncHost {
  std::string favoritesPath;  // the favorites file (its name gives the dated copies' stem)
  std::string basePath;       // SyncBasePath of that file and the user
  // Saves the tree's web-address folder as the favorites file; 1 on success.
  std::function<int()> saveFavorites;
};

enum class SyncOutcome { kRunning, kDone, kFailed };

// The text a finished sync shows: "同步成功！新增N，删除N，保留两份N" and,
// when some found no place, "，未放下N".
std::string SyncDoneText(const MergeCounts& counts);

class CSyncProgress {
 public:
  // `transfer` is the prompt logic of plain transfers: the sync runs its
  // download and upload through it and shows their progress the same way.
  CSyncProgress(CNetState& net, CTransferProgress& transfer) : m_net(net), m_transfer(transfer) {}

  // The sync command. False (nothing done) while a prompt is open.
  bool OnCommand(const SyncHost& host, PromptView& view);
  // WM_TRANSFER_STATUS while a sync runs (Running()); false when it is no
  // sync's: the caller hands it to the plain transfer's logic.
  bool OnTransferStatus(uintptr_t channel, intptr_t code, PromptView& view);
  // WM_CLOSE_PROMPT (after Cancel too): the sync ends where it is.
  void OnPromptClosed() { m_outcome = m_outcome == SyncOutcome::kRunning ? SyncOutcome::kFailed : m_outcome; }

  bool Running() const { return m_outcome == SyncOutcome::kRunning; }
  SyncOutcome Outcome() const { return m_outcome; }
  const MergeCounts& Counts() const { return m_counts; }
  // Whether the last sync put a merged tree in place (the windows show it again).
  bool TreeChanged() const { return m_treeChanged; }
  // Whether it uploaded (a merge that gave the server's own tree has nothing to send).
  bool Uploaded() const { return m_uploaded; }
  int Tries() const { return m_tries; }

 private:
  void Download(PromptView& view);
  void MergeAndUpload(PromptView& view);
  void Upload(int32_t fromRevision, PromptView& view);
  void Finish(bool done, const std::string& text, PromptView& view);
  int SaveBase();

  CNetState& m_net;
  CTransferProgress& m_transfer;
  SyncHost m_host;
  SyncOutcome m_outcome = SyncOutcome::kDone;
  MergeCounts m_counts;
  bool m_treeChanged = false;
  bool m_uploaded = false;
  int m_tries = 0;
};

}  // namespace qb
