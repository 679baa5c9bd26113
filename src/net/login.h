// The login dialog's remembered values and its logic, and where the server
// is found. The dialog window itself only shows these and calls them.
#pragma once
#include <cstdint>
#include <string>

#include "net/netstate.h"

namespace qb {

// The login dialog's registry key under the current user, one value at a time.
// Strings are written without a terminating zero; reading takes either form.
class CRegAccess {
 public:
  static const char kKey[];  // "Software\\tavlo"
  int CreateKey();
  // The key is there and may be written: the dialog reads it only then.
  int KeyWritable();
  int ReadDword(const std::string& value, uint32_t& out);
  // At most `capacity` bytes; a stored string carries no terminating zero.
  int ReadString(const std::string& value, std::string& out, size_t capacity = 256);
  int WriteDword(const std::string& value, uint32_t data);
  int WriteString(const std::string& value, const std::string& data);
};

// What the dialog's controls hold.
struct LoginDialogData {
  int32_t user = 0;
  std::string passwordBox;  // what the password box shows
  bool rememberPassword = false;
  bool passwordEdited = false;  // the box changed since opening or the last OK
  std::string title;
};

const char kPasswordPlaceholder[] = "1234567890";
const size_t kMaxPassword = 20;  // bytes
const int32_t kMaxUserNumber = 999999999;

// The number box's text as a user number: blank is 0 (the dialog then asks
// for a number); digits up to kMaxUserNumber, blanks around them allowed.
// False for anything else.
bool ParseUserNumber(const std::string& text, int32_t& out);
// The password box's text cut to kMaxPassword bytes, never inside a
// double-byte character.
std::string CutPassword(const std::string& gbk);
extern const char kUserNumberRangeText[];

// Takes the controls' texts into the dialog's values, as the dialog does
// before OK: false (and the box's text in `error`) when the number is not
// one; the password is cut to its length.
bool LoginDialogTakeValues(const std::string& numberText, const std::string& passwordText, LoginDialogData& data,
                           std::string& error);

// Opening the dialog: remembered number and password from the registry.
void LoginDialogInit(CNetState& net, LoginDialogData& data);

enum LoginOkResult { kLoginNeedNumber, kLoginSent, kLoginNotSent };
// The OK button: validates, remembers, sends the login. The box for a
// missing number goes through the net state's user interface.
LoginOkResult LoginDialogOk(CNetState& net, LoginDialogData& data);

// ---- where the server is ------------------------------------------------------
// Server host names live in config\NetServer.ini beside MyConfig.ini:
//   [Server]
//   Host=...        default server host name
//   Fallback=...    tried when the default gives no address
//   Web=...         web host of the update notice and registration pages
//   Bind=...        optional local IPv4 address to listen and send on
//   Ports=...       optional first of the five local ports (5030); all five
//                   must fit below 65536
//   PeerPorts=...   optional first of the ports other users' programs
//                   listen on (5030; side-by-side set-ups share one set)
//   ServerPorts=... optional first of the server's five ports (5080)
//   TestKeepAliveMs=... for tests only: a keep-alive period shorter than the
//                   20 minutes (100 to 1200000 ms)
// Missing file or keys (or an unusable value) give the built-in defaults.
extern const char kNetConfigFile[];  // "config\\NetServer.ini"
CNetConfig DefaultNetConfig();
CNetConfig LoadNetConfig(const std::string& programDirectory);
int SaveNetConfig(const std::string& programDirectory, const CNetConfig& config);

}  // namespace qb
