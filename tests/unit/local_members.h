#pragma once
// Archives made by 7-Zip at test time, their members taken apart by a
// minimal walk over the local headers (sizes as the headers give them), and
// member input and output over strings.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "common/little_endian.h"
#include "tests/support/test_support.h"
#include "zip/zip_member_io.h"

namespace quindo::test {

struct LocalMember {
  std::string name, extra, data;  // data: the member's stored bytes
  uint16_t flags = 0, method = 0, time = 0;
  uint32_t crc = 0, compressedSize = 0, size = 0;
};

// Members in file order; a member whose data runs past the end is cut, a
// streamed one without sizes ends at its descriptor's signature.
inline std::vector<LocalMember> LocalMembers(const std::string& archive) {
  std::vector<LocalMember> out;
  auto p = [&](size_t at) { return reinterpret_cast<const uint8_t*>(archive.data()) + at; };
  for (size_t at = 0; (at = archive.find("PK\x03\x04", at)) != std::string::npos && at + 30 <= archive.size();) {
    LocalMember m;
    m.flags = LoadLe16(p(at + 6));
    m.method = LoadLe16(p(at + 8));
    m.time = LoadLe16(p(at + 10));
    m.crc = LoadLe32(p(at + 14));
    m.compressedSize = LoadLe32(p(at + 18));
    m.size = LoadLe32(p(at + 22));
    size_t nameAt = at + 30, extraAt = nameAt + LoadLe16(p(at + 26)), dataAt = extraAt + LoadLe16(p(at + 28));
    if (dataAt > archive.size()) break;
    m.name = archive.substr(nameAt, extraAt - nameAt);
    m.extra = archive.substr(extraAt, dataAt - extraAt);
    size_t dataSize = m.compressedSize;
    if ((m.flags & 8) && (dataSize == 0 || dataSize == 0xFFFFFFFF)) {
      // Streamed: the data runs to its descriptor's signature.
      dataSize = archive.find("PK\x07\x08", dataAt);
      dataSize = dataSize == std::string::npos ? archive.size() - dataAt : dataSize - dataAt;
    }
    m.data = archive.substr(dataAt, dataSize);
    at = dataAt + m.data.size();
    out.push_back(std::move(m));
  }
  return out;
}

// Runs 7z in `dir` ("a -tzip ... out.zip files") and returns the archive;
// empty (and a test failure) when 7z fails.
inline std::string SevenZip(const ScratchDir& dir, const std::string& arguments) {
  std::string command = "cd '" + dir.path() + "' && 7z a -tzip out.zip " + arguments + " >/dev/null 2>&1";
  std::remove((dir / "out.zip").c_str());
  if (std::system(command.c_str()) != 0) {
    ADD_FAILURE() << "7z failed: " << command;
    return {};
  }
  return ReadFile(dir / "out.zip");
}

inline const LocalMember* Find(const std::vector<LocalMember>& members, const std::string& name) {
  auto it = std::find_if(members.begin(), members.end(), [&](const LocalMember& m) { return m.name == name; });
  return it == members.end() ? nullptr : &*it;
}

// Hands out the string in pieces of at most `piece` bytes.
class StringInput final : public ZipMemberInput {
 public:
  explicit StringInput(std::string data, size_t piece = SIZE_MAX) : data_(std::move(data)), piece_(piece) {}
  size_t Read(uint8_t* buffer, size_t size) override {
    size_t n = std::min({size, data_.size() - pos_, piece_});
    std::memcpy(buffer, data_.data() + pos_, n);
    pos_ += n;
    return n;
  }

 private:
  std::string data_;
  size_t piece_;
  size_t pos_ = 0;
};

// Collects the output; refuses after `acceptWrites` writes when that is not
// negative, and fails the test on a write after a refusal.
class StringOutput final : public ZipMemberOutput {
 public:
  explicit StringOutput(int acceptWrites = -1) : acceptWrites_(acceptWrites) {}
  bool Write(const uint8_t* data, size_t size) override {
    EXPECT_FALSE(refused) << "write after the output refused";
    EXPECT_GT(size, 0u);
    text.append(reinterpret_cast<const char*>(data), size);
    if (acceptWrites_ >= 0 && ++writes_ > acceptWrites_) refused = true;
    return !refused;
  }
  std::string text;
  bool refused = false;

 private:
  int acceptWrites_;
  int writes_ = 0;
};

inline std::span<const uint8_t> Bytes(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// Bytes that do not compress, the same on every run.
inline std::string Noise(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  for (auto& c : s) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>(seed >> 23);
  }
  return s;
}

}  // namespace quindo::test
