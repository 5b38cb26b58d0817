#pragma once
// Pieces the ZIP fuzz targets share: a target that checks and discards what
// Extract writes, and a user interface that answers every prompt at once.
#include <cstdlib>
#include <string>

#include "app/user_interface.h"
#include "platform/platform.h"
#include "zip/zip_reader.h"

namespace quindo::fuzz {

// Every path Extract hands over must be relative and must not climb.
inline void CheckRelative(const std::string& path) {
  if (!path.empty() && (path[0] == '/' || path[0] == '\\')) std::abort();
  size_t start = 0;
  for (;;) {
    size_t end = path.find(platform::kPathSeparator, start);
    std::string part = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (part == "..") std::abort();
    if (end == std::string::npos) break;
    start = end + 1;
  }
}

class DiscardTarget final : public ExtractTarget {
 public:
  bool Exists(const std::string& path) override { return false; }
  void CreateFolder(const std::string& path) override { CheckRelative(path); }
  bool Create(const std::string& path) override {
    CheckRelative(path);
    open_ = true;
    return true;
  }
  bool Write(const uint8_t* data, size_t size) override {
    if (!open_) std::abort();
    written_ += size;
    return written_ < (64u << 20);  // a bomb stops as a write error
  }
  bool Close() override {
    open_ = false;
    return true;
  }
  void Remove(const std::string& path) override {}
  void SetTime(const std::string& path, uint16_t, uint16_t) override {}

 private:
  bool open_ = false;
  size_t written_ = 0;
};

class AnsweringUi final : public UserInterface {
 public:
  void ShowMessage(std::string_view, std::string_view, MessageIcon) override {}
  int RunProgress(ProgressMode, ProgressSource&, Worker&) override { return 0; }
  PasswordAnswer AskPassword(const PasswordRequest&, std::string& password) override {
    password = "pw";
    return PasswordAnswer::Entered;
  }
  void ShowWorkerMessage(std::string_view, std::string_view, MessageIcon) override {}
};

}  // namespace quindo::fuzz
