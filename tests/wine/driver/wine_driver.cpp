// The Wine tests' driver: a small console program that finds another
// program's top-level window by its exact title, reads its controls, types
// into them and presses them, the way UI automation does on Windows.
//
//   wine_driver list TITLE [TIMEOUT_MS]         the window and its controls, as JSON
//   wine_driver gone TITLE [TIMEOUT_MS]         wait until no such window is shown
//   wine_driver windows                         every visible top-level window, as JSON
//   wine_driver settext TITLE ID TEXT           set a control's text (WM_SETTEXT)
//   wine_driver click TITLE ID                  press a button (BM_CLICK)
//   wine_driver check TITLE ID 0|1              set a check box and tell its owner
//   wine_driver select TITLE ID INDEX           choose a combo box item and tell its owner
//   wine_driver close TITLE                     ask the window to close (WM_CLOSE)
//   wine_driver version PATH                    the version block's strings, as JSON
//
// Every command that names a window first waits for it (default 10000 ms).
// Output is UTF-8. Exit status: 0 done, 1 no such window (in time), 2 no
// such control, 3 bad usage, 4 the request failed.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr DWORD kDefaultTimeout = 10000;
constexpr UINT kMessageTimeout = 5000;

enum Exit { kDone = 0, kNoWindow = 1, kNoControl = 2, kUsage = 3, kFailed = 4 };

std::string Utf8(const std::wstring& text) {
  const int size = static_cast<int>(text.size());
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(std::max(n, 0)), '\0');
  if (n > 0) ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, out.data(), n, nullptr, nullptr);
  return out;
}

int Write(DWORD handle, const std::string& text, int code = kDone) {
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(handle), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  return code;
}

int Error(const std::string& text, int code) { return Write(STD_ERROR_HANDLE, "wine_driver: " + text + "\n", code); }

std::string Json(const std::wstring& text) {
  std::string out = "\"";
  for (unsigned char c : Utf8(text)) {
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, c < 0x20 ? "\\u%04x" : c == '"' || c == '\\' ? "\\%c" : "%c", c);
    out += escaped;
  }
  return out + "\"";
}

LRESULT Send(HWND window, UINT message, WPARAM w, LPARAM l, bool* ok = nullptr) {
  DWORD_PTR result = 0;
  LRESULT sent = ::SendMessageTimeoutW(window, message, w, l, SMTO_ABORTIFHUNG, kMessageTimeout, &result);
  if (ok) *ok = sent != 0;
  return static_cast<LRESULT>(result);
}

// The text of a window of any process: WM_GETTEXT is carried across.
std::wstring TextOf(HWND window) {
  bool ok = false;
  const LRESULT length = Send(window, WM_GETTEXTLENGTH, 0, 0, &ok);
  if (!ok) return {};
  std::vector<wchar_t> buffer(static_cast<size_t>(length) + 2, L'\0');
  const LRESULT copied = Send(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()), &ok);
  return ok ? std::wstring(buffer.data(), std::min<size_t>(copied, buffer.size() - 1)) : std::wstring();
}

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  ::GetClassNameW(window, name, 256);
  return name;
}

bool ClassIs(HWND window, const wchar_t* name) { return _wcsicmp(ClassOf(window).c_str(), name) == 0; }

// Visible top-level windows, or every child of a window.
std::vector<HWND> Windows(HWND parent = nullptr) {
  std::vector<HWND> all;
  auto collect = [](HWND window, LPARAM data) -> BOOL {
    reinterpret_cast<std::vector<HWND>*>(data)->push_back(window);
    return TRUE;
  };
  if (parent) {
    ::EnumChildWindows(parent, collect, reinterpret_cast<LPARAM>(&all));
  } else {
    ::EnumWindows(collect, reinterpret_cast<LPARAM>(&all));
    std::erase_if(all, [](HWND w) { return !::IsWindowVisible(w); });
  }
  return all;
}

HWND FindShown(const wchar_t* title) {
  for (HWND window : Windows()) {
    wchar_t text[1024] = {};
    ::GetWindowTextW(window, text, 1024);
    if (std::wcscmp(text, title) == 0) return window;
  }
  return nullptr;
}

// Waits until a window of the title is shown (or, with gone, none is).
HWND WaitFor(const wchar_t* title, DWORD timeout, bool gone = false) {
  const ULONGLONG end = ::GetTickCount64() + timeout;
  for (;;) {
    HWND window = FindShown(title);
    if ((window != nullptr) != gone || ::GetTickCount64() >= end) return window;
    ::Sleep(50);
  }
}

std::string Describe(HWND window) {
  RECT r = {};
  ::GetWindowRect(window, &r);
  std::string out = "{\"id\":" + std::to_string(::GetDlgCtrlID(window)) + ",\"class\":" + Json(ClassOf(window)) +
                    ",\"text\":" + Json(TextOf(window)) +
                    ",\"visible\":" + (::IsWindowVisible(window) ? "true" : "false") +
                    ",\"enabled\":" + (::IsWindowEnabled(window) ? "true" : "false") + ",\"rect\":[" +
                    std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
                    std::to_string(r.bottom) + "]";
  if (ClassIs(window, L"Button")) {
    out += ",\"checked\":" + std::to_string(Send(window, BM_GETCHECK, 0, 0));
  } else if (ClassIs(window, L"ComboBox")) {
    out += ",\"selected\":" + std::to_string(Send(window, CB_GETCURSEL, 0, 0)) + ",\"items\":[";
    // The list's own process copies each string across for these messages.
    for (LRESULT i = 0, count = Send(window, CB_GETCOUNT, 0, 0); i < count && i < 1000; ++i) {
      std::vector<wchar_t> item(static_cast<size_t>(std::max<LRESULT>(0, Send(window, CB_GETLBTEXTLEN, i, 0))) + 2);
      Send(window, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item.data()));
      out += (i ? "," : "") + Json(item.data());
    }
    out += "]";
  } else if (ClassIs(window, L"msctls_progress32")) {
    out += ",\"position\":" + std::to_string(Send(window, PBM_GETPOS, 0, 0));
  }
  return out + "}";
}

int List(HWND window) {
  HWND owner = ::GetWindow(window, GW_OWNER);
  std::string controls;
  for (HWND child : Windows(window)) controls += "," + Describe(child);
  return Write(STD_OUTPUT_HANDLE, "{\"title\":" + Json(TextOf(window)) + ",\"class\":" + Json(ClassOf(window)) +
                                      ",\"hwnd\":" + std::to_string(reinterpret_cast<uintptr_t>(window)) +
                                      ",\"owner\":" + (owner ? Json(TextOf(owner)) : std::string("null")) +
                                      ",\"controls\":[" + controls.substr(controls.empty() ? 0 : 1) + "]}\n");
}

int ListWindows() {
  std::string out;
  for (HWND w : Windows()) out += ",{\"title\":" + Json(TextOf(w)) + ",\"class\":" + Json(ClassOf(w)) + "}";
  return Write(STD_OUTPUT_HANDLE, "[" + out.substr(out.empty() ? 0 : 1) + "]\n");
}

// Tells a control's dialog what a user's change would have told it.
int Notify(HWND control, WORD code) {
  ::PostMessageW(::GetParent(control), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(control), code),
                 reinterpret_cast<LPARAM>(control));
  return kDone;
}

int Version(const wchar_t* path) {
  DWORD ignored = 0;
  std::vector<char> block(::GetFileVersionInfoSizeW(path, &ignored));
  void* value = nullptr;
  UINT length = 0;
  if (block.empty() || !::GetFileVersionInfoW(path, 0, static_cast<DWORD>(block.size()), block.data()) ||
      !::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length) || length < 4)
    return Error("no version block", kFailed);
  const WORD* translation = static_cast<const WORD*>(value);
  wchar_t prefix[64];
  std::swprintf(prefix, 64, L"\\StringFileInfo\\%04x%04x\\", translation[0], translation[1]);
  std::string out = "{";
  for (const wchar_t* name : {L"FileDescription", L"FileVersion", L"InternalName", L"OriginalFilename"}) {
    if (::VerQueryValueW(block.data(), (std::wstring(prefix) + name).c_str(), &value, &length) && length > 0)
      out += Json(name) + ":" + Json(std::wstring(static_cast<const wchar_t*>(value)).substr(0, length)) + ",";
  }
  VS_FIXEDFILEINFO* fixed = nullptr;
  if (!::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || !fixed)
    return Error("no fixed version", kFailed);
  out += "\"fileVersion\":[" + std::to_string(HIWORD(fixed->dwFileVersionMS)) + "," +
         std::to_string(LOWORD(fixed->dwFileVersionMS)) + "," + std::to_string(HIWORD(fixed->dwFileVersionLS)) +
         "," + std::to_string(LOWORD(fixed->dwFileVersionLS)) + "]";
  return Write(STD_OUTPUT_HANDLE, out + "}\n");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  const auto usage = [] { return Error("usage: see the head of wine_driver.cpp", kUsage); };
  if (command == L"windows") return ListWindows();
  if (argc < 3) return usage();
  if (command == L"version") return Version(argv[2]);

  const wchar_t* title = argv[2];
  const bool timed = command == L"list" || command == L"gone";
  const DWORD timeout = timed && argc > 3 ? static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10)) : kDefaultTimeout;
  HWND window = WaitFor(title, timeout, command == L"gone");
  if (command == L"gone") return window ? Error("the window is still shown", kFailed) : kDone;
  if (!window) return Error("no window \"" + Utf8(title) + "\"", kNoWindow);
  if (command == L"list") return List(window);
  if (command == L"close") return ::PostMessageW(window, WM_CLOSE, 0, 0) ? kDone : kFailed;

  if (argc < 4) return usage();
  const int id = static_cast<int>(std::wcstol(argv[3], nullptr, 10));
  HWND control = nullptr;
  for (HWND child : Windows(window))
    if (!control && ::GetDlgCtrlID(child) == id) control = child;
  if (!control) return Error("no control " + std::to_string(id), kNoControl);
  // Posted, so that a box the press opens cannot hold the driver.
  if (command == L"click") return ::PostMessageW(control, BM_CLICK, 0, 0) ? kDone : kFailed;

  if (argc < 5) return usage();
  const long argument = std::wcstol(argv[4], nullptr, 10);
  bool ok = false;
  if (command == L"settext") {
    // WM_SETTEXT carries its string across processes.
    Send(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[4]), &ok);
    return ok ? Notify(control, EN_CHANGE) : kFailed;
  }
  if (command == L"check") {
    Send(control, BM_SETCHECK, argument ? BST_CHECKED : BST_UNCHECKED, 0);
    return Notify(control, BN_CLICKED);
  }
  if (command == L"select")
    return Send(control, CB_SETCURSEL, argument, 0) == CB_ERR ? kFailed : Notify(control, CBN_SELCHANGE);
  return usage();
}
