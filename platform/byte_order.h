#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

// Fixed-width fields of file headers: little-endian (RIFF, Wave64, DSF) and big-endian (DSDIFF),
// independent of the host's order.
namespace lumaro::platform {

template <class T>
T LoadLe(const unsigned char* p) noexcept {
  T value = 0;
  for (std::size_t i = sizeof(T); i > 0; --i) value = static_cast<T>((value << 8) | p[i - 1]);
  return value;
}

template <class T>
T LoadBe(const unsigned char* p) noexcept {
  T value = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) value = static_cast<T>((value << 8) | p[i]);
  return value;
}

template <class T>
void StoreLe(unsigned char* p, T value) noexcept {
  for (std::size_t i = 0; i < sizeof(T); ++i) p[i] = static_cast<unsigned char>(value >> (8 * i));
}

template <class T>
void StoreBe(unsigned char* p, T value) noexcept {
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    p[sizeof(T) - 1 - i] = static_cast<unsigned char>(value >> (8 * i));
  }
}

// True when the four bytes at `p` spell `id` (a chunk identifier such as "fmt ").
inline bool IsId(const unsigned char* p, std::string_view id) noexcept {
  return id.size() == 4 && std::memcmp(p, id.data(), 4) == 0;
}

inline void StoreId(unsigned char* p, std::string_view id) noexcept {
  std::memcpy(p, id.data(), 4);
}

}  // namespace lumaro::platform
