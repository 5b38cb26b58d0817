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
//
// Every command that names a window first waits for it (default 10000 ms).
// Output is UTF-8. Exit status 0 when done, 1 when it failed (no such
// window in time, no such control, bad usage), with the reason on stderr.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr DWORD kDefaultTimeout = 10000;

std::string Utf8(const std::wstring& text) {
  const int size = static_cast<int>(text.size());
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(std::max(n, 0)), '\0');
  if (n > 0) ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, out.data(), n, nullptr, nullptr);
  return out;
}

int Write(DWORD handle, const std::string& text, int code = 0) {
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(handle), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  return code;
}

int Fail(const std::string& why) { return Write(STD_ERROR_HANDLE, "wine_driver: " + why + "\n", 1); }

std::string Json(const std::wstring& text) {
  std::string out = "\"";
  for (unsigned char c : Utf8(text)) {
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, c < 0x20 ? "\\u%04x" : c == '"' || c == '\\' ? "\\%c" : "%c", c);
    out += escaped;
  }
  return out + "\"";
}

// Sent with a time limit, so that a hung program cannot hold the driver.
LRESULT Send(HWND window, UINT message, WPARAM w, LPARAM l, bool* ok = nullptr) {
  DWORD_PTR result = 0;
  const LRESULT sent = ::SendMessageTimeoutW(window, message, w, l, SMTO_ABORTIFHUNG, 5000, &result);
  if (ok) *ok = sent != 0;
  return static_cast<LRESULT>(result);
}

// The text of a window of any process: WM_GETTEXT is carried across.
std::wstring TextOf(HWND window) {
  std::vector<wchar_t> buffer(static_cast<size_t>(Send(window, WM_GETTEXTLENGTH, 0, 0)) + 2, L'\0');
  const LRESULT copied = Send(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()));
  return std::wstring(buffer.data(), std::min<size_t>(copied, buffer.size() - 1));
}

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  return ::GetClassNameW(window, name, 256) ? name : L"";
}

// Visible top-level windows, or the controls of a window.
std::vector<HWND> Windows(HWND parent = nullptr) {
  std::vector<HWND> all;
  for (HWND w = nullptr; (w = ::FindWindowExW(parent, w, nullptr, nullptr)) != nullptr;)
    if (parent || ::IsWindowVisible(w)) all.push_back(w);
  return all;
}

// Waits until a window of the title is shown (or, with gone, none is).
HWND WaitFor(const wchar_t* title, DWORD timeout, bool gone) {
  for (const ULONGLONG end = ::GetTickCount64() + timeout;; ::Sleep(50)) {
    HWND found = nullptr;
    for (HWND window : Windows()) {
      wchar_t text[1024] = {};
      ::GetWindowTextW(window, text, 1024);
      if (!found && std::wcscmp(text, title) == 0) found = window;
    }
    if ((found != nullptr) != gone || ::GetTickCount64() >= end) return found;
  }
}

std::string Describe(HWND window) {
  char head[64];
  std::snprintf(head, sizeof head, "{\"id\":%d,\"enabled\":%d", ::GetDlgCtrlID(window),
                ::IsWindowEnabled(window) ? 1 : 0);
  const std::wstring kind = ClassOf(window);
  std::string out = head + (",\"class\":" + Json(kind)) + ",\"text\":" + Json(TextOf(window));
  if (_wcsicmp(kind.c_str(), L"Button") == 0) {
    out += ",\"checked\":" + std::to_string(Send(window, BM_GETCHECK, 0, 0));
  } else if (_wcsicmp(kind.c_str(), L"ComboBox") == 0) {
    out += ",\"selected\":" + std::to_string(Send(window, CB_GETCURSEL, 0, 0)) + ",\"items\":[";
    // The list's own process copies each string across for these messages.
    for (LRESULT i = 0, count = Send(window, CB_GETCOUNT, 0, 0); i < count && i < 1000; ++i) {
      std::vector<wchar_t> item(static_cast<size_t>(std::max<LRESULT>(0, Send(window, CB_GETLBTEXTLEN, i, 0))) + 2);
      Send(window, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item.data()));
      if (i) out += ',';
      out += Json(item.data());
    }
    out += "]";
  } else if (_wcsicmp(kind.c_str(), L"msctls_progress32") == 0) {
    out += ",\"position\":" + std::to_string(Send(window, PBM_GETPOS, 0, 0));
  }
  return out + "}";
}

std::string Top(HWND window) {  // a top-level window's title and class, without the closing brace
  return "{\"title\":" + Json(TextOf(window)) + ",\"class\":" + Json(ClassOf(window));
}

// Tells a control's dialog what a user's change would have told it.
int Notify(HWND control, WORD code) {
  return ::PostMessageW(::GetParent(control), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(control), code),
                        reinterpret_cast<LPARAM>(control))
             ? 0
             : Fail("the notification was not posted");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  const auto usage = [] { return Fail("usage: see the head of wine_driver.cpp"); };
  if (command == L"windows") {
    std::string out;
    for (HWND w : Windows()) out.append(",").append(Top(w)).append("}");
    return Write(STD_OUTPUT_HANDLE, std::string("[").append(out, out.empty() ? 0 : 1).append("]\n"));
  }
  if (argc < 3) return usage();

  const bool timed = command == L"list" || command == L"gone";
  const DWORD timeout = timed && argc > 3 ? static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10)) : kDefaultTimeout;
  HWND window = WaitFor(argv[2], timeout, command == L"gone");
  if (command == L"gone") return window ? Fail("the window is still shown") : 0;
  if (!window) return Fail("no window \"" + Utf8(argv[2]) + "\"");
  if (command == L"list") {
    HWND owner = ::GetWindow(window, GW_OWNER);
    std::string controls;
    for (HWND child : Windows(window)) controls.append(",").append(Describe(child));
    return Write(STD_OUTPUT_HANDLE, Top(window) + ",\"hwnd\":" + std::to_string(reinterpret_cast<uintptr_t>(window)) +
                                        ",\"owner\":" + (owner ? Json(TextOf(owner)) : std::string("null")) +
                                        ",\"controls\":[" + controls.substr(controls.empty() ? 0 : 1) + "]}\n");
  }
  if (command == L"close") return ::PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : Fail("WM_CLOSE was not posted");

  const int id = argc > 3 ? static_cast<int>(std::wcstol(argv[3], nullptr, 10)) : 0;
  HWND control = nullptr;
  for (HWND child : Windows(window))
    if (!control && ::GetDlgCtrlID(child) == id) control = child;
  if (!control) return Fail("no control " + std::to_string(id));
  // Posted, so that a box the press opens cannot hold the driver.
  if (command == L"click") return ::PostMessageW(control, BM_CLICK, 0, 0) ? 0 : Fail("BM_CLICK was not posted");

  if (argc < 5) return usage();
  const long argument = std::wcstol(argv[4], nullptr, 10);
  bool ok = false;
  if (command == L"settext") {
    // WM_SETTEXT carries its string across processes.
    Send(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[4]), &ok);
    return ok ? Notify(control, EN_CHANGE) : Fail("WM_SETTEXT failed");
  }
  if (command == L"check") {
    Send(control, BM_SETCHECK, argument ? BST_CHECKED : BST_UNCHECKED, 0);
    return Notify(control, BN_CLICKED);
  }
  if (command == L"select")
    return Send(control, CB_SETCURSEL, argument, 0) == CB_ERR ? Fail("no such item") : Notify(control, CBN_SELCHANGE);
  return usage();
}
