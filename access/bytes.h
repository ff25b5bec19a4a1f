// Reading the format's numbers out of bytes, and RC4, which page 0's masked block
// and an encoded Jet file's pages use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

namespace jet {

class Rc4 {
 public:
  explicit Rc4(std::uint32_t key) {
    const unsigned char k[4] = {
        static_cast<unsigned char>(key), static_cast<unsigned char>(key >> 8),
        static_cast<unsigned char>(key >> 16), static_cast<unsigned char>(key >> 24)};
    for (int n = 0; n < 256; ++n) s_[n] = static_cast<unsigned char>(n);
    unsigned char j = 0;
    for (int n = 0; n < 256; ++n) {
      j = static_cast<unsigned char>(j + s_[n] + k[n & 3]);
      std::swap(s_[n], s_[j]);
    }
  }
  void apply(const unsigned char* in, unsigned char* out, std::size_t size) {
    for (std::size_t n = 0; n < size; ++n) {
      i_ = static_cast<unsigned char>(i_ + 1);
      j_ = static_cast<unsigned char>(j_ + s_[i_]);
      std::swap(s_[i_], s_[j_]);
      out[n] = in[n] ^ s_[static_cast<unsigned char>(s_[i_] + s_[j_])];
    }
  }

 private:
  unsigned char s_[256];
  unsigned char i_ = 0, j_ = 0;
};

inline std::uint16_t le16(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline std::uint32_t le32(const unsigned char* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}
inline std::uint32_t be24(const unsigned char* p) {
  return std::uint32_t{p[0]} << 16 | std::uint32_t{p[1]} << 8 | p[2];
}
inline std::uint32_t be32(const unsigned char* p) { return be24(p) << 8 | p[3]; }

}  // namespace jet
