// The picture loader and the background images of the windows.
#include "widgets/picture_win32.h"

#include "os/os.h"
#include "widgets/text_win32.h"

namespace qb {

namespace {
const wchar_t kErrorTitle[] = L"CPicture Error";

bool EndsWithNoCase(const std::string& s, const char* tail) {
  size_t n = strlen(tail);
  if (s.size() < n) return false;
  return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, s.c_str() + s.size() - n, static_cast<int>(n), tail,
                        static_cast<int>(n)) == CSTR_EQUAL;
}
}  // namespace

CPicture::~CPicture() { Release(); }

void CPicture::Release() {
  if (m_picture) m_picture->Release();
  m_picture = nullptr;
  m_width = m_height = 0;
}

bool CPicture::LoadPictureData(const unsigned char* bytes, size_t size) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size ? size : 1);
  if (!block) {
    MessageBoxW(nullptr, L"Can not allocate enough memory\t", kErrorTitle, MB_OK | MB_ICONSTOP);
    return false;
  }
  void* p = GlobalLock(block);
  if (size) memcpy(p, bytes, size);
  GlobalUnlock(block);
  IStream* stream = nullptr;
  if (FAILED(CreateStreamOnHGlobal(block, TRUE, &stream))) {
    GlobalFree(block);
    return false;
  }
  Release();
  HRESULT hr = OleLoadPicture(stream, static_cast<LONG>(size), FALSE, IID_IPicture, reinterpret_cast<void**>(&m_picture));
  stream->Release();
  if (hr == E_NOINTERFACE) {
    MessageBoxW(nullptr, L"IPicture interface is not supported\t", kErrorTitle, MB_OK | MB_ICONSTOP);
    m_picture = nullptr;
    return false;
  }
  if (FAILED(hr)) m_picture = nullptr;  // counts as loaded, with nothing to show
  return true;
}

bool CPicture::UpdateSizeOnDC(HDC dc) {
  if (!m_picture) {
    m_width = m_height = 0;
    return false;
  }
  OLE_XSIZE_HIMETRIC w = 0;
  OLE_YSIZE_HIMETRIC h = 0;
  m_picture->get_Width(&w);
  m_picture->get_Height(&h);
  bool printing = GetDeviceCaps(dc, TECHNOLOGY) == DT_RASPRINTER;
  int dpiX = printing ? 96 : GetDeviceCaps(dc, LOGPIXELSX);
  int dpiY = printing ? 96 : GetDeviceCaps(dc, LOGPIXELSY);
  m_width = MulDiv(w, dpiX, 2540);
  m_height = MulDiv(h, dpiY, 2540);
  return true;
}

bool CPicture::Show(HDC dc, const RECT& rect) {
  if (!m_picture) return false;
  OLE_XSIZE_HIMETRIC w = 0;
  OLE_YSIZE_HIMETRIC h = 0;
  m_picture->get_Width(&w);
  m_picture->get_Height(&h);
  // Picture coordinates run bottom-up: start at the height, go up by it.
  HRESULT hr = m_picture->Render(dc, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, 0, h, w, -h,
                                 nullptr);
  if (FAILED(hr)) {
    MessageBoxW(nullptr, L"Can not allocate enough memory\t", kErrorTitle, MB_OK | MB_ICONSTOP);
    return false;
  }
  return true;
}

int LoadBackgroundImage(const std::string& path, HBITMAP* bitmap, CPicture* picture) {
  if (EndsWithNoCase(path, ".bmp")) {
    HBITMAP b = static_cast<HBITMAP>(
        LoadImageW(nullptr, W(path).c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
    if (*bitmap) DeleteObject(*bitmap);
    *bitmap = b;
    return b != nullptr;
  }
  if (EndsWithNoCase(path, ".jpg")) {
    if (*bitmap) DeleteObject(*bitmap);
    *bitmap = nullptr;
    std::string bytes;
    if (!os::ReadWholeFile(path, bytes)) {
      picture->Release();
      return 0;
    }
    return picture->LoadPictureData(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()) &&
           picture->Loaded();
  }
  return 0;
}

void PaintBackground(HDC dc, const RECT& rect, HBITMAP bitmap, CPicture* picture) {
  if (bitmap) {
    HDC mem = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(mem, bitmap);
    BitBlt(dc, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, mem, 0, 0, SRCCOPY);
    SelectObject(mem, old);
    DeleteDC(mem);
  } else if (picture && picture->Loaded()) {
    picture->Show(dc, rect);
  }
}

}  // namespace qb
