// Putting bookmarks from other programs into the web-address folder within
// the tree's limits: 44 category tabs, 30 item buttons in each.
#pragma once
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "store/node.h"

constexpr int kCategorySlots = 44;  // tabs 0..43
constexpr int kItemSlots = 30;      // buttons 0..29 of a category
extern const char kRootCategoryName[];  // "目录名": links outside every folder

// UTF-8 text as the tree keeps it: code page 936, each character that code
// page 936 cannot hold (®, ™, an emoji) its reference ("&#x1F600;"), bytes
// that are no UTF-8 one "?", a non-breaking space a blank; runs of white
// space become one blank, none at either end.
std::string ImportedText(const std::string& utf8);

// The links of an import go where a panel shows them. A folder's links fill
// the free buttons of its category; when those are taken they go on in
// further categories named after it ("新闻2", "新闻3", …) while free tabs
// remain. Once every tab is taken, links that find no place are counted, not
// added. Categories already in the list keep their tabs; a folder named like
// one of them fills it first.
class CWebImport {
 public:
  explicit CWebImport(CMyNodeList& list);
  CWebImport(const CWebImport&) = delete;
  CWebImport& operator=(const CWebImport&) = delete;

  // A folder, by its (already converted) name; its category is made now, so
  // an empty folder still shows. Returns the folder's number for AddLink;
  // -1 (the root category) for an empty name.
  int Folder(const std::string& name);
  // The folder's description becomes the note of the categories this import
  // makes for it.
  void FolderNote(int folder, const std::string& note);
  // Adds `item` (name and address set) to the folder, or to the root category
  // "目录名" for folder -1. Returns the node when it was added; otherwise the
  // item has been deleted (no place, or an equal link is there already).
  CMyNode* AddLink(int folder, CMyNode* item);

  int Added() const { return m_added; }
  int NotImported() const { return m_notImported; }
  int Duplicates() const { return m_duplicates; }

 private:
  struct Chain {
    std::string name, note;
    bool started = false;         // the category of the name itself was looked for
    CMyNode* category = nullptr;  // where the folder's links go now
    int next = 2;                 // number of the next further category
    std::vector<CMyNode*> made;   // the categories this import made for it
  };
  struct Slots {
    unsigned taken = 0;  // bit per button slot
  };
  CMyNode* NewCategory(Chain& chain, const std::string& name);
  // The category named `name` when it is listed and shown, else a new one
  // when a tab is free; null otherwise.
  CMyNode* Take(Chain& chain, const std::string& name);
  // A category of the chain with a free button, made when needed; null when
  // none can be had.
  CMyNode* Place(Chain& chain);
  int FreeButton(CMyNode* category) const;
  // Whether a category of the chain ("name", "name2", "name3" …) holds the link.
  bool InChain(const Chain& chain, const std::string& name, const std::string& address) const;

  CMyNodeList& m_list;
  CMyNodeList::CAddBatch m_batch;
  std::unordered_map<std::string, CMyNode*> m_categories;  // web categories by name
  std::unordered_map<const CMyNode*, Slots> m_buttons;     // taken buttons per category
  // Category, name and address of every link: AddNode is only given what it
  // takes, so no refused node is left to anyone.
  std::unordered_set<std::string> m_links;
  std::vector<bool> m_tabs;                                 // taken tabs
  std::vector<Chain> m_chains;                              // by folder number; the root is -1
  Chain m_root;
  // By the folder's name: two folders of the same name fill one chain.
  std::unordered_map<std::string, int> m_folderByName;
  int m_added = 0, m_notImported = 0, m_duplicates = 0;
};
