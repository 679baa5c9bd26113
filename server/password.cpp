#include "password.h"

#include <sodium.h>

namespace qsrv {

static unsigned char g_sessionKey[crypto_generichash_KEYBYTES];

bool InitPasswords() {
  static bool ready = false;
  if (ready) return true;
  if (sodium_init() < 0) return false;
  randombytes_buf(g_sessionKey, sizeof g_sessionKey);
  ready = true;
  return true;
}

bool HashPassword(const std::string& password, std::string& hash, HashCost cost) {
  if (!InitPasswords()) return false;
  char out[crypto_pwhash_STRBYTES];
  unsigned long long ops = crypto_pwhash_OPSLIMIT_INTERACTIVE;
  size_t mem = crypto_pwhash_MEMLIMIT_INTERACTIVE;
  if (cost == HashCost::Minimum) {
    ops = crypto_pwhash_OPSLIMIT_MIN;
    mem = crypto_pwhash_MEMLIMIT_MIN;
  }
  if (crypto_pwhash_str(out, password.data(), password.size(), ops, mem) != 0) return false;
  hash = out;
  return true;
}

bool VerifyPassword(const std::string& hash, const std::string& password) {
  if (!InitPasswords() || hash.empty() || hash.size() >= crypto_pwhash_STRBYTES) return false;
  return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

std::string SessionDigest(const std::string& password) {
  InitPasswords();
  unsigned char out[32];
  crypto_generichash(out, sizeof out, (const unsigned char*)password.data(), password.size(), g_sessionKey,
                     sizeof g_sessionKey);
  return std::string((const char*)out, sizeof out);
}

}  // namespace qsrv

namespace qsrv {
bool DigestMatches(const std::string& digest, const std::string& password) {
  std::string d = SessionDigest(password);
  return digest.size() == d.size() && sodium_memcmp(digest.data(), d.data(), d.size()) == 0;
}
}  // namespace qsrv
