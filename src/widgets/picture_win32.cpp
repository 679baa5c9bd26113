// The picture loader and the background images of the windows.
#include "widgets/picture_win32.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "os/os.h"
#include "win/text_win32.h"

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
  m_bitmap.Reset();
  m_bitmapSize = SIZE{0, 0};
  m_width = m_height = 0;
}

// ---- decoding ahead ---------------------------------------------------------------

namespace {

// The picture loader's reading of bytes held in memory: E_OUTOFMEMORY when
// there is no memory for their copy, else the loader's result.
HRESULT PictureFromBytes(const void* bytes, size_t size, IPicture** picture) {
  *picture = nullptr;
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size ? size : 1);
  if (!block) return E_OUTOFMEMORY;
  if (size) memcpy(GlobalLock(block), bytes, size);
  GlobalUnlock(block);
  IStream* stream = nullptr;
  HRESULT hr = CreateStreamOnHGlobal(block, TRUE, &stream);
  if (FAILED(hr)) {
    GlobalFree(block);
    return hr;
  }
  hr = OleLoadPicture(stream, static_cast<LONG>(size), FALSE, IID_IPicture, reinterpret_cast<void**>(picture));
  stream->Release();
  if (FAILED(hr)) *picture = nullptr;
  return hr;
}

struct Prefetched {
  bool done = false;
  GdiBitmap bitmap;
  SIZE size = {0, 0};
};

struct Prefetch {
  std::mutex lock;
  std::condition_variable changed;
  std::map<std::string, Prefetched> pictures;
  std::thread worker;
  int taken = 0;
};

Prefetch& ThePrefetch() {
  static Prefetch* prefetch = new Prefetch;  // lives to the end of the process
  return *prefetch;
}

// Reads and decodes one file into a bitmap of its own pixels; empty when it
// cannot be read or is no picture.
GdiBitmap DecodeToBitmap(const std::string& path, SIZE* size) {
  std::string bytes;
  if (!os::ReadWholeFile(path, bytes) || bytes.empty()) return GdiBitmap();
  IPicture* picture = nullptr;
  if (FAILED(PictureFromBytes(bytes.data(), bytes.size(), &picture)) || !picture) return GdiBitmap();
  GdiBitmap copy;
  SHORT type = PICTYPE_NONE;
  OLE_HANDLE handle = 0;
  if (SUCCEEDED(picture->get_Type(&type)) && type == PICTYPE_BITMAP && SUCCEEDED(picture->get_Handle(&handle))) {
    HBITMAP own = reinterpret_cast<HBITMAP>(static_cast<UINT_PTR>(handle));
    BITMAP info = {};
    if (GetObjectW(own, sizeof info, &info)) {
      // A copy of our own: the picture's bitmap goes with the picture.
      copy.Reset(static_cast<HBITMAP>(CopyImage(own, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
      *size = SIZE{info.bmWidth, info.bmHeight};
    }
  }
  picture->Release();
  return copy;
}

void PrefetchWorker(std::vector<std::string> paths) {
  // The picture loader's decoders are COM objects.
  HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  Prefetch& p = ThePrefetch();
  for (const std::string& path : paths) {
    SIZE size = {0, 0};
    GdiBitmap bitmap = DecodeToBitmap(path, &size);
    std::lock_guard<std::mutex> hold(p.lock);
    Prefetched& entry = p.pictures[path];
    entry.done = true;
    entry.bitmap = std::move(bitmap);
    entry.size = size;
    p.changed.notify_all();
  }
  if (SUCCEEDED(com)) CoUninitialize();
}

// The prefetched bitmap of a file, taken over by the caller; false when the
// prefetch does not have that file (or could not decode it).
bool TakePrefetched(const std::string& path, GdiBitmap* bitmap, SIZE* size) {
  Prefetch& p = ThePrefetch();
  std::unique_lock<std::mutex> hold(p.lock);
  if (!p.pictures.count(path)) return false;
  p.changed.wait(hold, [&] {
    auto f = p.pictures.find(path);
    return f == p.pictures.end() || f->second.done;
  });
  auto it = p.pictures.find(path);
  if (it == p.pictures.end()) return false;
  *bitmap = std::move(it->second.bitmap);
  *size = it->second.size;
  p.pictures.erase(it);
  if (!*bitmap) return false;
  ++p.taken;
  return true;
}

}  // namespace

void StartPicturePrefetch(const std::vector<std::string>& gbkPaths) {
  StopPicturePrefetch();
  Prefetch& p = ThePrefetch();
  std::vector<std::string> wanted;
  {
    std::lock_guard<std::mutex> hold(p.lock);
    for (const std::string& path : gbkPaths) {
      if (path.size() < 4 || p.pictures.count(path)) continue;
      std::string end = path.substr(path.size() - 4);
      if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, end.c_str(), 4, ".jpg", 4) != CSTR_EQUAL) continue;
      p.pictures[path];  // pending: a taker waits for it
      wanted.push_back(path);
    }
  }
  if (!wanted.empty()) p.worker = std::thread(PrefetchWorker, std::move(wanted));
}

void StopPicturePrefetch() {
  Prefetch& p = ThePrefetch();
  if (p.worker.joinable()) p.worker.join();
  std::lock_guard<std::mutex> hold(p.lock);
  p.pictures.clear();
}

int PrefetchedPicturesTaken() {
  Prefetch& p = ThePrefetch();
  std::lock_guard<std::mutex> hold(p.lock);
  return p.taken;
}

bool CPicture::LoadPictureFile(const std::string& path) {
  GdiBitmap bitmap;
  SIZE size = {0, 0};
  if (TakePrefetched(path, &bitmap, &size)) {
    Release();
    m_bitmap = std::move(bitmap);
    m_bitmapSize = size;
    return true;
  }
  std::string bytes;
  if (!os::ReadWholeFile(path, bytes)) {
    Release();
    return false;
  }
  return LoadPictureData(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

bool CPicture::LoadPictureData(const unsigned char* bytes, size_t size) {
  IPicture* loaded = nullptr;
  HRESULT hr = PictureFromBytes(bytes, size, &loaded);
  if (hr == E_OUTOFMEMORY) {
    MessageBoxW(nullptr, L"Can not allocate enough memory\t", kErrorTitle, MB_OK | MB_ICONSTOP);
    return false;
  }
  Release();
  if (hr == E_NOINTERFACE) {
    MessageBoxW(nullptr, L"IPicture interface is not supported\t", kErrorTitle, MB_OK | MB_ICONSTOP);
    return false;
  }
  m_picture = loaded;  // null when the bytes are no picture: counts as loaded, with nothing to show
  return true;
}

bool CPicture::UpdateSizeOnDC(HDC dc) {
  if (m_bitmap) {
    m_width = m_bitmapSize.cx;
    m_height = m_bitmapSize.cy;
    return true;
  }
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
  if (m_bitmap) {
    MemoryDc mem(dc);
    SelectIn bitmapIn(mem.Get(), m_bitmap.Get());
    return StretchBlt(dc, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, mem.Get(), 0, 0,
                      m_bitmapSize.cx, m_bitmapSize.cy, SRCCOPY) != FALSE;
  }
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

int LoadBackgroundImage(const std::string& path, GdiBitmap* bitmap, CPicture* picture) {
  if (EndsWithNoCase(path, ".bmp")) {
    bitmap->Reset(static_cast<HBITMAP>(
        LoadImageW(nullptr, W(path).c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION)));
    return bitmap->Valid();
  }
  if (EndsWithNoCase(path, ".jpg")) {
    bitmap->Reset();
    return picture->LoadPictureFile(path) && picture->Loaded();
  }
  return 0;
}

void PaintBackground(HDC dc, const RECT& rect, HBITMAP bitmap, CPicture* picture) {
  if (bitmap) {
    MemoryDc mem(dc);
    SelectIn bitmapIn(mem.Get(), bitmap);
    BitBlt(dc, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, mem.Get(), 0, 0, SRCCOPY);
  } else if (picture && picture->Loaded()) {
    picture->Show(dc, rect);
  }
}

}  // namespace qb
