#include "skin/skin.h"

#include "os/os.h"

namespace qb {

const char kInstalledSkinName[] = "汽车Qimbo";

namespace {
const char* const kAreaNames[kSkinAreaCount] = {
    "功能按钮区(左下角及中缝)", "目录区", "书签区", "程序区", "收藏夹添加对话框",
};
const char kFontFailed[] = "创建字体失败，按确认退出！";
const uint32_t kCopyPauseMs = 1200;

std::string SkinFolder(const std::string& programDir, const std::string& name) {
  return name.empty() ? programDir + "skin\\" : programDir + "skin\\" + name + "\\";
}

std::string FilePart(const std::string& path) {
  size_t slash = path.rfind('\\');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Image paths are absolute once a skin has been installed or chosen; the
// default "BackGround.Bmp" is relative, and like every relative name of the
// program it means a file in the program directory.
std::string ResolveImagePath(const std::string& programDir, const std::string& path) {
  bool absolute = (!path.empty() && path[0] == '\\') || (path.size() >= 2 && path[1] == ':');
  return absolute ? path : programDir + path;
}

// A record as the file holds it, before it replaces the one in memory.
struct StoredRecord {
  os::FontDesc font;
  uint32_t words[8] = {};
  std::string imagePath;
};

int ReadRecord(CArchiveReader& ar, StoredRecord& rec) {
  std::string head, face;
  if (!ar.ReadBytes(os::kFontHeadBytes, head)) return 0;
  if (!ar.ReadCountedString(face)) return 0;
  for (uint32_t& w : rec.words)
    if (!ar.ReadU32(w)) return 0;
  if (!ar.ReadCountedString(rec.imagePath)) return 0;
  rec.font.head = os::DecodeFontHead((const unsigned char*)head.data());
  os::SetFaceName(rec.font, face);  // a longer stored name is cut to what a LOGFONT holds
  return 1;
}
// Five whole records: a database that a save wrote to its end.
bool IsCompleteSkinFile(const std::string& bytes) {
  CMemorySource src(bytes);
  CArchiveReader ar(src);
  for (int i = 0; i < kSkinAreaCount; ++i) {
    StoredRecord rec;
    if (!ReadRecord(ar, rec)) return false;
  }
  return true;
}
}  // namespace

const char* SkinAreaName(int area) { return area >= 0 && area < kSkinAreaCount ? kAreaNames[area] : ""; }

void ResetSkins(SkinSet& skins) {
  for (int i = 0; i < kSkinAreaCount; ++i) {
    skins[i] = SkinStyle();
    skins[i].m_strAreaName = kAreaNames[i];
  }
}

SkinStyle CopySkinLook(const SkinStyle& from) {
  SkinStyle to;
  static_cast<SkinLook&>(to) = from;
  return to;
}

// A record without a font draws its buttons in the dialog font, which on a
// Chinese Windows is 宋体 at 9 points; saving that description (rather than
// an empty one) keeps the file loadable and the look unchanged. Every area
// has the same default.
os::FontDesc DefaultSkinFont(int /*area*/) {
  os::FontDesc d;
  d.head.height = -12;
  d.head.weight = 400;  // FW_NORMAL
  d.head.charSet = 134;  // GB2312_CHARSET
  os::SetFaceName(d, "宋体");
  return d;
}

os::FontDesc SkinFontDesc(const SkinSet& skins, int area) {
  const SkinStyle& s = skins[area];
  return s.m_font ? s.m_font->Desc() : DefaultSkinFont(area);
}

std::string EncodeSkinRecords(const SkinSet& skins) {
  CMemorySink sink;
  CArchiveWriter ar(sink);
  for (int i = 0; i < kSkinAreaCount; ++i) {
    const SkinStyle& s = skins[i];
    os::FontDesc font = SkinFontDesc(skins, i);
    ar.WriteBytes(os::EncodeFontHead(font.head));
    ar.WriteCountedString(os::FaceName(font));
    // The stored order of the eight words is not the order of the members.
    ar.WriteU32(s.m_clrPressedBack);
    ar.WriteU32(s.m_clrHoverBack);
    ar.WriteU32(s.m_clrNormalBack);
    ar.WriteU32(s.m_clrPressedText);
    ar.WriteU32(s.m_clrHoverText);
    ar.WriteU32(s.m_clrNormalText);
    ar.WriteU32((uint32_t)s.m_nClickMark);
    ar.WriteU32((uint32_t)s.m_nFlat);
    ar.WriteCountedString(s.m_strImagePath);
  }
  return sink.Bytes();
}

int DecodeSkinRecords(IByteSource& src, SkinSet& skins, IUserInterface* ui) {
  CArchiveReader ar(src);
  for (int i = 0; i < kSkinAreaCount; ++i) {
    StoredRecord rec;
    if (!ReadRecord(ar, rec)) return 0;
    SkinStyle& s = skins[i];
    s.m_clrPressedBack = rec.words[0];
    s.m_clrHoverBack = rec.words[1];
    s.m_clrNormalBack = rec.words[2];
    s.m_clrPressedText = rec.words[3];
    s.m_clrHoverText = rec.words[4];
    s.m_clrNormalText = rec.words[5];
    s.m_nClickMark = (int32_t)rec.words[6];
    s.m_nFlat = (int32_t)rec.words[7];
    s.m_strImagePath = rec.imagePath;
    s.m_font = os::CFont::Create(rec.font);
    if (!s.m_font && ui) ui->ShowMessage(kFontFailed, "", kMbOk | kMbIconStop);
  }
  return 1;
}

int LoadSkin(const std::string& programDir, const std::string& name, SkinSet& skins, IUserInterface* ui) {
  std::string folder = SkinFolder(programDir, name);
  std::string db = folder + "MySkin.db", bak = folder + "MySkin.bak";
  // A save that ended before its last step left the new database beside the
  // file; failing that, the backup of the previous one comes back.
  os::TakeCompleteNewFile(db, IsCompleteSkinFile);
  if (!os::FileExists(db) && os::FileExists(bak)) os::RenameFile(bak, db);
  {
    os::CReadStream in;
    if (!in.Open(db)) return 0;
    if (!DecodeSkinRecords(in, skins, ui)) return 0;
  }
  if (!name.empty()) {
    RelocateSkinImages(programDir, name, skins);
    return 1;
  }
  std::string first = folder + "FirstRun.txt", second = folder + "SecondRun.txt";
  if (os::FileExists(first)) {
    // A SecondRun.txt left from an earlier installation must not keep the
    // marker where it is, or every start would relocate and save again.
    if (os::FileExists(second)) os::RemoveFile(second);
    if (!os::RenameFile(first, second)) os::RemoveFile(first);
    RelocateSkinImages(programDir, kInstalledSkinName, skins);
    SaveSkin(programDir, "", skins);
  }
  return 1;
}

std::string SkinImageFile(const std::string& programDir, const std::string& image) {
  bool absolute = (!image.empty() && (image[0] == '\\' || image[0] == '/')) || (image.size() > 1 && image[1] == ':');
  return image.empty() || absolute ? image : programDir + image;
}

void RelocateSkinImages(const std::string& programDir, const std::string& name, SkinSet& skins) {
  std::string folder = SkinFolder(programDir, name);
  for (SkinStyle& s : skins) s.m_strImagePath = folder + FilePart(s.m_strImagePath);
}

int SaveSkin(const std::string& programDir, const std::string& name, const SkinSet& skins, const SkinPause& pause) {
  std::string folder = SkinFolder(programDir, name);
  if (!name.empty()) {
    os::CreateFolder(programDir + "skin\\" + name);
    // Best effort: a missing image is skipped; two areas using the same file
    // name share one copy, the later area's. The pause after each copy is
    // part of the program's behaviour (the settings dialog shows progress).
    for (const SkinStyle& s : skins) {
      std::string from = ResolveImagePath(programDir, s.m_strImagePath);
      std::string file = FilePart(from);
      std::string to = folder + file;
      if (!file.empty() && from != to && os::FileExists(from) && !os::IsFolder(from)) os::CopyOneFile(from, to, 0);
      if (pause)
        pause(kCopyPauseMs);
      else
        os::SleepMs(kCopyPauseMs);
    }
  }
  std::string db = folder + "MySkin.db", bak = folder + "MySkin.bak";
  // The new database is whole on the disk before the previous one becomes
  // the backup, and takes its place in one step.
  return os::SaveFileReplacing(db, bak, EncodeSkinRecords(skins));
}

void FreeSkinFonts(SkinSet& skins) {
  for (SkinStyle& s : skins) s.m_font.reset();
}

}  // namespace qb
