// Everything the server keeps across restarts: users, their favorites trees,
// circle memberships and leave-words. The server talks to storage only
// through this interface; SQL stays inside the implementation files.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "net/message.h"

namespace qsrv {

struct UserRecord {
  int32_t number = 0;
  std::string hash;      // crypto_pwhash_str output; never the password
  std::string nickname;  // GBK
};

struct LeaveWord {
  int32_t from = 0;
  int64_t time = 0;   // seconds since 1970, when it was left
  std::string text;   // escaped chat text, as the sender sent it
};

class IStorage {
 public:
  virtual ~IStorage() {}

  // False when the user exists already or the write failed.
  virtual bool AddUser(const UserRecord& user) = 0;
  // Both note an account change (see AccountChangesSince).
  virtual bool SetPasswordHash(int32_t user, const std::string& hash) = 0;
  // Removes the user with the tree, memberships and leave-words to and from him.
  virtual bool DeleteUser(int32_t user) = 0;
  // The users whose password changed or who were deleted after change number
  // `seen` (by any process sharing the storage); `seen` becomes the newest
  // change number. Only the latest changes are kept, plenty for a server that
  // looks every second.
  virtual bool AccountChangesSince(int64_t& seen, std::vector<int32_t>& users) = 0;
  virtual bool FindUser(int32_t user, UserRecord& out) = 0;
  virtual bool ListUsers(std::vector<UserRecord>& out) = 0;

  // Replaces the whole stored tree at once: either all nodes or the old tree.
  virtual bool ReplaceTree(int32_t user, const std::vector<qb::NodeWire>& nodes) = 0;
  virtual bool LoadTree(int32_t user, std::vector<qb::NodeWire>& out) = 0;
  virtual int CountTree(int32_t user) = 0;

  virtual bool AddMember(const std::string& key, int32_t user) = 0;
  virtual bool RemoveMember(const std::string& key, int32_t user) = 0;
  virtual bool ListMembers(const std::string& key, std::vector<int32_t>& out) = 0;  // in joining order
  virtual int CountMemberships(int32_t user) = 0;

  virtual bool AddLeaveWord(int32_t to, const LeaveWord& word) = 0;
  virtual int CountLeaveWords(int32_t to) = 0;
  virtual int CountLeaveWordsFrom(int32_t to, int32_t from) = 0;
  // Hands out every leave-word for `to`, oldest first, and forgets them.
  virtual bool TakeLeaveWords(int32_t to, std::vector<LeaveWord>& out) = 0;
};

// Opens (creating when missing, readable by its owner only) a SQLite database
// file. Null on failure, with the reason in `error`.
std::unique_ptr<IStorage> OpenSqliteStorage(const std::string& path, std::string& error);

}  // namespace qsrv
