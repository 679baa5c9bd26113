// A minimal ActiveX container for the web browser control: a client site that
// activates the control in place inside our window, and navigation through
// the control's dispatch interface.
#include "widgets/explorer_win32.h"

#include <ole2.h>
#include <oleidl.h>
#include <shellapi.h>

#include "os/os.h"
#include "win/gdi_win32.h"
#include "win/text_win32.h"

namespace qb {

namespace {
const wchar_t kExplorerClass[] = L"QimboExplorer";
// {8856F961-340A-11D0-A96B-00C04FD705A2}
const CLSID kClsidWebBrowser = {0x8856F961, 0x340A, 0x11D0, {0xA9, 0x6B, 0x00, 0xC0, 0x4F, 0xD7, 0x05, 0xA2}};
const DISPID kDispidNavigate = 104;
bool g_engineOff = false;

// The text between <title> and </title> of a local page, as GBK.
std::wstring PageTitle(const std::string& path) {
  std::string bytes;
  if (!os::ReadWholeFile(path, bytes)) return std::wstring();
  size_t a = bytes.find("<title>");
  size_t b = a == std::string::npos ? a : bytes.find("</title>", a);
  if (b == std::string::npos) return std::wstring();
  return W(bytes.substr(a + 7, b - a - 7));
}

// Wine's browser control runs on Gecko, which is installed on its own; without
// it the control shows an empty page, so the painted banner is better.
bool WineWithoutGecko() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (!ntdll || !GetProcAddress(ntdll, "wine_get_version")) return false;
  wchar_t system[MAX_PATH] = {};
  GetSystemDirectoryW(system, MAX_PATH);
  for (std::wstring folder : {std::wstring(system) + L"\\gecko", std::wstring(L"Z:\\usr\\share\\wine\\gecko"),
                              std::wstring(L"Z:\\opt\\wine\\gecko")}) {
    WIN32_FIND_DATAW fd;
    FindHandle h(FindFirstFileW((folder + L"\\*").c_str(), &fd));
    if (!h) continue;
    bool found = false;
    do {
      std::wstring n = fd.cFileName;
      found = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && n != L"." && n != L".." && n != L"plugin";
    } while (!found && FindNextFileW(h.Get(), &fd));
    if (found) return false;
  }
  return true;
}

bool IsWebAddress(const std::string& a) {
  return a.compare(0, 7, "http://") == 0 || a.compare(0, 8, "https://") == 0 || a.compare(0, 2, "//") == 0;
}
}  // namespace

// One object answers for the client site, the in-place site and the frame.
class CBrowserSite : public IOleClientSite, public IOleInPlaceSite, public IOleInPlaceFrame {
 public:
  explicit CBrowserSite(HWND host) : m_host(host) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown || riid == IID_IOleClientSite)
      *out = static_cast<IOleClientSite*>(this);
    else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite)
      *out = static_cast<IOleInPlaceSite*>(this);
    else if (riid == IID_IOleInPlaceUIWindow || riid == IID_IOleInPlaceFrame)
      *out = static_cast<IOleInPlaceFrame*>(this);
    else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG r = --m_refs;
    if (!r) delete this;
    return r;
  }
  // IOleClientSite
  STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
  STDMETHODIMP GetContainer(IOleContainer** c) override {
    *c = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }
  // IOleWindow (shared by the site and the frame)
  STDMETHODIMP GetWindow(HWND* wnd) override {
    *wnd = m_host;
    return S_OK;
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  // IOleInPlaceSite
  STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnUIActivate() override { return S_OK; }
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos, LPRECT clip,
                                LPOLEINPLACEFRAMEINFO info) override {
    *frame = static_cast<IOleInPlaceFrame*>(this);
    AddRef();
    *doc = nullptr;
    GetClientRect(m_host, pos);
    GetClientRect(m_host, clip);
    info->fMDIApp = FALSE;
    info->hwndFrame = GetAncestor(m_host, GA_ROOT);
    info->haccel = nullptr;
    info->cAccelEntries = 0;
    return S_OK;
  }
  STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
  STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
  STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
  STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
  STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }
  // IOleInPlaceUIWindow / IOleInPlaceFrame: no toolbars, menus or accelerators.
  STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
  STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }
  STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return S_OK; }
  STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
  STDMETHODIMP RemoveMenus(HMENU) override { return S_OK; }
  STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
  STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
  STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

 private:
  virtual ~CBrowserSite() = default;
  HWND m_host;
  ULONG m_refs = 1;
};

void CExplorer1::DisableEngine(bool off) { g_engineOff = off; }

CExplorer1::~CExplorer1() {
  DestroyEngine();
  if (m_hWnd && IsWindow(m_hWnd)) {
    SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, 0);
    DestroyWindow(m_hWnd);
  }
}

bool CExplorer1::Create(const std::wstring& name, DWORD style, const RECT& r, HWND parent, UINT id) {
  HINSTANCE inst = GetModuleHandleW(nullptr);
  WNDCLASSW wc = {};
  wc.lpfnWndProc = WndProc;
  wc.hInstance = inst;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = kExplorerClass;
  RegisterClassW(&wc);
  m_hWnd = CreateWindowExW(0, kExplorerClass, name.c_str(), style | WS_CHILD | WS_CLIPCHILDREN, r.left, r.top,
                           r.right - r.left, r.bottom - r.top, parent,
                           reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), inst, nullptr);
  if (!m_hWnd) return false;
  SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  CreateEngine();  // without one the window paints its own banner
  return true;
}

// The engine is only asked for when its HTML library is present: asking a
// system without it may start an installer and block the program.
bool CExplorer1::CreateEngine() {
  if (g_engineOff || WineWithoutGecko()) return false;
  if (!ScopedLibrary(LoadLibraryW(L"mshtml.dll"))) return false;
  // The program starts OLE after its main window's first frame; an engine
  // made before then starts it for itself.
  if (!m_oleHeld) m_oleHeld = SUCCEEDED(OleInitialize(nullptr));
  if (FAILED(CoCreateInstance(kClsidWebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                              reinterpret_cast<void**>(&m_object))))
    return false;
  m_site = new CBrowserSite(m_hWnd);
  m_object->SetClientSite(static_cast<IOleClientSite*>(m_site));
  RECT rc;
  GetClientRect(m_hWnd, &rc);
  if (FAILED(m_object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, static_cast<IOleClientSite*>(m_site), 0, m_hWnd, &rc)) ||
      FAILED(m_object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&m_browser)))) {
    DestroyEngine();
    return false;
  }
  return true;
}

void CExplorer1::DestroyEngine() {
  if (m_browser) m_browser->Release();
  m_browser = nullptr;
  if (m_object) {
    m_object->Close(OLECLOSE_NOSAVE);
    m_object->SetClientSite(nullptr);
    m_object->Release();
  }
  m_object = nullptr;
  if (m_site) static_cast<IOleClientSite*>(m_site)->Release();
  m_site = nullptr;
  if (m_oleHeld) OleUninitialize();
  m_oleHeld = false;
}

void CExplorer1::Navigate(const std::string& address) {
  m_address = address;
  if (m_browser) {
    std::wstring w = W(address);
    VARIANTARG args[5];
    for (VARIANTARG& a : args) {
      VariantInit(&a);
      a.vt = VT_ERROR;
      a.scode = DISP_E_PARAMNOTFOUND;  // flags, target frame, post data, headers: left out
    }
    args[4].vt = VT_BSTR;  // arguments go in reverse order: the address is the first
    args[4].bstrVal = SysAllocString(w.c_str());
    DISPPARAMS params = {args, nullptr, 5, 0};
    m_browser->Invoke(kDispidNavigate, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
    SysFreeString(args[4].bstrVal);
    return;
  }
  m_title = IsWebAddress(address) ? W(address) : PageTitle(address);
  if (m_hWnd) InvalidateRect(m_hWnd, nullptr, TRUE);
}

void CExplorer1::PaintBanner(HDC dc) {
  RECT rc;
  GetClientRect(m_hWnd, &rc);
  TRIVERTEX v[2] = {{rc.left, rc.top, 0xF000, 0xF800, 0xFF00, 0}, {rc.right, rc.bottom, 0x3000, 0x6000, 0xA800, 0}};
  GRADIENT_RECT g = {0, 1};
  GradientFill(dc, v, 2, &g, 1, GRADIENT_FILL_RECT_H);
  SetBkMode(dc, TRANSPARENT);
  LOGFONTW lf = {};
  lf.lfHeight = -(rc.bottom - rc.top) / 3;
  lf.lfWeight = FW_BOLD;
  lf.lfCharSet = GB2312_CHARSET;
  lstrcpyW(lf.lfFaceName, L"SimSun");
  GdiFont font(CreateFontIndirectW(&lf));
  SelectIn fontIn(dc, font.Get());
  std::wstring text = m_title.empty() ? std::wstring(L"Qimbo\u6536\u85CF") : m_title;
  SetTextColor(dc, RGB(255, 255, 255));
  RECT shadow = rc;
  OffsetRect(&shadow, 1, 1);
  DrawTextW(dc, text.c_str(), -1, &shadow, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
  SetTextColor(dc, RGB(20, 50, 110));
  DrawTextW(dc, text.c_str(), -1, &rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
}

LRESULT CALLBACK CExplorer1::WndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<CExplorer1*>(GetWindowLongPtrW(wnd, GWLP_USERDATA));
  switch (msg) {
    case WM_PAINT: {
      PaintDc dc(wnd);
      if (self && !self->m_browser) self->PaintBanner(dc.Get());
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_SIZE:
      if (self && self->m_object) {
        IOleInPlaceObject* inplace = nullptr;
        if (SUCCEEDED(self->m_object->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inplace)))) {
          RECT rc;
          GetClientRect(wnd, &rc);
          inplace->SetObjectRects(&rc, &rc);
          inplace->Release();
        }
      }
      return 0;
  }
  return DefWindowProcW(wnd, msg, wParam, lParam);
}

}  // namespace qb
