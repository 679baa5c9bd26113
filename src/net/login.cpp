#include "net/login.h"

#include <cstdlib>

#include "base/cipher.h"
#include "base/codepage.h"
#include "os/os.h"

namespace qb {

const char CRegAccess::kKey[] = "Software\\tavlo";

int CRegAccess::CreateKey() { return os::RegMakeKey(os::Hive::CurrentUser, kKey); }

int CRegAccess::KeyWritable() { return os::RegKeyWritable(os::Hive::CurrentUser, kKey); }

int CRegAccess::ReadDword(const std::string& value, uint32_t& out) {
  return os::RegReadDword(os::Hive::CurrentUser, kKey, value, out);
}

int CRegAccess::ReadString(const std::string& value, std::string& out, size_t capacity) {
  std::string s;
  if (!os::RegReadString(os::Hive::CurrentUser, kKey, value, s)) return 0;
  out = s.substr(0, capacity);
  return 1;
}

int CRegAccess::WriteDword(const std::string& value, uint32_t data) {
  return os::RegWriteDword(os::Hive::CurrentUser, kKey, value, data);
}

int CRegAccess::WriteString(const std::string& value, const std::string& data) {
  return os::RegWriteString(os::Hive::CurrentUser, kKey, value, data, false);
}

const char kUserNumberRangeText[] = "用户号码应为0到999999999之间的整数！";

bool ParseUserNumber(const std::string& text, int32_t& out) {
  size_t a = text.find_first_not_of(" \t"), b = text.find_last_not_of(" \t");
  if (a == std::string::npos) {
    out = 0;
    return true;
  }
  int64_t n = 0;
  for (size_t i = a; i <= b; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    n = n * 10 + (text[i] - '0');
    if (n > kMaxUserNumber) return false;
  }
  out = static_cast<int32_t>(n);
  return true;
}

std::string CutPassword(const std::string& gbk) { return CutBytes(gbk, kMaxPassword); }

bool LoginDialogTakeValues(const std::string& numberText, const std::string& passwordText, LoginDialogData& data,
                           std::string& error) {
  int32_t user = 0;
  if (!ParseUserNumber(numberText, user)) {
    error = kUserNumberRangeText;
    return false;
  }
  data.user = user;
  data.passwordBox = CutPassword(passwordText);
  error.clear();
  return true;
}

void LoginDialogInit(CNetState& net, LoginDialogData& data) {
  CRegAccess reg;
  data = LoginDialogData();
  if (!reg.KeyWritable()) return;  // an empty dialog; OK makes the key
  uint32_t save = 0;
  if (!reg.ReadDword("isSavePwd", save)) save = 0;
  data.rememberPassword = save == 1;
  reg.CreateKey();
  std::string id;
  if (reg.ReadString("id", id)) data.user = ReadNumber(id);
  if (save == 1) {
    std::string coded;
    reg.ReadString("password", coded, 2 * kMaxPassword);
    net.Login().SetPassword(DecodeText(coded));
    // The real password is never shown.
    data.passwordBox = kPasswordPlaceholder;
  } else {
    net.Login().SetPassword(std::string());
    data.passwordBox.clear();
  }
}

LoginOkResult LoginDialogOk(CNetState& net, LoginDialogData& data) {
  if (data.user < 0 || data.user > kMaxUserNumber) {
    net.Ui().ShowMessage(kUserNumberRangeText, "登陆出错提示", kMbOk | kMbIconWarning);
    return kLoginNeedNumber;
  }
  if (data.user == 0) {
    net.Ui().ShowMessage("请填写用户号码", "登陆出错提示", kMbOk | kMbIconWarning);
    return kLoginNeedNumber;
  }
  data.title = "正在登录中,请稍候。。。";
  CNetLogin& login = net.Login();
  login.SetUser(data.user);
  CRegAccess reg;
  reg.CreateKey();
  reg.WriteString("id", FormatNumber(data.user));
  reg.WriteDword("isSavePwd", data.rememberPassword ? 1 : 0);
  // The box still holding the placeholder means: keep the remembered password.
  if (login.Password().empty() || data.passwordEdited) login.SetPassword(CutPassword(data.passwordBox));
  reg.WriteString("password", data.rememberPassword ? EncodeText(login.Password()) : std::string());
  data.passwordEdited = false;
  return login.SendLogin() ? kLoginSent : kLoginNotSent;
}

// ---- server configuration ----
const char kNetConfigFile[] = "config\\NetServer.ini";

CNetConfig DefaultNetConfig() {
  CNetConfig c;
  c.serverHost = "server.qimbo.net";
  c.fallbackHost = "server2.qimbo.net";
  c.webHost = "www.qimbo.net";
  return c;
}

static std::string Trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t\r\n"), b = s.find_last_not_of(" \t\r\n");
  return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

CNetConfig LoadNetConfig(const std::string& programDirectory) {
  CNetConfig c = DefaultNetConfig();
  std::string bytes;
  if (!os::ReadWholeFile(programDirectory + kNetConfigFile, bytes)) return c;
  size_t pos = 0;
  while (pos < bytes.size()) {
    size_t end = bytes.find('\n', pos);
    if (end == std::string::npos) end = bytes.size();
    std::string line = Trim(bytes.substr(pos, end - pos));
    pos = end + 1;
    size_t eq = line.find('=');
    if (line.empty() || line[0] == ';' || line[0] == '[' || eq == std::string::npos) continue;
    std::string key = Trim(line.substr(0, eq)), value = Trim(line.substr(eq + 1));
    if (key == "Host" && !value.empty()) c.serverHost = value;
    if (key == "Fallback") c.fallbackHost = value;
    if (key == "Web" && !value.empty()) c.webHost = value;
    if (key == "TestKeepAliveMs") {
      long ms = strtol(value.c_str(), nullptr, 10);
      if (ms >= 100 && ms <= 1200000) c.keepAliveMs = (uint32_t)ms;
    }
    if (key == "Bind") {
      uint32_t a = ParseDottedAddress(value);
      c.bindAddress = a == kNoAddress ? 0 : a;
    }
    // The first of five ports: this program's (Ports), other users'
    // programs' (PeerPorts) and the server's (ServerPorts).
    uint16_t* ports = key == "Ports" ? &c.localBasePort
                      : key == "PeerPorts" ? &c.peerBasePort
                      : key == "ServerPorts" ? &c.serverBasePort : nullptr;
    if (ports) {
      char* end = nullptr;
      long first = strtol(value.c_str(), &end, 10);
      if (end && !*end && first >= 1 && first <= 65536 - kLinkCount) *ports = (uint16_t)first;
    }
  }
  return c;
}

int SaveNetConfig(const std::string& programDirectory, const CNetConfig& c) {
  std::string text = "[Server]\r\nHost=" + c.serverHost + "\r\nFallback=" + c.fallbackHost + "\r\nWeb=" + c.webHost +
                     "\r\nBind=" + (c.bindAddress ? DottedAddress(c.bindAddress) : std::string()) + "\r\n";
  if (c.localBasePort != kLocalBasePort) text += "Ports=" + std::to_string(c.localBasePort) + "\r\n";
  if (c.peerBasePort != kLocalBasePort) text += "PeerPorts=" + std::to_string(c.peerBasePort) + "\r\n";
  if (c.serverBasePort != kServerBasePort) text += "ServerPorts=" + std::to_string(c.serverBasePort) + "\r\n";
  return os::WriteWholeFile(programDirectory + kNetConfigFile, text);
}

}  // namespace qb
