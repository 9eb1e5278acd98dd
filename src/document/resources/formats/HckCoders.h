// The byte coders of the ".hck" format and of the legacy XML bitmaps: a
// PackBits-like run-length coder, a rank coder that stores each byte as
// its frequency rank in 0, 1, 4 or 8 bits, and a byte delta filter.
//
// Every routine works on caller-owned buffers and is told the capacity of
// its output; none ever writes past it. Results: kCoderOk, or a negative
// code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kdl {

inline constexpr int kCoderOk = 0;
// Output capacity too small, or damaged input (bad length, offset or rank).
inline constexpr int kCoderFailed = -1;
inline constexpr int kCoderNoSource = -2;
inline constexpr int kCoderNoTarget = -3;
inline constexpr int kCoderBadPlanes = -4;

// Bytes of the rank coder's fixed head: N, two offsets and G.
inline constexpr std::size_t kRankHeadSize = 13;

// An output size that holds the result of any one coder on n input bytes:
// the rank coder's worst case is n + n div 4 plus its head, its table of
// up to 256 values and three stream tails.
constexpr std::size_t CompressBufferSize(std::size_t n) { return n + n / 4 + 19 + 256; }

int RleEncode(const std::uint8_t* source, std::size_t n, std::uint8_t* target,
              std::size_t capacity, std::size_t& outLength);
int RleDecode(const std::uint8_t* source, std::size_t n, std::uint8_t* target,
              std::size_t capacity, std::size_t& outLength);
// The number of bytes RleDecode would give; -1 for damaged input.
std::int64_t RleDecodedSize(const std::uint8_t* source, std::size_t n);

int RankEncode(const std::uint8_t* source, std::size_t n, std::uint8_t* target,
               std::size_t capacity, std::size_t& outLength);
int RankDecode(const std::uint8_t* block, std::size_t blockLength, std::uint8_t* target,
               std::size_t capacity, std::size_t& outLength);
// N of a rank block whose head, table and class stream are all present;
// -1 otherwise.
std::int64_t RankDecodedSize(const std::uint8_t* block, std::size_t blockLength);

// target[i] = source[i] - source[i - 1] (mod 256), source[-1] = 0, and its
// inverse; both may work in place.
int DeltaEncode(const std::uint8_t* source, std::size_t n, std::uint8_t* target);
int DeltaDecode(const std::uint8_t* source, std::size_t n, std::uint8_t* target);

// DeltaEncode in place (the source is changed), then RankEncode.
int DeltaRankEncode(std::uint8_t* source, std::size_t n, std::uint8_t* target,
                    std::size_t capacity, std::size_t& outLength);
// RankDecode, then DeltaDecode in place.
int RankDeltaDecode(const std::uint8_t* block, std::size_t blockLength, std::uint8_t* target,
                    std::size_t capacity, std::size_t& outLength);

// The whole packing chain, RankEncode(RleEncode(DeltaRankEncode(raw)));
// raw is used as scratch. And its inverse for a packed block that must give
// exactly rawSize bytes: each stage is checked against what the encoder
// could have made of rawSize bytes before anything is allocated for it.
int PackChain(std::vector<std::uint8_t>& raw, std::vector<std::uint8_t>& packed);
int UnpackChain(const std::uint8_t* packed, std::size_t size, std::size_t rawSize,
                std::vector<std::uint8_t>& raw);

// Interleaves planes: with k = n div planes, target[i * planes + p] =
// source[p * k + i]; the last n mod planes bytes are copied as they are.
// planes must be 1 to 8; source and target may be the same buffer.
int PlanesToPixels(const std::uint8_t* source, std::uint8_t* target, std::size_t n, int planes);

}  // namespace kdl
