#include "document/resources/formats/HckCoders.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace kdl {

namespace {

constexpr std::size_t kMaxBlock = 127;
// Rank classes: 0 is rank 0; 1 ranks 1-2; 2 ranks 3-18; 3 ranks 19-255.
constexpr int kClass2First = 3;
constexpr int kClass3First = 19;

void PutU32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

std::uint32_t GetU32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
         (std::uint32_t{p[3]} << 24);
}

int ClassOfRank(int rank) {
  if (rank == 0) return 0;
  if (rank < kClass2First) return 1;
  if (rank < kClass3First) return 2;
  return 3;
}

}  // namespace

// ---- Run-length coder -------------------------------------------------------------

int RleEncode(const std::uint8_t* source, std::size_t n, std::uint8_t* target,
              std::size_t capacity, std::size_t& outLength) {
  outLength = 0;
  if (!source && n > 0) return kCoderNoSource;
  if (!target) return kCoderNoTarget;
  std::size_t o = 0;
  auto literals = [&](std::size_t from, std::size_t to) {
    do {
      const std::size_t c = std::min(kMaxBlock, to - from);
      if (o + 1 + c > capacity) return false;
      target[o++] = static_cast<std::uint8_t>(c);
      if (c > 0) std::memcpy(target + o, source + from, c);
      o += c;
      from += c;
    } while (from < to);
    return true;
  };
  // Too short for a run: one literal block, even when empty.
  if (n <= 2) {
    if (!literals(0, n)) return kCoderFailed;
    outLength = o;
    return kCoderOk;
  }
  std::size_t i = 0;
  std::size_t pending = 0;
  while (i < n) {
    if (i + 2 < n && source[i] == source[i + 1] && source[i] == source[i + 2]) {
      if (pending < i && !literals(pending, i)) return kCoderFailed;
      std::size_t j = i + 3;
      while (j < n && source[j] == source[i]) ++j;
      std::size_t left = j - i;
      while (left > 0) {
        std::size_t b = std::min(kMaxBlock, left);
        // Never leave a single byte behind: a run block holds at least two.
        if (left - b == 1) --b;
        if (o + 2 > capacity) return kCoderFailed;
        target[o++] = static_cast<std::uint8_t>(1 - static_cast<int>(b));
        target[o++] = source[i];
        left -= b;
      }
      i = j;
      pending = i;
    } else {
      ++i;
    }
  }
  if (pending < n && !literals(pending, n)) return kCoderFailed;
  outLength = o;
  return kCoderOk;
}

int RleDecode(const std::uint8_t* source, std::size_t n, std::uint8_t* target,
              std::size_t capacity, std::size_t& outLength) {
  outLength = 0;
  if (!source) return kCoderNoSource;
  if (!target && capacity > 0) return kCoderNoTarget;
  std::size_t i = 0;
  std::size_t o = 0;
  while (i < n) {
    const auto c = static_cast<std::int8_t>(source[i++]);
    if (c >= 0) {
      const auto count = static_cast<std::size_t>(c);
      if (count > n - i || count > capacity - o) return kCoderFailed;
      if (count > 0) std::memcpy(target + o, source + i, count);
      i += count;
      o += count;
    } else {
      const auto count = static_cast<std::size_t>(1 - c);
      if (i >= n || count > capacity - o) return kCoderFailed;
      std::memset(target + o, source[i++], count);
      o += count;
    }
  }
  outLength = o;
  return kCoderOk;
}

std::int64_t RleDecodedSize(const std::uint8_t* source, std::size_t n) {
  if (!source) return -1;
  std::size_t i = 0;
  std::int64_t total = 0;
  while (i < n) {
    const auto c = static_cast<std::int8_t>(source[i++]);
    if (c >= 0) {
      if (static_cast<std::size_t>(c) > n - i) return -1;
      i += static_cast<std::size_t>(c);
      total += c;
    } else {
      if (i >= n) return -1;
      ++i;
      total += 1 - c;
    }
  }
  return total;
}

// ---- Rank coder ------------------------------------------------------------------

int RankEncode(const std::uint8_t* source, std::size_t n, std::uint8_t* target,
               std::size_t capacity, std::size_t& outLength) {
  outLength = 0;
  if (!source && n > 0) return kCoderNoSource;
  if (!target) return kCoderNoTarget;
  if (n > 0xFFFFFFFFu) return kCoderFailed;

  // 1. Values by descending frequency; this exchange order fixes the order
  // among equal frequencies, which the stored table must reproduce.
  std::uint64_t freq[256] = {};
  for (std::size_t i = 0; i < n; ++i) ++freq[source[i]];
  std::uint8_t order[256];
  for (int v = 0; v < 256; ++v) order[v] = static_cast<std::uint8_t>(v);
  for (int i = 0; i < 255; ++i)
    for (int j = 255; j > i; --j)
      if (freq[order[i]] < freq[order[j]]) std::swap(order[i], order[j]);
  std::uint8_t rank[256];
  for (int r = 0; r < 256; ++r) rank[order[r]] = static_cast<std::uint8_t>(r);

  // 2. G: the first rank from 19 on whose value never occurs.
  int g = 255;
  for (int r = kClass3First; r < 256; ++r)
    if (freq[order[r]] == 0) {
      g = r;
      break;
    }

  // 3. Stream sizes, then the layout.
  std::size_t count[4] = {};
  for (std::size_t i = 0; i < n; ++i) ++count[ClassOfRank(rank[source[i]])];
  const std::size_t classAt = kRankHeadSize + static_cast<std::size_t>(g) + 1;
  const std::size_t literalAt = classAt + n / 4 + 1;
  const std::size_t nibbleAt = literalAt + count[3];
  const std::size_t bitAt = nibbleAt + count[2] / 2 + 1;
  const std::size_t total = bitAt + count[1] / 8 + 1;
  if (total > capacity) return kCoderFailed;

  PutU32(target, static_cast<std::uint32_t>(n));
  PutU32(target + 4, static_cast<std::uint32_t>(bitAt));
  PutU32(target + 8, static_cast<std::uint32_t>(nibbleAt));
  target[12] = static_cast<std::uint8_t>(g);
  std::memcpy(target + kRankHeadSize, order, static_cast<std::size_t>(g) + 1);
  std::memset(target + classAt, 0, total - classAt);

  // 4. The streams.
  std::uint8_t* classes = target + classAt;
  std::uint8_t* literal = target + literalAt;
  std::uint8_t* nibbles = target + nibbleAt;
  std::uint8_t* bits = target + bitAt;
  std::size_t n1 = 0;
  std::size_t n2 = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const int r = rank[source[i]];
    const int cls = ClassOfRank(r);
    classes[i / 4] |= static_cast<std::uint8_t>(cls << (2 * (i % 4)));
    switch (cls) {
      case 1:
        bits[n1 / 8] |= static_cast<std::uint8_t>((r - 1) << (n1 % 8));
        ++n1;
        break;
      case 2:
        nibbles[n2 / 2] |= static_cast<std::uint8_t>((r - kClass2First) << (4 * (n2 % 2)));
        ++n2;
        break;
      case 3:
        *literal++ = static_cast<std::uint8_t>(r - kClass3First);
        break;
      default:
        break;
    }
  }
  outLength = total;
  return kCoderOk;
}

std::int64_t RankDecodedSize(const std::uint8_t* block, std::size_t blockLength) {
  if (!block || blockLength < kRankHeadSize) return -1;
  const std::uint64_t n = GetU32(block);
  const std::uint64_t classAt = kRankHeadSize + std::uint64_t{block[12]} + 1;
  if (classAt + n / 4 + 1 > blockLength) return -1;
  return static_cast<std::int64_t>(n);
}

namespace {

// Class counts of the four codes in each class byte.
// and, for each code, how many codes of each class precede it in the byte.
struct TClassCounts {
  std::uint8_t Count[256][4];
  std::uint8_t Before[256][4][4];
  constexpr TClassCounts() : Count(), Before() {
    for (int b = 0; b < 256; ++b)
      for (int k = 0; k < 4; ++k) {
        for (int c = 0; c < 4; ++c) Before[b][k][c] = Count[b][c];
        ++Count[b][(b >> (2 * k)) & 3];
      }
  }
};
constexpr TClassCounts kClassCounts;

}  // namespace

// The rank decoder; with kDelta the running sum of the values is written
// (the delta filter undone in the same pass).
template <bool kDelta>
int RankDecodeImpl(const std::uint8_t* block, std::size_t blockLength, std::uint8_t* target,
                   std::size_t capacity, std::size_t& outLength) {
  outLength = 0;
  if (!block) return kCoderNoSource;
  const std::int64_t size = RankDecodedSize(block, blockLength);
  if (size < 0) return kCoderFailed;
  const auto n = static_cast<std::size_t>(size);
  if (n > capacity) return kCoderFailed;
  if (!target && n > 0) return kCoderNoTarget;
  const std::size_t bitAt = GetU32(block + 4);
  const std::size_t nibbleAt = GetU32(block + 8);
  const int g = block[12];
  const std::uint8_t* table = block + kRankHeadSize;
  const std::size_t classAt = kRankHeadSize + static_cast<std::size_t>(g) + 1;
  const std::uint8_t* classes = block + classAt;
  std::size_t literalAt = classAt + n / 4 + 1;

  // The class stream tells how long the bit and nibble streams must be;
  // with both present (as the writer lays them out, a byte to spare) and
  // every rank below 19 in the table, the loop needs no further checks
  // but for literals.
  std::size_t count[4] = {};
  for (std::size_t i = 0; i < n / 4; ++i)
    for (int k = 0; k < 4; ++k) count[k] += kClassCounts.Count[classes[i]][k];
  for (std::size_t i = n / 4 * 4; i < n; ++i) ++count[(classes[i / 4] >> (2 * (i % 4))) & 3];
  if (g < kClass3First - 1 || bitAt > blockLength || count[1] / 8 + 1 > blockLength - bitAt ||
      nibbleAt > blockLength || count[2] / 2 + 1 > blockLength - nibbleAt)
    return kCoderFailed;
  const std::uint8_t* bits = block + bitAt;
  const std::uint8_t* nibbles = block + nibbleAt;

  // The usual block: its literals are exactly one per class-3 code (none
  // of them a skipped value of 237 and above), all within the table, with
  // the nibble stream's byte behind them. Then every code is decoded
  // without a branch on its class.
  bool plain = literalAt <= nibbleAt && count[3] <= nibbleAt - literalAt;
  if (plain) {
    int highest = 0;
    for (std::size_t i = 0; i < count[3]; ++i) highest = std::max<int>(highest, block[literalAt + i]);
    plain = kClass3First + highest <= g;
  }
  if (plain) {
    const std::uint8_t* literals = block + literalAt;
    std::size_t n1 = 0;
    std::size_t n2 = 0;
    std::size_t n3 = 0;
    std::uint8_t sum = 0;
    // Code k of class c reads item n_c + Before[k][c] of its stream, so the
    // four codes of a class byte decode independently of each other.
    auto decode = [&](std::size_t i, unsigned cls, const std::uint8_t* before) {
      const std::size_t b1 = n1 + before[1];
      const std::size_t b2 = n2 + before[2];
      const int rank[4] = {0, 1 + ((bits[b1 / 8] >> (b1 % 8)) & 1),
                           kClass2First + ((nibbles[b2 / 2] >> (4 * (b2 % 2))) & 15),
                           kClass3First + literals[n3 + before[3]]};
      if constexpr (kDelta) {
        sum = static_cast<std::uint8_t>(sum + table[rank[cls]]);
        target[i] = sum;
      } else {
        target[i] = table[rank[cls]];
      }
    };
    for (std::size_t q = 0; q < n / 4; ++q) {
      const unsigned c = classes[q];
      const auto& before = kClassCounts.Before[c];
      decode(4 * q, c & 3, before[0]);
      decode(4 * q + 1, (c >> 2) & 3, before[1]);
      decode(4 * q + 2, (c >> 4) & 3, before[2]);
      decode(4 * q + 3, c >> 6, before[3]);
      n1 += kClassCounts.Count[c][1];
      n2 += kClassCounts.Count[c][2];
      n3 += kClassCounts.Count[c][3];
    }
    for (std::size_t i = n / 4 * 4; i < n; ++i) {
      const unsigned cls = (classes[i / 4] >> (2 * (i % 4))) & 3;
      const std::uint8_t none[4] = {};
      decode(i, cls, none);
      n1 += cls == 1;
      n2 += cls == 2;
      n3 += cls == 3;
    }
    outLength = n;
    return kCoderOk;
  }

  std::size_t n1 = 0;
  std::size_t n2 = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const int cls = (classes[i / 4] >> (2 * (i % 4))) & 3;
    int r;
    if (cls == 3) {
      // Literals of 237 and above name no rank; they are passed over.
      int literal = 0;
      do {
        if (literalAt >= blockLength) return kCoderFailed;
        literal = block[literalAt++];
      } while (literal >= 256 - kClass3First);
      r = kClass3First + literal;
      if (r > g) return kCoderFailed;
    } else {
      const int bit = (bits[n1 / 8] >> (n1 % 8)) & 1;
      const int nibble = (nibbles[n2 / 2] >> (4 * (n2 % 2))) & 15;
      r = cls == 0 ? 0 : cls == 1 ? 1 + bit : kClass2First + nibble;
      n1 += cls == 1;
      n2 += cls == 2;
    }
    target[i] = table[r];
  }
  if constexpr (kDelta) DeltaDecode(target, n, target);
  outLength = n;
  return kCoderOk;
}

int RankDecode(const std::uint8_t* block, std::size_t blockLength, std::uint8_t* target,
               std::size_t capacity, std::size_t& outLength) {
  return RankDecodeImpl<false>(block, blockLength, target, capacity, outLength);
}

// ---- Delta filter ------------------------------------------------------------------

int DeltaEncode(const std::uint8_t* source, std::size_t n, std::uint8_t* target) {
  if (!source) return kCoderNoSource;
  if (!target) return kCoderNoTarget;
  std::uint8_t previous = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t v = source[i];
    target[i] = static_cast<std::uint8_t>(v - previous);
    previous = v;
  }
  return kCoderOk;
}

int DeltaDecode(const std::uint8_t* source, std::size_t n, std::uint8_t* target) {
  if (!source) return kCoderNoSource;
  if (!target) return kCoderNoTarget;
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < n; ++i) {
    sum = static_cast<std::uint8_t>(sum + source[i]);
    target[i] = sum;
  }
  return kCoderOk;
}

int DeltaRankEncode(std::uint8_t* source, std::size_t n, std::uint8_t* target,
                    std::size_t capacity, std::size_t& outLength) {
  outLength = 0;
  const int rc = DeltaEncode(source, n, source);
  if (rc != kCoderOk) return rc;
  return RankEncode(source, n, target, capacity, outLength);
}

int RankDeltaDecode(const std::uint8_t* block, std::size_t blockLength, std::uint8_t* target,
                    std::size_t capacity, std::size_t& outLength) {
  // One pass: rank decoding with the running sum.
  return RankDecodeImpl<true>(block, blockLength, target, capacity, outLength);
}

// ---- The chain ----------------------------------------------------------------------

int PackChain(std::vector<std::uint8_t>& raw, std::vector<std::uint8_t>& packed) {
  const std::size_t s = raw.size();
  std::size_t len1 = 0;
  std::size_t len2 = 0;
  std::size_t len3 = 0;
  // Each stage's buffer is sized from the bound of its own input.
  std::vector<std::uint8_t> stage1(CompressBufferSize(s));
  int rc = DeltaRankEncode(raw.data(), s, stage1.data(), stage1.size(), len1);
  if (rc != kCoderOk) return rc;
  std::vector<std::uint8_t> stage2(CompressBufferSize(len1));
  rc = RleEncode(stage1.data(), len1, stage2.data(), stage2.size(), len2);
  if (rc != kCoderOk) return rc;
  packed.assign(CompressBufferSize(len2), 0);
  rc = RankEncode(stage2.data(), len2, packed.data(), packed.size(), len3);
  packed.resize(rc == kCoderOk ? len3 : 0);
  return rc;
}

int UnpackChain(const std::uint8_t* packed, std::size_t size, std::size_t rawSize,
                std::vector<std::uint8_t>& raw) {
  if (!packed && size > 0) return kCoderNoSource;
  const std::size_t rankBound = CompressBufferSize(rawSize);
  const std::size_t rleBound = CompressBufferSize(rankBound);
  std::size_t length = 0;
  const std::int64_t rleSize = RankDecodedSize(packed, size);
  if (rleSize < 0 || static_cast<std::uint64_t>(rleSize) > rleBound) return kCoderFailed;
  std::vector<std::uint8_t> rle(static_cast<std::size_t>(rleSize));
  int rc = RankDecode(packed, size, rle.data(), rle.size(), length);
  if (rc != kCoderOk) return rc;

  const std::int64_t blockSize = RleDecodedSize(rle.data(), rle.size());
  if (blockSize < 0 || static_cast<std::uint64_t>(blockSize) > rankBound) return kCoderFailed;
  std::vector<std::uint8_t> block(static_cast<std::size_t>(blockSize));
  rc = RleDecode(rle.data(), rle.size(), block.data(), block.size(), length);
  if (rc != kCoderOk) return rc;

  if (RankDecodedSize(block.data(), block.size()) != static_cast<std::int64_t>(rawSize))
    return kCoderFailed;
  raw.resize(rawSize);
  return RankDeltaDecode(block.data(), block.size(), raw.data(), raw.size(), length);
}

// ---- Plane interleaving ----------------------------------------------------------------

int PlanesToPixels(const std::uint8_t* source, std::uint8_t* target, std::size_t n, int planes) {
  if (planes < 1 || planes > 8) return kCoderBadPlanes;
  if (!source) return kCoderNoSource;
  if (!target) return kCoderNoTarget;
  // Working in place needs the planes kept aside.
  std::vector<std::uint8_t> copy;
  if (source == target) {
    copy.assign(source, source + n);
    source = copy.data();
  }
  const auto p = static_cast<std::size_t>(planes);
  const std::size_t k = n / p;
  for (std::size_t plane = 0; plane < p; ++plane)
    for (std::size_t i = 0; i < k; ++i) target[i * p + plane] = source[plane * k + i];
  const std::size_t done = p * k;
  if (n > done) std::memmove(target + done, source + done, n - done);
  return kCoderOk;
}

}  // namespace kdl
