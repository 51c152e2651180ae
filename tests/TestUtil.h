// Helpers shared by the unit tests: temporary folders and files, FITS cards and blocks.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

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

// One 80-character FITS card, blank-padded ("KEY     = value").
std::string Card(const std::string& keyword, const std::string& value,
                 const std::string& comment = "");
// Cards joined and padded with blanks to whole 2880-byte blocks.
std::string HeaderBlocks(const std::vector<std::string>& cards);

// A complete FITS file: header of the given cards (END appended), then data padded with
// zeros to a whole block.
std::vector<std::uint8_t> FitsFile(const std::vector<std::string>& cards,
                                   const std::vector<std::uint8_t>& data);

// Big-endian encodings of FITS data.
void PutBE16(std::vector<std::uint8_t>& out, std::int16_t v);
void PutBE32(std::vector<std::uint8_t>& out, std::int32_t v);
void PutBEFloat(std::vector<std::uint8_t>& out, float v);
void PutBEDouble(std::vector<std::uint8_t>& out, double v);

}  // namespace pelorin::test
