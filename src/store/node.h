// The favorites tree: one flat, owning list of nodes, categories and items,
// each item pointing at its category.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/archive.h"

enum NodeKind : int32_t {
  UrlCategory = 0,      // web-address folder, a tab; stored in favorites files
  UrlItem = 1,          // a bookmark
  ProgramCategory = 2,  // program folder, a tab; rebuilt from the disk, never stored
  ProgramItem = 3,      // a file or shortcut
};

class CNodeRef;

class CMyNode {
 public:
  CMyNode();  // last visit = now
  // A node whose last visit is given; for reading records, which carry their
  // own time (asking the clock per node is slow on some C runtimes).
  explicit CMyNode(int64_t lastVisit) : m_tLastVisit(lastVisit) {}
  // A node of `kind` named `name` in `slot` of `parent` (null for a
  // category), with its address; last visit = now.
  CMyNode(const std::string& name, int kind, CMyNode* parent, int slot, const std::string& address = std::string());
  // Every CNodeRef to the node becomes null.
  ~CMyNode();
  CMyNode(const CMyNode&) = default;
  CMyNode(CMyNode&&) = default;
  CMyNode& operator=(const CMyNode&) = default;
  CMyNode& operator=(CMyNode&&) = default;

  std::string m_strName;
  int32_t m_nKind = UrlItem;
  // URL of a web item; folder (ending '\') of a program item; import folder of a category.
  std::string m_strAddress;
  CMyNode* m_pParent = nullptr;  // not owned; null for categories
  std::string m_strIconPath;
  std::string m_strNote;
  int32_t m_nVisits = 0;
  int64_t m_tLastVisit = 0;  // seconds since 1970-01-01 UTC
  int32_t m_nSlot = 0;       // tab 0..43 or button 0..29
  int32_t m_bScript = 0;
  std::string m_strCircle = "Reserved";  // or "GROUP"
  // The parent category's name while a file or a download is being read.
  std::string m_strParentName;

  bool IsCategory() const { return m_nKind == UrlCategory || m_nKind == ProgramCategory; }
  bool IsItem() const { return m_nKind == UrlItem || m_nKind == ProgramItem; }

  // One record of a favorites file (the archive layout of the node).
  void Store(qb::CArchiveWriter& ar) const;
  int Load(qb::CArchiveReader& ar);  // 1 when the whole record was read

  // The nine bracketed fields sent after "<FAV><UP><NODE>".
  std::string UploadRecord() const;
  // The six bracketed fields sent after "<GROUP><UPNODE><user>".
  std::string CircleRecord() const;
  // Reads a node from received fields, starting at fields[pos] and advancing
  // pos past what was taken. 1 when the eight mandatory fields were good.
  int ReadFields(const std::vector<std::string>& fields, size_t& pos);
  int ReadFields(const std::vector<std::string>& fields) {
    size_t pos = 0;
    return ReadFields(fields, pos);
  }

  // The user opened the item.
  void Visit();

 private:
  friend class CNodeRef;
  // The first of the references that watch this node. A copy of the node is
  // watched by nobody.
  struct Watchers {
    CNodeRef* first = nullptr;
    Watchers() = default;
    Watchers(const Watchers&) {}
    Watchers& operator=(const Watchers&) { return *this; }
  };
  Watchers m_watchers;
};

// A pointer to a node that becomes null when the node is deleted, whoever
// deletes it: the tree when the user deletes a category or item, chooses
// another favorites file or a download replaces the web-address folder; a
// list that refuses or drops a node. Windows and the network state keep
// their nodes in these, never as raw pointers, so that nothing they hold
// can outlive what the tree frees. It reads like a CMyNode*. Used on the
// user-interface thread only, like the nodes themselves.
class CNodeRef {
 public:
  CNodeRef() = default;
  CNodeRef(CMyNode* node) { Attach(node); }  // NOLINT: converts like a pointer
  CNodeRef(const CNodeRef& other) { Attach(other.m_node); }
  CNodeRef& operator=(const CNodeRef& other) {
    if (this != &other) Reset(other.m_node);
    return *this;
  }
  CNodeRef& operator=(CMyNode* node) {
    Reset(node);
    return *this;
  }
  ~CNodeRef() { Detach(); }

  CMyNode* Get() const { return m_node; }
  operator CMyNode*() const { return m_node; }
  CMyNode* operator->() const { return m_node; }
  CMyNode& operator*() const { return *m_node; }
  void Reset(CMyNode* node = nullptr) {
    if (node == m_node) return;
    Detach();
    Attach(node);
  }

 private:
  friend class CMyNode;
  void Attach(CMyNode* node);
  void Detach();
  CMyNode* m_node = nullptr;
  CNodeRef* m_prev = nullptr;  // the other references to the same node
  CNodeRef* m_next = nullptr;
};

// Smallest record a favorites file can hold: six empty strings and five integers.
constexpr uint64_t kMinNodeRecordBytes = 26;
// Name given to nodes that loading is about to drop.
extern const char kDeleteMark[];  // "NULL-DELETE"

class CMyNodeList {
 public:
  CMyNodeList();
  virtual ~CMyNodeList();
  CMyNodeList(const CMyNodeList&) = delete;
  CMyNodeList& operator=(const CMyNodeList&) = delete;

  // Program directory, for default icon paths.
  std::string m_strBaseDir;

  size_t GetCount() const { return m_nodes.size(); }
  CMyNode* GetAt(size_t i) const { return m_nodes[i]; }
  const std::vector<CMyNode*>& Nodes() const { return m_nodes; }
  std::vector<CMyNode*>::const_iterator begin() const { return m_nodes.begin(); }
  std::vector<CMyNode*>::const_iterator end() const { return m_nodes.end(); }

  CMyNode* FindNode(const std::string& name, int kind) const;
  // The general add: categories unique by name and kind, items by address,
  // name, kind and parent; gives bookmarks a stock icon. The list takes the
  // node either way: a refused node is deleted (0), so the caller never
  // touches it after a refusal.
  int AddNode(CMyNode* node);
  // The add used while reading a file or a download node by node (no
  // default icon, weaker duplicate test: parent, name, address and parent
  // name). Takes the node like AddNode: a refused one is deleted. Its test
  // looks the node up in an index of the list that lives as long as nodes
  // come only through AddLoadedNode, so a whole download costs time in
  // proportion to its size; meanwhile those four fields of listed nodes must
  // not change.
  int AddLoadedNode(CMyNode* node);
  int RemoveNode(CMyNode* node);  // takes it out without deleting it
  int CountChildren(const CMyNode* node) const;
  int CountKind(int kind) const;
  CMyNode* FirstNodeBySlot(int kind) const;
  int IsSlotFree(int slot, const CMyNode* category) const;
  int FirstFreeItemSlot(const CMyNode* category) const;  // -1 when all 30 are taken
  int MoveItemToCategory(CMyNode* item, CMyNode* category);
  // AddNode at the parent's first free item slot; takes the item like
  // AddNode (deleted when no slot is free or it is refused).
  int AddItemAtFreeSlot(CMyNode* item);

  // The reading of a whole file at once: each node tested as AddLoadedNode
  // tests it (refused ones deleted), then every new item joins the first
  // category (kind 0) of its parent name in list order, and items without one
  // are dropped. Indexed, with the results of the node-by-node scans. Takes
  // ownership of every node in `nodes`. CLoader does the same node by node.
  void MergeLoadedNodes(const std::vector<CMyNode*>& nodes);

  // MergeLoadedNodes one node at a time, for a reader that hands each node
  // over as soon as it is read, while it is still in the processor's cache.
  // Until Finish, the names, addresses and parent names of listed nodes
  // must not change, nor the list but through the loader. Ended without
  // Finish (a record could not be read), it takes every node it added out
  // of the list and deletes them: the list is as it was.
  class CLoader {
   public:
    // `expected`: about how many nodes will come.
    explicit CLoader(CMyNodeList& list, size_t expected = 0);
    ~CLoader();
    CLoader(const CLoader&) = delete;
    CLoader& operator=(const CLoader&) = delete;
    // Takes the node: tested as AddLoadedNode tests it, a refused one deleted.
    void Add(CMyNode* node);
    // Items join their categories; those without one are deleted.
    void Finish();

   private:
    struct State;
    CMyNodeList& m_list;
    std::unique_ptr<State> m_state;
  };
  // AddNode for each node in order, indexed; refused nodes are deleted.
  // Returns how many were added.
  int AddNodes(const std::vector<CMyNode*>& nodes);

  // The stock icon of a bookmark in this slot: IE XP0.ico .. IE XP4.ico.
  std::string DefaultIconPath(int32_t slot) const;

  // Deletes every node.
  void DeleteAll();
  // Forgets every node without deleting it (they were handed to another list).
  void ReleaseAll();
  // Removes and deletes every node of the given kind, keeping the order of the rest.
  void DeleteKind(int kind);
  // Removes and deletes every node named "NULL-DELETE", keeping the order of the rest.
  void DeleteMarked();

  // While one lives, AddNode finds an equal node through an index instead of
  // comparing with every node: for importers that add thousands. Meanwhile
  // the names, addresses, kinds and parents of listed nodes must not change
  // (nodes may still be added and removed through the list).
  class CAddBatch {
   public:
    explicit CAddBatch(CMyNodeList& list);
    ~CAddBatch();
    CAddBatch(const CAddBatch&) = delete;
    CAddBatch& operator=(const CAddBatch&) = delete;

   private:
    CMyNodeList& m_list;
    bool m_owner;
  };

 protected:
  // Appends without any test; used by the loaders after their own checks.
  void Append(CMyNode* node);
  // AddNode's tests and append; a refused node is left alone.
  int TryAddNode(CMyNode* node);
  std::vector<CMyNode*> m_nodes;

 private:
  // AddNode's duplicate test: a node of the same kind and name (and, for an
  // item, parent and address) is listed.
  bool HasEqualForAdd(const CMyNode* node);
  // Append for a node AddLoadedNode's index holds already.
  void AppendIndexed(CMyNode* node);
  void ForgetAddIndex();  // nodes left the list: the index is built again when needed
  // Removes and deletes every node `gone` holds for, keeping the order of the rest.
  template <class Pred>
  void DeleteWhere(Pred gone);
  struct AddIndex;
  std::unique_ptr<AddIndex> m_addIndex;  // only while a CAddBatch lives
  struct LoadIndex;
  std::unique_ptr<LoadIndex> m_loadIndex;  // while nodes come only through AddLoadedNode
};

// The clean form of a name or note typed by the user or taken from a file name.
std::string CleanName(const std::string& text);
