// Little-endian loads and stores for the table file layouts, and big-endian stores for keys.
#pragma once

#include <cstdint>
#include <cstring>

namespace kavrin::engine {

inline std::uint16_t LoadU16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline std::uint32_t LoadU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t LoadU64(const std::uint8_t* p) {
  return static_cast<std::uint64_t>(LoadU32(p)) | (static_cast<std::uint64_t>(LoadU32(p + 4)) << 32);
}
inline std::int16_t LoadI16(const std::uint8_t* p) { return static_cast<std::int16_t>(LoadU16(p)); }
inline std::int32_t LoadI32(const std::uint8_t* p) { return static_cast<std::int32_t>(LoadU32(p)); }
inline std::int64_t LoadI64(const std::uint8_t* p) { return static_cast<std::int64_t>(LoadU64(p)); }
inline double LoadF64(const std::uint8_t* p) {
  const std::uint64_t bits = LoadU64(p);
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

inline void StoreU16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void StoreU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void StoreU64(std::uint8_t* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void StoreI16(std::uint8_t* p, std::int16_t v) { StoreU16(p, static_cast<std::uint16_t>(v)); }
inline void StoreI32(std::uint8_t* p, std::int32_t v) { StoreU32(p, static_cast<std::uint32_t>(v)); }
inline void StoreI64(std::uint8_t* p, std::int64_t v) { StoreU64(p, static_cast<std::uint64_t>(v)); }
inline void StoreF64(std::uint8_t* p, double v) {
  std::uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  StoreU64(p, bits);
}

template <int Bytes>
inline void StoreBigEndian(std::uint8_t* p, std::uint64_t v) {
  for (int i = 0; i < Bytes; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * (Bytes - 1 - i)));
}

}  // namespace kavrin::engine
