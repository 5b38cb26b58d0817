// The Wine tests' driver: a small console program that finds another
// program's top-level window by its exact title, reads its controls, types
// into them and presses them, the way UI automation does on Windows.
//
//   wine_driver wait TITLE [TIMEOUT_MS]         wait until the window is shown
//   wine_driver gone TITLE [TIMEOUT_MS]         wait until no such window is shown
//   wine_driver list TITLE [TIMEOUT_MS]         the window and its controls, as JSON
//   wine_driver windows                         every visible top-level window, as JSON
//   wine_driver settext TITLE ID TEXT           set a control's text (WM_SETTEXT)
//   wine_driver click TITLE ID                  press a button (BM_CLICK)
//   wine_driver check TITLE ID 0|1              set a check box and tell its owner
//   wine_driver select TITLE ID INDEX           choose a combo or list box item and tell its owner
//   wine_driver close TITLE                     ask the window to close (WM_CLOSE)
//   wine_driver version PATH                    the version block's strings, as JSON
//
// Every command that names a window first waits for it (default 10000 ms).
// Output is UTF-8. Exit status: 0 done, 1 no such window (in time), 2 no
// such control, 3 bad usage, 4 the request failed.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr DWORD kDefaultTimeout = 10000;
constexpr UINT kMessageTimeout = 5000;

enum Exit { kDone = 0, kNoWindow = 1, kNoControl = 2, kUsage = 3, kFailed = 4 };

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0)
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                          nullptr, nullptr);
  return out;
}

void Print(const std::string& text) {
  DWORD written = 0;
  HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  ::WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void Error(const std::string& text) {
  DWORD written = 0;
  std::string line = "wine_driver: " + text + "\n";
  ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written,
              nullptr);
}

std::string Json(const std::wstring& text) {
  std::string out = "\"";
  for (unsigned char c : Utf8(text)) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

// The text of a window of any process: WM_GETTEXT is carried across.
std::wstring TextOf(HWND window) {
  DWORD_PTR length = 0;
  if (!::SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeout, &length))
    return {};
  std::vector<wchar_t> buffer(length + 2, L'\0');
  DWORD_PTR copied = 0;
  if (!::SendMessageTimeoutW(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                             SMTO_ABORTIFHUNG, kMessageTimeout, &copied))
    return {};
  return std::wstring(buffer.data(), copied < buffer.size() ? copied : buffer.size() - 1);
}

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  ::GetClassNameW(window, name, 256);
  return name;
}

struct Search {
  const wchar_t* title;
  HWND found;
};

BOOL CALLBACK MatchTitle(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<Search*>(data);
  if (!::IsWindowVisible(window)) return TRUE;
  wchar_t text[1024] = {};
  ::GetWindowTextW(window, text, 1024);
  if (std::wcscmp(text, search->title) == 0) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

HWND FindShown(const wchar_t* title) {
  Search search{title, nullptr};
  ::EnumWindows(MatchTitle, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND WaitForWindow(const wchar_t* title, DWORD timeout) {
  const ULONGLONG end = ::GetTickCount64() + timeout;
  for (;;) {
    if (HWND window = FindShown(title)) return window;
    if (::GetTickCount64() >= end) return nullptr;
    ::Sleep(50);
  }
}

DWORD Timeout(int argc, wchar_t** argv, int index) {
  return argc > index ? static_cast<DWORD>(std::wcstoul(argv[index], nullptr, 10)) : kDefaultTimeout;
}

struct Controls {
  std::vector<HWND> all;
};

BOOL CALLBACK CollectChild(HWND window, LPARAM data) {
  reinterpret_cast<Controls*>(data)->all.push_back(window);
  return TRUE;
}

std::vector<HWND> ChildrenOf(HWND window) {
  Controls controls;
  ::EnumChildWindows(window, CollectChild, reinterpret_cast<LPARAM>(&controls));
  return controls.all;
}

HWND ControlById(HWND window, int id) {
  for (HWND child : ChildrenOf(window))
    if (::GetDlgCtrlID(child) == id) return child;
  return nullptr;
}

bool ClassIs(HWND window, const wchar_t* name) { return _wcsicmp(ClassOf(window).c_str(), name) == 0; }

LRESULT Send(HWND window, UINT message, WPARAM w, LPARAM l) {
  DWORD_PTR result = 0;
  ::SendMessageTimeoutW(window, message, w, l, SMTO_ABORTIFHUNG, kMessageTimeout, &result);
  return static_cast<LRESULT>(result);
}

// The items of a combo box or list box, for the JSON listing.
std::string ItemsOf(HWND control, bool combo) {
  const UINT countMessage = combo ? CB_GETCOUNT : LB_GETCOUNT;
  const UINT lengthMessage = combo ? CB_GETLBTEXTLEN : LB_GETTEXTLEN;
  const UINT textMessage = combo ? CB_GETLBTEXT : LB_GETTEXT;
  LRESULT count = Send(control, countMessage, 0, 0);
  std::string out = "[";
  for (LRESULT i = 0; i < count && i < 1000; ++i) {
    LRESULT length = Send(control, lengthMessage, static_cast<WPARAM>(i), 0);
    std::vector<wchar_t> buffer(static_cast<size_t>(length > 0 ? length : 0) + 2, L'\0');
    // The list's own process copies the text; strings cross process lines
    // for these messages in Wine and Windows alike.
    Send(control, textMessage, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buffer.data()));
    if (i) out += ",";
    out += Json(buffer.data());
  }
  return out + "]";
}

std::string Describe(HWND window) {
  RECT r = {};
  ::GetWindowRect(window, &r);
  std::string out = "{\"id\":" + std::to_string(::GetDlgCtrlID(window)) +
                    ",\"class\":" + Json(ClassOf(window)) + ",\"text\":" + Json(TextOf(window)) +
                    ",\"visible\":" + (::IsWindowVisible(window) ? "true" : "false") +
                    ",\"enabled\":" + (::IsWindowEnabled(window) ? "true" : "false") +
                    ",\"rect\":[" + std::to_string(r.left) + "," + std::to_string(r.top) + "," +
                    std::to_string(r.right) + "," + std::to_string(r.bottom) + "]";
  if (ClassIs(window, L"Button")) {
    out += ",\"checked\":" + std::to_string(Send(window, BM_GETCHECK, 0, 0));
  } else if (ClassIs(window, L"ComboBox")) {
    out += ",\"selected\":" + std::to_string(Send(window, CB_GETCURSEL, 0, 0));
    out += ",\"items\":" + ItemsOf(window, true);
  } else if (ClassIs(window, L"ListBox")) {
    out += ",\"selected\":" + std::to_string(Send(window, LB_GETCURSEL, 0, 0));
    out += ",\"items\":" + ItemsOf(window, false);
  } else if (ClassIs(window, L"msctls_progress32")) {
    out += ",\"position\":" + std::to_string(Send(window, PBM_GETPOS, 0, 0));
    out += ",\"range\":" + std::to_string(Send(window, PBM_GETRANGE, FALSE, 0));
  }
  return out + "}";
}

int List(HWND window) {
  DWORD process = 0;
  ::GetWindowThreadProcessId(window, &process);
  HWND owner = ::GetWindow(window, GW_OWNER);
  std::string out = "{\"title\":" + Json(TextOf(window)) + ",\"class\":" + Json(ClassOf(window)) +
                    ",\"hwnd\":" + std::to_string(reinterpret_cast<uintptr_t>(window)) +
                    ",\"process\":" + std::to_string(process) +
                    ",\"owner\":" + (owner ? Json(TextOf(owner)) : std::string("null")) + ",\"controls\":[";
  bool first = true;
  for (HWND child : ChildrenOf(window)) {
    if (!first) out += ",";
    first = false;
    out += Describe(child);
  }
  Print(out + "]}\n");
  return kDone;
}

BOOL CALLBACK CollectShown(HWND window, LPARAM data) {
  if (::IsWindowVisible(window)) reinterpret_cast<Controls*>(data)->all.push_back(window);
  return TRUE;
}

int ListWindows() {
  Controls shown;
  ::EnumWindows(CollectShown, reinterpret_cast<LPARAM>(&shown));
  std::string out = "[";
  for (size_t i = 0; i < shown.all.size(); ++i) {
    if (i) out += ",";
    out += "{\"title\":" + Json(TextOf(shown.all[i])) + ",\"class\":" + Json(ClassOf(shown.all[i])) + "}";
  }
  Print(out + "]\n");
  return kDone;
}

// Tells a control's dialog what a user's change would have told it.
void Notify(HWND control, WORD code) {
  HWND parent = ::GetParent(control);
  const int id = ::GetDlgCtrlID(control);
  ::PostMessageW(parent, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(control));
}

int Version(const wchar_t* path) {
  DWORD ignored = 0;
  DWORD size = ::GetFileVersionInfoSizeW(path, &ignored);
  if (size == 0) {
    Error("no version block");
    return kFailed;
  }
  std::vector<char> block(size);
  if (!::GetFileVersionInfoW(path, 0, size, block.data())) return kFailed;
  struct Translation {
    WORD language, codePage;
  };
  void* value = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length) ||
      length < sizeof(Translation)) {
    Error("no translation");
    return kFailed;
  }
  const auto* first = static_cast<const Translation*>(value);
  wchar_t prefix[64];
  std::swprintf(prefix, 64, L"\\StringFileInfo\\%04x%04x\\", first->language, first->codePage);
  std::string out = "{\"translation\":[" + std::to_string(first->language) + "," +
                    std::to_string(first->codePage) + "]";
  for (const wchar_t* name : {L"CompanyName", L"FileDescription", L"FileVersion", L"InternalName",
                              L"LegalCopyright", L"OriginalFilename", L"ProductName", L"ProductVersion"}) {
    std::wstring query = std::wstring(prefix) + name;
    if (::VerQueryValueW(block.data(), query.c_str(), &value, &length) && length > 0) {
      std::wstring text(static_cast<const wchar_t*>(value), length);
      if (size_t end = text.find(L'\0'); end != std::wstring::npos) text.resize(end);
      out += "," + Json(name) + ":" + Json(text);
    }
  }
  VS_FIXEDFILEINFO* fixed = nullptr;
  if (::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) && fixed) {
    out += ",\"fileVersion\":[" + std::to_string(HIWORD(fixed->dwFileVersionMS)) + "," +
           std::to_string(LOWORD(fixed->dwFileVersionMS)) + "," +
           std::to_string(HIWORD(fixed->dwFileVersionLS)) + "," +
           std::to_string(LOWORD(fixed->dwFileVersionLS)) + "]";
  }
  Print(out + "}\n");
  return kDone;
}

int Usage() {
  Error("usage: wait|gone|list TITLE [MS] | windows | settext TITLE ID TEXT | click TITLE ID | "
        "check TITLE ID 0|1 | select TITLE ID INDEX | close TITLE | version PATH");
  return kUsage;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return Usage();
  const std::wstring command = argv[1];
  if (command == L"windows") return ListWindows();
  if (argc < 3) return Usage();
  if (command == L"version") return Version(argv[2]);

  const wchar_t* title = argv[2];
  if (command == L"gone") {
    const ULONGLONG end = ::GetTickCount64() + Timeout(argc, argv, 3);
    while (FindShown(title)) {
      if (::GetTickCount64() >= end) {
        Error("the window is still shown");
        return kFailed;
      }
      ::Sleep(50);
    }
    return kDone;
  }

  const bool timed = command == L"wait" || command == L"list";
  HWND window = WaitForWindow(title, timed ? Timeout(argc, argv, 3) : kDefaultTimeout);
  if (!window) {
    Error("no window \"" + Utf8(title) + "\"");
    return kNoWindow;
  }
  if (command == L"wait") return kDone;
  if (command == L"list") return List(window);
  if (command == L"close") return ::PostMessageW(window, WM_CLOSE, 0, 0) ? kDone : kFailed;

  if (argc < 4) return Usage();
  const int id = static_cast<int>(std::wcstol(argv[3], nullptr, 10));
  HWND control = ControlById(window, id);
  if (!control) {
    Error("no control " + std::to_string(id));
    return kNoControl;
  }
  if (command == L"click") {
    // Posted, so that a box the press opens cannot hold the driver.
    return ::PostMessageW(control, BM_CLICK, 0, 0) ? kDone : kFailed;
  }
  if (argc < 5) return Usage();
  if (command == L"settext") {
    // WM_SETTEXT carries its string across processes.
    if (!::SendMessageTimeoutW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[4]), SMTO_ABORTIFHUNG,
                               kMessageTimeout, nullptr))
      return kFailed;
    Notify(control, EN_CHANGE);
    return kDone;
  }
  if (command == L"check") {
    const bool on = std::wcstol(argv[4], nullptr, 10) != 0;
    Send(control, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
    Notify(control, BN_CLICKED);
    return kDone;
  }
  if (command == L"select") {
    const WPARAM index = static_cast<WPARAM>(std::wcstol(argv[4], nullptr, 10));
    if (ClassIs(control, L"ComboBox")) {
      if (Send(control, CB_SETCURSEL, index, 0) == CB_ERR) return kFailed;
      Notify(control, CBN_SELCHANGE);
    } else {
      if (Send(control, LB_SETCURSEL, index, 0) == LB_ERR) return kFailed;
      Notify(control, LBN_SELCHANGE);
    }
    return kDone;
  }
  return Usage();
}
