// The associations in the Windows registry under HKEY_CLASSES_ROOT.
#include "platform/win32/windows_api.h"

#include <shlobj.h>
#include <shlwapi.h>

#include "config/registry.h"
#include "frontend/program_services.h"

namespace quindo {

namespace {

class Win32ClassesRegistry final : public ClassesRegistry {
 public:
  bool ReadDefault(const std::string& keyPath, std::string& value) override {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_CLASSES_ROOT, keyPath.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
      return false;
    DWORD type = 0;
    DWORD size = 0;
    bool ok = ::RegQueryValueExA(key, nullptr, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
              (type == REG_SZ || type == REG_EXPAND_SZ);
    std::string text;
    if (ok) {
      text.assign(size, '\0');
      ok = ::RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) ==
           ERROR_SUCCESS;
      text.resize(ok ? size : 0);
      while (!text.empty() && text.back() == '\0') text.pop_back();
    }
    ::RegCloseKey(key);
    if (ok) value = text;
    return ok;
  }

  bool WriteDefault(const std::string& keyPath, const std::string& value) override {
    HKEY key = nullptr;
    if (::RegCreateKeyExA(HKEY_CLASSES_ROOT, keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                          nullptr, &key, nullptr) != ERROR_SUCCESS)
      return false;
    // The size counts the terminating zero.
    const bool ok = ::RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                     static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
    ::RegCloseKey(key);
    return ok;
  }

  bool DeleteTree(const std::string& keyPath) override {
    HKEY root = nullptr;
    if (::RegOpenKeyExA(HKEY_CLASSES_ROOT, nullptr, 0, KEY_ALL_ACCESS, &root) != ERROR_SUCCESS) return false;
    const bool ok = ::SHDeleteKeyA(root, keyPath.c_str()) == ERROR_SUCCESS;
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
