// The picture loader and the background images of the windows.
#include "widgets/picture_win32.h"

#include <condition_variable>
#include <cstdio>
#include <cstring>
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

// ---- decoded pictures kept as bitmap files ----------------------------------------

namespace {

// What a kept picture is checked against: the size and last-write time of the
// file it was decoded from.
struct SourceStamp {
  bool found = false;
  FILETIME written = {};
  uint32_t sizeLow = 0;
};

SourceStamp StampOf(const std::string& path) {
  SourceStamp stamp;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(W(path).c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return stamp;
  stamp.found = true;
  stamp.written = data.ftLastWriteTime;
  stamp.sizeLow = data.nFileSizeLow;
  return stamp;
}

const size_t kKeptHeader = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
const LONG kKeptMaxSide = 16384;

size_t KeptStride(LONG width, WORD bits) { return ((static_cast<size_t>(width) * bits + 31) / 32) * 4; }

}  // namespace

std::string KeptPictureFile(const std::string& folder, const std::string& source) {
  uint64_t hash = 14695981039346656037ull;  // FNV-1a over the path's bytes
  for (unsigned char c : source) hash = (hash ^ c) * 1099511628211ull;
  char name[24];
  snprintf(name, sizeof name, "%016llx.bmp", static_cast<unsigned long long>(hash));
  std::string f = folder;
  if (!f.empty() && f.back() != '\\' && f.back() != '/') f += '\\';
  return f + name;
}

std::string KeptPictureBytes(HBITMAP bitmap) {
  BITMAP info = {};
  if (!bitmap || !GetObjectW(bitmap, sizeof info, &info)) return std::string();
  WORD bits = info.bmBitsPixel;
  if ((bits != 24 && bits != 32) || info.bmWidth <= 0 || info.bmHeight <= 0 || info.bmWidth > kKeptMaxSide ||
      info.bmHeight > kKeptMaxSide)
    return std::string();
  size_t stride = KeptStride(info.bmWidth, bits), image = stride * static_cast<size_t>(info.bmHeight);
  std::string bytes(kKeptHeader + image, '\0');
  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;  // "BM"
  file.bfSize = static_cast<DWORD>(bytes.size());
  file.bfOffBits = static_cast<DWORD>(kKeptHeader);
  BITMAPINFO head = {};
  head.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  head.bmiHeader.biWidth = info.bmWidth;
  head.bmiHeader.biHeight = info.bmHeight;  // bottom-up, whatever the bitmap's own order
  head.bmiHeader.biPlanes = 1;
  head.bmiHeader.biBitCount = bits;
  head.bmiHeader.biCompression = BI_RGB;
  head.bmiHeader.biSizeImage = static_cast<DWORD>(image);
  MemoryDc dc(nullptr);
  if (GetDIBits(dc.Get(), bitmap, 0, static_cast<UINT>(info.bmHeight), &bytes[kKeptHeader], &head,
                DIB_RGB_COLORS) != info.bmHeight)
    return std::string();
  memcpy(&bytes[0], &file, sizeof file);
  memcpy(&bytes[sizeof file], &head.bmiHeader, sizeof head.bmiHeader);
  return bytes;
}

bool WriteKeptPicture(const std::string& folder, const std::string& source, std::string bytes) {
  SourceStamp stamp = StampOf(source);
  if (!stamp.found || bytes.size() < kKeptHeader) return false;
  // The source's size goes into the header's two spare words.
  BITMAPFILEHEADER file;
  memcpy(&file, &bytes[0], sizeof file);
  file.bfReserved1 = LOWORD(stamp.sizeLow);
  file.bfReserved2 = HIWORD(stamp.sizeLow);
  memcpy(&bytes[0], &file, sizeof file);
  // The folder and its parents; an existing one is no failure.
  for (size_t at = folder.find_first_of("\\/", 3); at != std::string::npos; at = folder.find_first_of("\\/", at + 1))
    CreateDirectoryW(W(folder.substr(0, at)).c_str(), nullptr);
  CreateDirectoryW(W(folder).c_str(), nullptr);
  // Written whole under a name of its own, given the source's time, then put
  // in place in one step: a reader never sees half a file.
  std::string target = KeptPictureFile(folder, source);
  std::wstring part = W(target) + L"." + std::to_wstring(GetCurrentThreadId()) + L".part";
  HANDLE h = CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size() && SetFileTime(h, nullptr, nullptr, &stamp.written);
  CloseHandle(h);
  if (ok) ok = MoveFileExW(part.c_str(), W(target).c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
  if (!ok) DeleteFileW(part.c_str());
  return ok;
}

GdiBitmap ReadKeptPicture(const std::string& folder, const std::string& source, SIZE* size) {
  std::string path = KeptPictureFile(folder, source);
  SourceStamp stamp = StampOf(source), kept = StampOf(path);
  if (!stamp.found || !kept.found || CompareFileTime(&stamp.written, &kept.written) != 0) return GdiBitmap();
  std::string bytes;
  if (!os::ReadWholeFile(path, bytes) || bytes.size() < kKeptHeader) return GdiBitmap();
  BITMAPFILEHEADER file;
  BITMAPINFOHEADER head;
  memcpy(&file, &bytes[0], sizeof file);
  memcpy(&head, &bytes[sizeof file], sizeof head);
  if (file.bfType != 0x4D42 || file.bfSize != bytes.size() || file.bfOffBits != kKeptHeader ||
      MAKELONG(file.bfReserved1, file.bfReserved2) != static_cast<LONG>(stamp.sizeLow) ||
      head.biSize != sizeof head || head.biPlanes != 1 || head.biCompression != BI_RGB ||
      (head.biBitCount != 24 && head.biBitCount != 32) || head.biWidth <= 0 || head.biHeight <= 0 ||
      head.biWidth > kKeptMaxSide || head.biHeight > kKeptMaxSide)
    return GdiBitmap();
  size_t image = KeptStride(head.biWidth, head.biBitCount) * static_cast<size_t>(head.biHeight);
  if (bytes.size() - kKeptHeader != image) return GdiBitmap();
  void* bits = nullptr;
  GdiBitmap bitmap(CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&head), DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!bitmap || !bits) return GdiBitmap();
  memcpy(bits, &bytes[kKeptHeader], image);
  *size = SIZE{head.biWidth, head.biHeight};
  return bitmap;
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
  std::string keepFolder;  // where decoded pictures are kept; empty: nowhere
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

// A picture kept from an earlier decoding is read without the picture loader,
// whose COM and codec libraries cost a start far more than the decoding;
// a picture decoded here is kept once its taker has it.
void PrefetchWorker(std::vector<std::string> paths, std::string keepFolder) {
  bool comTried = false;
  HRESULT com = E_FAIL;
  Prefetch& p = ThePrefetch();
  for (const std::string& path : paths) {
    SIZE size = {0, 0};
    GdiBitmap bitmap = keepFolder.empty() ? GdiBitmap() : ReadKeptPicture(keepFolder, path, &size);
    std::string keep;
    if (!bitmap) {
      if (!comTried) com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);  // the decoders are COM objects
      comTried = true;
      bitmap = DecodeToBitmap(path, &size);
      if (bitmap && !keepFolder.empty()) keep = KeptPictureBytes(bitmap.Get());
    }
    {
      std::lock_guard<std::mutex> hold(p.lock);
      Prefetched& entry = p.pictures[path];
      entry.done = true;
      entry.bitmap = std::move(bitmap);
      entry.size = size;
      p.changed.notify_all();
    }
    if (!keep.empty()) WriteKeptPicture(keepFolder, path, keep);
  }
  if (comTried && SUCCEEDED(com)) CoUninitialize();
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
  std::string keepFolder;
  {
    std::lock_guard<std::mutex> hold(p.lock);
    for (const std::string& path : gbkPaths) {
      if (path.size() < 4 || p.pictures.count(path)) continue;
      std::string end = path.substr(path.size() - 4);
      if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, end.c_str(), 4, ".jpg", 4) != CSTR_EQUAL) continue;
      p.pictures[path];  // pending: a taker waits for it
      wanted.push_back(path);
    }
    keepFolder = p.keepFolder;
  }
  if (!wanted.empty()) p.worker = std::thread(PrefetchWorker, std::move(wanted), std::move(keepFolder));
}

void SetPictureKeepFolder(const std::string& gbkFolder) {
  Prefetch& p = ThePrefetch();
  std::lock_guard<std::mutex> hold(p.lock);
  p.keepFolder = gbkFolder;
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
