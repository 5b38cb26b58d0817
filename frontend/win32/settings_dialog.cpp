// The settings dialog (resource 129): the window side of SettingsForm. The
// controls are read into the form and written from it; the rules and the
// apply step are the form's.
#include "platform/win32/windows_api.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/associations.h"
#include "frontend/program_services.h"
#include "common/display_text.h"
#include "config/settings_form.h"
#include "platform/platform.h"
#include "platform/win32/wide_text.h"
#include "frontend/win32/gradient_label_win.h"

namespace quindo {

namespace {

constexpr int kDialogId = 129;
constexpr int kIconId = 128;
constexpr UINT_PTR kLinkSubclassId = 0x4C494E4B;  // 'LINK'

// --- the hyperlink ----------------------------------------------------------

struct Hyperlink {
  std::string target;
  COLORREF normal = RGB(0, 0, 255);
  COLORREF visited = RGB(128, 0, 128);
  bool wasVisited = false;
  HFONT underlined = nullptr;
  HWND tooltip = nullptr;
};

// "R,G,B" as the browser settings store it.
bool ParseColour(const char* text, COLORREF& colour) {
  int r, g, b;
  char extra;
  if (std::sscanf(text, "%d,%d,%d%c", &r, &g, &b, &extra) != 3) return false;
  if (r < 0 || r > 255 || g < 0 || g > 255 || b < 0 || b > 255) return false;
  colour = RGB(r, g, b);
  return true;
}

void ReadLinkColours(Hyperlink& link) {
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Internet Explorer\\Settings", 0, KEY_QUERY_VALUE,
                      &key) != ERROR_SUCCESS)
    return;
  auto read = [&](const char* name, COLORREF& colour) {
    char text[64] = {};
    DWORD size = sizeof text - 1;
    DWORD type = 0;
    if (::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) == ERROR_SUCCESS &&
        type == REG_SZ)
      ParseColour(text, colour);
  };
  read("Anchor Color", link.normal);
  read("Anchor Color Visited", link.visited);
  ::RegCloseKey(key);
}

void PaintLink(HWND control, Hyperlink& link) {
  PAINTSTRUCT ps;
  HDC dc = ::BeginPaint(control, &ps);
  if (!link.underlined) {
    HFONT font = reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0));
    LOGFONTW lf = {};
    if (font && ::GetObjectW(font, sizeof lf, &lf)) {
      lf.lfUnderline = TRUE;
      link.underlined = ::CreateFontIndirectW(&lf);
    }
  }
  HGDIOBJ old = link.underlined ? ::SelectObject(dc, link.underlined) : nullptr;
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, link.wasVisited ? link.visited : link.normal);
  RECT client;
  ::GetClientRect(control, &client);
  wchar_t text[256];
  const int length = ::GetWindowTextW(control, text, 256);
  const LONG style = ::GetWindowLongW(control, GWL_STYLE);
  const UINT align = (style & SS_TYPEMASK) == SS_RIGHT ? DT_RIGHT : (style & SS_TYPEMASK) == SS_CENTER ? DT_CENTER : DT_LEFT;
  ::DrawTextW(dc, text, length, &client, align | DT_SINGLELINE | DT_NOPREFIX);
  if (old) ::SelectObject(dc, old);
  ::EndPaint(control, &ps);
}

// --- the help file ------------------------------------------------------------

// quindo.chm beside the program; empty when the program's path is unknown.
std::string HelpFilePath() {
  const std::string program = platform::ProgramPath();
  // UTF-8: no byte of a multibyte character is a separator.
  const size_t sep = program.find_last_of("\\/");
  if (sep == std::string::npos) return {};
  return program.substr(0, sep + 1) + form_text::kHelpFile;
}

// Where the link goes: the product's page, or the help file's start page.
std::string LinkTarget() {
  if (*form_text::kLinkTarget) return form_text::kLinkTarget;
  return HelpFilePath() + "::/" + form_text::kHelpStartPage;
}

bool IsHelpTopic(const std::string& target) { return target.find("::/") != std::string::npos; }

// Opens the help viewer (HtmlHelpW of hhctrl.ocx, loaded only when asked
// for) on a file or a "file::/page" topic; true when a viewer window came up.
bool OpenHelp(HWND caller, const std::string& target, UINT command) {
  HMODULE viewer = ::LoadLibraryA("hhctrl.ocx");
  if (!viewer) return false;
  using HtmlHelpFunction = HWND(WINAPI*)(HWND, LPCWSTR, UINT, DWORD_PTR);
  auto htmlHelp = reinterpret_cast<HtmlHelpFunction>(reinterpret_cast<void*>(::GetProcAddress(viewer, "HtmlHelpW")));
  // The viewer stays loaded while its window may be open.
  return htmlHelp && htmlHelp(caller, Widen(target).c_str(), command, 0) != nullptr;
}

constexpr UINT kDisplayTopic = 0x0000;  // HH_DISPLAY_TOPIC
constexpr UINT kDisplayToc = 0x0001;    // HH_DISPLAY_TOC

LRESULT CALLBACK LinkProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR data) {
  auto* link = reinterpret_cast<Hyperlink*>(data);
  switch (message) {
    case WM_NCHITTEST:
      return HTCLIENT;
    case WM_SETCURSOR:
      ::SetCursor(::LoadCursorW(nullptr, MAKEINTRESOURCEW(32649)));  // IDC_HAND
      return TRUE;
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      PaintLink(window, *link);
      return 0;
    case WM_LBUTTONUP: {
      const bool opened =
          IsHelpTopic(link->target)
              ? OpenHelp(::GetParent(window), link->target, kDisplayTopic)
              : reinterpret_cast<INT_PTR>(::ShellExecuteW(::GetParent(window), L"open", Widen(link->target).c_str(),
                                                          nullptr, nullptr, SW_SHOWNORMAL)) > 32;
      if (opened) {
        link->wasVisited = true;
        // The label under the link repaints first, so the new colour is not
        // drawn over the old one.
        RECT area;
        ::GetWindowRect(window, &area);
        ::MapWindowPoints(nullptr, ::GetParent(window), reinterpret_cast<POINT*>(&area), 2);
        ::RedrawWindow(::GetParent(window), &area, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
      }
      return 0;
    }
    case WM_NCDESTROY:
      ::RemoveWindowSubclass(window, LinkProc, id);
      if (link->underlined) ::DeleteObject(link->underlined);
      if (link->tooltip) ::DestroyWindow(link->tooltip);
      delete link;
      break;
  }
  return ::DefSubclassProc(window, message, wParam, lParam);
}

void AttachHyperlink(HWND control, std::string_view label, const std::string& target) {
  if (!control) return;
  auto* link = new Hyperlink;
  link->target = target;
  ReadLinkColours(*link);
  SetUtf8Text(control, label);
  if (!::SetWindowSubclass(control, LinkProc, kLinkSubclassId, reinterpret_cast<DWORD_PTR>(link))) {
    delete link;
    return;
  }
  HWND dialog = ::GetParent(control);
  link->tooltip = ::CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                    CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, dialog, nullptr,
                                    ::GetModuleHandleW(nullptr), nullptr);
  if (link->tooltip) {
    std::wstring tip = Widen(target);
    TOOLINFOW info = {};
    info.cbSize = sizeof info;
    info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    info.hwnd = dialog;
    info.uId = reinterpret_cast<UINT_PTR>(control);
    info.lpszText = tip.data();
    ::SendMessageW(link->tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
  }
  ::InvalidateRect(control, nullptr, TRUE);
}

// --- the folder browser and the associations ---------------------------------

class ShellFolderPicker final : public FolderPicker {
 public:
  bool PickFolder(const char* title, std::string& folder) override {
    std::wstring caption = Widen(title);
    BROWSEINFOW info = {};
    info.hwndOwner = ::GetActiveWindow();
    info.lpszTitle = caption.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    PIDLIST_ABSOLUTE list = ::SHBrowseForFolderW(&info);
    if (!list) return false;
    wchar_t path[MAX_PATH] = {};
    bool ok = ::SHGetPathFromIDListW(list, path) != FALSE;
    IMalloc* allocator = nullptr;
    if (SUCCEEDED(::SHGetMalloc(&allocator)) && allocator) {
      allocator->Free(list);
      allocator->Release();
    }
    if (!ok || path[0] == 0) return false;
    // The settings file keeps its values in the ANSI code page. A folder
    // whose name has no exact form there is kept under its short (8.3)
    // name where the volume gives one the code page holds; otherwise it
    // cannot be kept, and the user is told so.
    if (!HeldByAnsi(path)) {
      wchar_t shortPath[MAX_PATH] = {};
      const DWORD n = ::GetShortPathNameW(path, shortPath, MAX_PATH);
      if (n == 0 || n >= MAX_PATH || !HeldByAnsi(shortPath)) {
        ::MessageBoxW(info.hwndOwner, Widen(kFolderNotKeptText).c_str(), Widen(form_text::kTitle).c_str(),
                      MB_OK | MB_ICONWARNING);
        return false;
      }
      std::copy(shortPath, shortPath + MAX_PATH, path);
    }
    folder = platform::Utf8FromWide(path);
    return !folder.empty();
  }
  void Refuse(const char* text) override {
    ::MessageBoxW(::GetActiveWindow(), Widen(text).c_str(), Widen(form_text::kTitle).c_str(), MB_OK | MB_ICONWARNING);
  }

 private:
  static constexpr const char* kFolderNotKeptText =
      "このフォルダーの名前には設定ファイルに保存できない文字が含まれているため、出力先に選べません。\n"
      "別のフォルダーを選んでください。";

  static bool HeldByAnsi(const wchar_t* path) {
    BOOL lossy = FALSE;
    return ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path, -1, nullptr, 0, nullptr, &lossy) > 1 && !lossy;
  }
};

class SystemAssociations final : public AssociationActions {
 public:
  void Register(const char* progId) override { RegisterAssociation(progId); }
  void Unregister(const char* progId) override { UnregisterAssociation(progId); }
};

// --- the dialog ---------------------------------------------------------------

struct Radios {
  Column column;
  int ids[3];
  int folderId;
};
constexpr Radios kExtractRadios = {Column::Extract, {control::kExtractDesktop, control::kExtractBeside, control::kExtractChosen},
                                   control::kExtractFolder};
constexpr Radios kCompressRadios = {Column::Compress,
                                    {control::kCompressDesktop, control::kCompressBeside, control::kCompressChosen},
                                    control::kCompressFolder};

const Radios* RadiosOf(int id, int& index) {
  for (const Radios* radios : {&kExtractRadios, &kCompressRadios})
    for (int i = 0; i < 3; ++i)
      if (radios->ids[i] == id) {
        index = i;
        return radios;
      }
  return nullptr;
}

class SettingsDialog {
 public:
  SettingsForm form;
  Settings settings;

  void Init(HWND dialog) {
    dialog_ = dialog;
    CentreDialog(dialog);
    SetDialogIcons(dialog, kIconId);
    AttachHyperlink(Item(control::kLink), form_text::kLink, LinkTarget());
    AttachGradientLabel(Item(control::kHeader), HeaderLabelStyle());
    SetUtf8Text(Item(control::kHeader), form_text::kHeader);
    SetUtf8Text(Item(control::kVersion), form_text::kVersion);
    ShapeSeparator(dialog, control::kSeparatorTop);
    ShapeSeparator(dialog, control::kSeparatorBottom);
    for (int id : {control::kLabelZipCode, control::kLabelExtractOptions, control::kLabelAssociations,
                   control::kLabelCompressOptions, control::kLabelCompressFolder, control::kLabelExtractFolder})
      AttachGradientLabel(Item(id), SectionLabelStyle());

    form = LoadSettingsForm(settings);
    for (const CheckField& field : kCheckFields)
      ::CheckDlgButton(dialog, field.controlId, form.*field.member ? BST_CHECKED : BST_UNCHECKED);
    HWND level = Item(control::kLevel);
    for (const char* name : form_text::kLevelNames)
      ::SendMessageW(level, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(name).c_str()));
    ::SendMessageW(level, CB_SETCURSEL, static_cast<WPARAM>(form.levelIndex), 0);
    ShowColumn(kExtractRadios, form.extract);
    ShowColumn(kCompressRadios, form.compress);
    ::EnableWindow(Item(control::kNumberFilter), form.NumberFilterEnabled());
  }

  void Command(int id) {
    switch (id) {
      case control::kOk: {
        ReadControls();
        SystemAssociations actions;
        if (!ApplySettingsForm(form, settings, actions)) {
          const std::wstring text = Widen("設定を保存できませんでした: " + SafeDisplayText(settings.Path()));
          ::MessageBoxW(dialog_, text.c_str(), Widen(form_text::kTitle).c_str(), MB_OK | MB_ICONWARNING);
        }
        ::EndDialog(dialog_, 1);
        return;
      }
      case control::kCancel:
        ::EndDialog(dialog_, 2);
        return;
      case control::kHelp:
        ShowHelp();
        return;
      case control::kMakeDirectory:
        ::EnableWindow(Item(control::kNumberFilter), ::IsDlgButtonChecked(dialog_, control::kMakeDirectory) == BST_CHECKED);
        return;
    }
    int index = 0;
    if (const Radios* radios = RadiosOf(id, index)) {
      DestinationColumn& column = form.ColumnOf(radios->column);
      column.checkedRadio = CheckedRadio(*radios);
      ShellFolderPicker picker;
      const int back = OnDestinationRadio(form, radios->column, index, picker);
      SetUtf8Text(Item(radios->folderId), column.folder);
      if (back != kNoRadio) ::SendMessageW(Item(radios->ids[back]), BM_CLICK, 0, 0);
    }
  }

 private:
  HWND dialog_ = nullptr;

  HWND Item(int id) const { return ::GetDlgItem(dialog_, id); }

  int CheckedRadio(const Radios& radios) const {
    for (int i = 0; i < 3; ++i)
      if (::IsDlgButtonChecked(dialog_, radios.ids[i]) == BST_CHECKED) return i;
    return kNoRadio;
  }

  void ShowColumn(const Radios& radios, const DestinationColumn& column) {
    ::CheckDlgButton(dialog_, radios.ids[column.checkedRadio], BST_CHECKED);
    HWND folder = Item(radios.folderId);
    SetUtf8Text(folder, column.folder);
    ::SendMessageW(folder, EM_SETREADONLY, TRUE, 0);
    ::SendMessageW(folder, EM_LIMITTEXT, kFolderTextLimit, 0);
  }

  void ReadControls() {
    for (const CheckField& field : kCheckFields)
      form.*field.member = ::IsDlgButtonChecked(dialog_, field.controlId) == BST_CHECKED;
    form.levelIndex = static_cast<int>(::SendMessageW(Item(control::kLevel), CB_GETCURSEL, 0, 0));
    for (const Radios* radios : {&kExtractRadios, &kCompressRadios}) {
      DestinationColumn& column = form.ColumnOf(radios->column);
      column.checkedRadio = CheckedRadio(*radios);
      wchar_t text[kFolderTextLimit + 1] = {};
      ::GetWindowTextW(Item(radios->folderId), text, kFolderTextLimit + 1);
      column.folder = platform::Utf8FromWide(text);
    }
  }

  void ShowHelp() { OpenHelp(dialog_, HelpFilePath(), kDisplayToc); }
};

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<SettingsDialog*>(::GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      self = reinterpret_cast<SettingsDialog*>(lParam);
      ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      self->Init(dialog);
      return TRUE;
    case WM_CTLCOLORSTATIC: {
      const int id = ::GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
      if (id != control::kVersion && id != control::kLink) return FALSE;
      ::SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
      return reinterpret_cast<INT_PTR>(::GetStockObject(NULL_BRUSH));
    }
    case WM_COMMAND:
      if (self) self->Command(LOWORD(wParam));
      return TRUE;
    case WM_CLOSE:
      ::EndDialog(dialog, 2);
      return TRUE;
  }
  return FALSE;
}

}  // namespace

void ShowSettingsDialog() {
  SettingsDialog dialog;
  ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kDialogId), ::GetActiveWindow(), DialogProc,
                    reinterpret_cast<LPARAM>(&dialog));
}

}  // namespace quindo
