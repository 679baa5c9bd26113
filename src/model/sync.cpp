#include "model/sync.h"

#include <memory>

#include "os/os.h"
#include "store/favorites_file.h"

namespace qb {

namespace {

const char kSyncing[] = "正在同步......";
const char kSyncFailed[] = "同步失败：";

}  // namespace

std::string SyncDoneText(const MergeCounts& c) {
  std::string text = "同步成功！新增" + std::to_string(c.added) + "，删除" + std::to_string(c.removed) + "，保留两份" +
                     std::to_string(c.keptTwice);
  if (c.notPlaced > 0) text += "，未放下" + std::to_string(c.notPlaced);
  return text;
}

bool CSyncProgress::OnCommand(const SyncHost& host, PromptView& view) {
  view = PromptView();
  if (m_transfer.m_bPromptOpen) return false;
  m_host = host;
  m_counts = MergeCounts();
  m_treeChanged = m_uploaded = false;
  m_tries = 0;
  m_outcome = SyncOutcome::kRunning;
  Download(view);
  return true;
}

void CSyncProgress::Download(PromptView& view) {
  ++m_tries;
  m_transfer.m_bPromptOpen = false;  // the same prompt goes on showing the sync
  m_transfer.OnCommand(false, view);
  if (view.cancelEnabled)
    view.text = kSyncing;
  else
    Finish(false, view.text, view);  // not logged in, no server, a transfer running
}

void CSyncProgress::Upload(int32_t fromRevision, PromptView& view) {
  m_transfer.m_bPromptOpen = false;
  m_transfer.OnCommand(true, view, fromRevision);
  if (!view.cancelEnabled) {
    Finish(false, kSyncFailed + view.text, view);
    return;
  }
  m_uploaded = true;
  view.text = kSyncing;
}

void CSyncProgress::Finish(bool done, const std::string& text, PromptView& view) {
  m_outcome = done ? SyncOutcome::kDone : SyncOutcome::kFailed;
  view.text = text;
  view.okEnabled = true;
  view.cancelEnabled = false;
}

int CSyncProgress::SaveBase() {
  return ReplaceFileKeepingBackup(m_host.basePath, std::string(), WebFolderBytes(m_net.Tree()));
}

void CSyncProgress::MergeAndUpload(PromptView& view) {
  std::unique_ptr<CMyNodeList> download = m_net.Transfer().TakeDownloadList();
  if (!download) {
    Finish(false, kSyncFailed + TransferStatusText(kDownloadChannel, kDownloadFailed), view);
    return;
  }
  CMyNodeList& tree = m_net.Tree();
  // A base that cannot be read is no base: the merge then deletes nothing.
  std::unique_ptr<CMyNodeList> base;
  if (os::FileExists(m_host.basePath)) {
    base.reset(new CMyNodeList);
    if (!LoadFavoritesFile(*base, m_host.basePath)) base.reset();
  }
  CMyNodeList merged;
  merged.m_strBaseDir = tree.m_strBaseDir;
  // A merge made again after a refused upload adds to the first one's counts.
  MergeCounts c = MergeWebFolders(base.get(), tree, *download, merged);
  m_counts.added += c.added;
  m_counts.removed += c.removed;
  m_counts.keptTwice += c.keptTwice;
  m_counts.notPlaced += c.notPlaced;
  bool sameAsServer = SameWebFolder(merged, *download);
  if (!SameWebFolder(merged, tree)) {
    // What the merge replaces can be brought back from the backup folder.
    if (tree.CountKind(UrlCategory) + tree.CountKind(UrlItem) > 0)
      SaveDatedCopy(BackupFolderOf(m_host.favoritesPath), FavoritesStem(m_host.favoritesPath), "同步前", WebFolderBytes(tree));
    for (CMyNode* n : merged)
      if (n->m_pParent) n->m_strParentName = n->m_pParent->m_strName;
    ReplaceWebFolder(tree, merged);
    m_treeChanged = true;
    // Not saved, not uploaded: the base stays, so the next sync merges again.
    if (m_host.saveFavorites && !m_host.saveFavorites()) {
      Finish(false, std::string(kSyncFailed) + "收藏夹存盘失败！", view);
      return;
    }
  }
  if (sameAsServer) {
    SaveBase();
    Finish(true, SyncDoneText(m_counts), view);
    return;
  }
  Upload(m_net.Transfer().DownloadRevision(), view);
}

bool CSyncProgress::OnTransferStatus(uintptr_t channel, intptr_t code, PromptView& view) {
  view = PromptView();
  if (!Running()) return false;
  if (!m_transfer.OnTransferStatus(channel, code, view)) return false;
  view.replaceFavorites = false;  // merged here instead
  if (channel == kDownloadChannel) {
    if (code == kDownloadProgress)
      view.text = kSyncing;
    else if (code == kDownloadDone)
      MergeAndUpload(view);
    else if (code == kNothingToTransfer)
      Upload(m_net.Transfer().DownloadRevision(), view);  // the server holds nothing: ours goes up as it is
    else
      Finish(false, kSyncFailed + view.text, view);  // nothing here has changed
  } else if (channel == kUploadChannel) {
    if (code == kUploadProgress) {
      view.text = kSyncing;
    } else if (code == kUploadDone) {
      // Only now: a base ahead of the server would take this machine's new
      // nodes for ones the other machine deleted.
      SaveBase();
      Finish(true, SyncDoneText(m_counts), view);
    } else if ((code == kUploadStale || code == kUploadTimedOut) && m_tries < kSyncTries) {
      // Stale: another machine's upload came first, merged with too. Timed
      // out: the tree may be stored all the same, only its answer lost; the
      // server's tree tells, and the merge with it then has nothing to
      // upload and makes that tree the base. Taken for not stored, the old
      // base would meet this machine's own nodes, renamed by another
      // machine's merge, as new ones and keep them twice.
      Download(view);
    } else {
      Finish(false, kSyncFailed + view.text, view);
    }
  }
  return true;
}

}  // namespace qb
