// Helpers shared by the tests: temporary folders and files. The FITS builders and the
// byte-order writers come with it, as nearly every test writes a file of some kind.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "ByteOrder.h"
#include "FitsFiles.h"

namespace pelorin::test {

// A fresh empty folder, removed with everything in it when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes);
void WriteFile(const std::string& path, const std::string& text);
std::vector<std::uint8_t> ReadFile(const std::string& path);

}  // namespace pelorin::test
