#include <cstdlib>
#include <iostream>

#include "base/codepage.h"
#include "server_cli.h"

namespace qsrv {
namespace {

bool ParseUserNumber(const std::string& text, int32_t& out, std::string& error) {
  char* end = nullptr;
  long long v = strtoll(text.c_str(), &end, 10);
  // The login dialog takes 1 .. 999999999; 0 means "no user" to the program.
  if (text.empty() || *end != 0 || v < 1 || v > 999999999) {
    error = "a user number is 1 to 999999999: " + text;
    return false;
  }
  out = (int32_t)v;
  return true;
}

bool TakePassword(const std::string& arg, std::string& gbk, std::string& error) {
  std::string utf8 = arg;
  if (arg == "-") {
    if (!std::getline(std::cin, utf8)) {
      error = "no password on standard input";
      return false;
    }
    if (!utf8.empty() && utf8.back() == '\r') utf8.pop_back();
  }
  if (!qb::Utf8ToGbk(utf8, gbk)) {
    error = "the password is not valid text";
    return false;
  }
  // The program holds at most 20 bytes of password.
  if (gbk.empty() || gbk.size() > 20) {
    error = "a password has 1 to 20 bytes";
    return false;
  }
  return true;
}

}  // namespace

bool RunUserCommand(IStorage& storage, const std::vector<std::string>& w, HashCost cost, std::ostream& out,
                    std::string& error) {
  const std::string cmd = w.empty() ? std::string() : w[0];
  int32_t number = 0;
  std::string password, hash;
  if (cmd == "add" && (w.size() == 3 || w.size() == 4)) {
    UserRecord rec;
    if (!ParseUserNumber(w[1], number, error) || !TakePassword(w[2], password, error)) return false;
    if (w.size() == 4 && !qb::Utf8ToGbk(w[3], rec.nickname)) {
      error = "the nickname is not valid text";
      return false;
    }
    // Nicknames travel inside fields and member lists; keep them short and bracket-free.
    if (rec.nickname.size() > 32 || rec.nickname.find_first_of("<>\r\n") != std::string::npos) {
      error = "a nickname has at most 32 bytes and no < > or line break";
      return false;
    }
    if (storage.FindUser(number, rec)) {
      error = "user " + w[1] + " exists already";
      return false;
    }
    if (!HashPassword(password, hash, cost)) {
      error = "cannot hash the password";
      return false;
    }
    rec.number = number;
    rec.hash = hash;
    if (!storage.AddUser(rec)) {
      error = "cannot add user " + w[1];
      return false;
    }
    out << "added user " << number << "\n";
    return true;
  }
  if (cmd == "passwd" && w.size() == 3) {
    UserRecord rec;
    if (!ParseUserNumber(w[1], number, error) || !TakePassword(w[2], password, error)) return false;
    if (!storage.FindUser(number, rec)) {
      error = "no user " + w[1];
      return false;
    }
    if (!HashPassword(password, hash, cost) || !storage.SetPasswordHash(number, hash)) {
      error = "cannot change the password of user " + w[1];
      return false;
    }
    out << "changed the password of user " << number << "\n";
    return true;
  }
  if (cmd == "del" && w.size() == 2) {
    if (!ParseUserNumber(w[1], number, error)) return false;
    if (!storage.DeleteUser(number)) {
      error = "no user " + w[1];
      return false;
    }
    out << "deleted user " << number << "\n";
    return true;
  }
  if (cmd == "list" && w.size() == 1) {
    std::vector<UserRecord> users;
    if (!storage.ListUsers(users)) {
      error = "cannot read the users";
      return false;
    }
    for (const UserRecord& u : users) {
      out << u.number;
      if (!u.nickname.empty()) out << "\t" << qb::ToUtf8(u.nickname);
      out << "\t" << storage.CountTree(u.number) << " nodes\n";
    }
    return true;
  }
  error = "unknown or incomplete user command";
  return false;
}

}  // namespace qsrv
