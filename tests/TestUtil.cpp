#include "TestUtil.h"

#include <atomic>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace pelorin::test {

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() /
            ("pelorin-test-" + std::to_string(rd()) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary);
    if (!f) throw std::runtime_error("cannot write " + path);
    f.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

void WriteFile(const std::string& path, const std::string& text) {
    WriteFile(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

std::vector<std::uint8_t> ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) throw std::runtime_error("cannot read " + path);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(f), {});
}

std::string Card(const std::string& keyword, const std::string& value, const std::string& comment) {
    std::string c = keyword;
    c.resize(8, ' ');
    if (!value.empty() || keyword != "END") {
        if (keyword == "END" || keyword == "COMMENT" || keyword == "HISTORY") {
            c += value;
        } else {
            c += "= ";
            std::string v = value;
            if (v.size() < 20 && v.front() != '\'') v.insert(0, 20 - v.size(), ' ');
            c += v;
            if (!comment.empty()) c += " / " + comment;
        }
    }
    c.resize(80, ' ');
    return c;
}

std::string HeaderBlocks(const std::vector<std::string>& cards) {
    std::string h;
    for (const auto& c : cards)
        h += c;
    h.resize((h.size() + 2879) / 2880 * 2880, ' ');
    return h;
}

std::vector<std::uint8_t> FitsFile(const std::vector<std::string>& cards,
                                   const std::vector<std::uint8_t>& data) {
    std::vector<std::string> all = cards;
    all.push_back(Card("END", ""));
    const std::string h = HeaderBlocks(all);
    std::vector<std::uint8_t> out(h.begin(), h.end());
    out.insert(out.end(), data.begin(), data.end());
    out.resize((out.size() + 2879) / 2880 * 2880, 0);
    return out;
}

void PutBE16(std::vector<std::uint8_t>& out, std::int16_t v) {
    const auto u = static_cast<std::uint16_t>(v);
    out.push_back(static_cast<std::uint8_t>(u >> 8));
    out.push_back(static_cast<std::uint8_t>(u));
}

void PutBE32(std::vector<std::uint8_t>& out, std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    for (int s = 24; s >= 0; s -= 8)
        out.push_back(static_cast<std::uint8_t>(u >> s));
}

void PutBEFloat(std::vector<std::uint8_t>& out, float v) {
    std::uint32_t u;
    std::memcpy(&u, &v, 4);
    PutBE32(out, static_cast<std::int32_t>(u));
}

void PutBEDouble(std::vector<std::uint8_t>& out, double v) {
    std::uint64_t u;
    std::memcpy(&u, &v, 8);
    for (int s = 56; s >= 0; s -= 8)
        out.push_back(static_cast<std::uint8_t>(u >> s));
}

}  // namespace pelorin::test
