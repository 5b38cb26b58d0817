// The associations in the Windows registry under HKEY_CLASSES_ROOT.
#include "platform/win32/windows_api.h"

#include <shlobj.h>
#include <shlwapi.h>

#include "config/registry.h"
#include "frontend/program_services.h"
#include "platform/win32/wide_text.h"

namespace quindo {

namespace {

// Key paths and values are UTF-8 in the core and UTF-16 in the registry, so
// a program path or a previous owner's command that no ANSI code page holds
// goes in and comes back whole.
class Win32ClassesRegistry final : public ClassesRegistry {
 public:
  bool ReadDefault(const std::string& keyPath, std::string& value) override {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, platform::WidePath(keyPath).c_str(), 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
      return false;
    DWORD type = 0;
    DWORD size = 0;
    bool ok = ::RegQueryValueExW(key, nullptr, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
              (type == REG_SZ || type == REG_EXPAND_SZ);
    std::wstring text;
    if (ok) {
      text.assign(size / sizeof(wchar_t) + 1, L'\0');
      ok = ::RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) ==
           ERROR_SUCCESS;
      text.resize(ok ? size / sizeof(wchar_t) : 0);
      while (!text.empty() && text.back() == L'\0') text.pop_back();
    }
    ::RegCloseKey(key);
    if (ok) value = platform::Utf8FromWide(text);
    return ok;
  }

  bool WriteDefault(const std::string& keyPath, const std::string& value) override {
    const std::wstring wide = platform::WidePath(value);
    if (!value.empty() && wide.empty()) return false;
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_CLASSES_ROOT, platform::WidePath(keyPath).c_str(), 0, nullptr,
                          REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
      return false;
    // The size counts the terminating zero.
    const bool ok = ::RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                                     static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    ::RegCloseKey(key);
    return ok;
  }

  bool DeleteTree(const std::string& keyPath) override {
    HKEY root = nullptr;
    if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, nullptr, 0, KEY_ALL_ACCESS, &root) != ERROR_SUCCESS) return false;
    const bool ok = ::SHDeleteKeyW(root, platform::WidePath(keyPath).c_str()) == ERROR_SUCCESS;
    ::RegCloseKey(root);
    return ok;
  }

  void NotifyAssociationChanged() override { ::SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr); }
};

}  // namespace

AssociationStore& SystemAssociationStore() {
  static Win32ClassesRegistry registry;
  static RegistryAssociationStore store(registry);
  return store;
}

}  // namespace quindo
