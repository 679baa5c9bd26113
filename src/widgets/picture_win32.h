// CPicture: a JPEG (or any picture the platform's OLE loader reads) held in
// memory and drawn stretched into a rectangle.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <string>
#include <vector>

#include "win/gdi_win32.h"

namespace qb {

// Not copyable: it owns its picture and bitmap.
class CPicture {
 public:
  virtual ~CPicture();
  bool LoadPictureData(const unsigned char* bytes, size_t size);
  // The picture of a file: decoded ahead by the prefetch when it has that
  // file (waiting for it if it is still at work), else read and decoded here.
  bool LoadPictureFile(const std::string& gbkPath);
  bool UpdateSizeOnDC(HDC dc);
  bool Show(HDC dc, const RECT& rect);
  void Release();
  bool Loaded() const { return m_picture != nullptr || m_bitmap.Valid(); }
  long Width() const { return m_width; }
  long Height() const { return m_height; }

 private:
  IPicture* m_picture = nullptr;
  // A picture decoded by the prefetch: its pixels, drawn the way the
  // picture object draws a bitmap (stretched from the whole image).
  GdiBitmap m_bitmap;
  SIZE m_bitmapSize = {0, 0};
  long m_height = 0;
  long m_width = 0;
};

// Decodes the ".jpg" files among the paths on a worker thread, so that the
// windows showing them first find them ready (the panels' background images,
// while the main window paints and the panels are made). Call
// StopPicturePrefetch before the program ends; it waits for the worker and
// frees what nobody took.
void StartPicturePrefetch(const std::vector<std::string>& gbkPaths);
void StopPicturePrefetch();
// The folder where the prefetch keeps the pictures it decodes, as bitmap
// files (empty, as at the start: none are kept). A later prefetch of the same
// file reads its kept picture instead of decoding it again, as long as the
// file keeps its size and last-write time; its pixels are the decoded ones.
void SetPictureKeepFolder(const std::string& gbkFolder);
// The keeping itself, for the prefetch and its tests: the kept file of a
// source in a folder; a bitmap's bytes as a bitmap file (empty when it is not
// 24 or 32 bits deep); those bytes written as the source's kept picture,
// stamped with the source's size and time; the kept picture of a source read
// back when it still matches the source (empty otherwise).
std::string KeptPictureFile(const std::string& gbkFolder, const std::string& gbkSource);
std::string KeptPictureBytes(HBITMAP bitmap);
bool WriteKeptPicture(const std::string& gbkFolder, const std::string& gbkSource, std::string bytes);
GdiBitmap ReadKeptPicture(const std::string& gbkFolder, const std::string& gbkSource, SIZE* size);
// How many pictures were taken from the prefetch so far (for tests).
int PrefetchedPicturesTaken();

// A background image by its ending: ".bmp" as a DIB section, ".jpg" through
// the picture (the bitmap is then empty); other endings load nothing and
// change nothing. Returns 1 when something was loaded.
int LoadBackgroundImage(const std::string& gbkPath, GdiBitmap* bitmap, CPicture* picture);
// Paints a background: the bitmap unscaled at the top-left, else the picture
// stretched into the rectangle.
void PaintBackground(HDC dc, const RECT& rect, HBITMAP bitmap, CPicture* picture);

}  // namespace qb
