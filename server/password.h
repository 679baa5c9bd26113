// Passwords are kept only as salted, deliberately slow hashes (Argon2id from
// libsodium). Sessions then keep a fast keyed digest in memory, so that the
// keep-alives and transfer requests of a logged-in user cost no slow hash.
#pragma once
#include <string>

namespace qsrv {

enum class HashCost { Interactive, Minimum };  // Minimum only for tests and benchmarks

bool InitPasswords();  // sodium_init; false when the library cannot start
bool HashPassword(const std::string& password, std::string& hash, HashCost cost = HashCost::Interactive);
bool VerifyPassword(const std::string& hash, const std::string& password);
// Keyed with a random key made at start, so the digest is useless outside this run.
std::string SessionDigest(const std::string& password);

}  // namespace qsrv

namespace qsrv {
// Constant-time comparison of a session digest with a password's digest.
bool DigestMatches(const std::string& digest, const std::string& password);
}  // namespace qsrv
