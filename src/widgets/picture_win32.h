// CPicture: a JPEG (or any picture the platform's OLE loader reads) held in
// memory and drawn stretched into a rectangle.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <string>

namespace qb {

class CPicture {
 public:
  CPicture() = default;
  virtual ~CPicture();
  CPicture(const CPicture&) = delete;
  CPicture& operator=(const CPicture&) = delete;

  bool LoadPictureData(const unsigned char* bytes, size_t size);
  bool UpdateSizeOnDC(HDC dc);
  bool Show(HDC dc, const RECT& rect);
  void Release();
  bool Loaded() const { return m_picture != nullptr; }
  long Width() const { return m_width; }
  long Height() const { return m_height; }

 private:
  IPicture* m_picture = nullptr;
  long m_height = 0;
  long m_width = 0;
};

// A background image by its ending: ".bmp" as a DIB section, ".jpg" through
// the picture (the bitmap is then null); other endings load nothing.
// Returns 1 when something was loaded.
int LoadBackgroundImage(const std::string& gbkPath, HBITMAP* bitmap, CPicture* picture);
// Paints a background: the bitmap unscaled at the top-left, else the picture
// stretched into the rectangle.
void PaintBackground(HDC dc, const RECT& rect, HBITMAP bitmap, CPicture* picture);

}  // namespace qb
