#include "document/resources/formats/OctreeQuantizer.h"

#include <algorithm>
#include <cstdlib>

namespace kdl {

namespace {

constexpr int kColorBits = 8;
// The nearest-colour cache keeps 6 bits per channel.
constexpr int kCacheBits = 6;

}  // namespace

TOctreeQuantizer::TOctreeQuantizer(int maxColors) : maxColors_(std::max(1, maxColors)) {
  NewNode(0);
}

std::int32_t TOctreeQuantizer::NewNode(int level) {
  std::int32_t id;
  if (!free_.empty()) {
    id = free_.back();
    free_.pop_back();
    nodes_[static_cast<std::size_t>(id)] = Node();
  } else {
    id = static_cast<std::int32_t>(nodes_.size());
    nodes_.emplace_back();
  }
  Node& node = nodes_[static_cast<std::size_t>(id)];
  if (level == kColorBits) {
    node.Leaf = true;
    ++leafCount_;
  } else {
    node.NextReducible = reducible_[level];
    reducible_[level] = id;
  }
  return id;
}

void TOctreeQuantizer::AddColor(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  std::int32_t id = 0;
  for (int level = 0;; ++level) {
    if (nodes_[static_cast<std::size_t>(id)].Leaf) {
      Node& leaf = nodes_[static_cast<std::size_t>(id)];
      leaf.R += r;
      leaf.G += g;
      leaf.B += b;
      ++leaf.Count;
      break;
    }
    const int shift = 7 - level;
    const int child = (((r >> shift) & 1) << 2) | (((g >> shift) & 1) << 1) | ((b >> shift) & 1);
    std::int32_t next = nodes_[static_cast<std::size_t>(id)].Children[child];
    if (next < 0) {
      next = NewNode(level + 1);
      nodes_[static_cast<std::size_t>(id)].Children[child] = next;
    }
    id = next;
  }
  while (leafCount_ > maxColors_) Reduce();
}

// Merges the deepest reducible node's children into it.
void TOctreeQuantizer::Reduce() {
  int level = kColorBits - 1;
  while (level > 0 && reducible_[level] < 0) --level;
  const std::int32_t id = reducible_[level];
  if (id < 0) return;
  reducible_[level] = nodes_[static_cast<std::size_t>(id)].NextReducible;
  Node sum;
  int children = 0;
  for (std::int32_t& c : nodes_[static_cast<std::size_t>(id)].Children) {
    if (c < 0) continue;
    const Node& child = nodes_[static_cast<std::size_t>(c)];
    sum.R += child.R;
    sum.G += child.G;
    sum.B += child.B;
    sum.Count += child.Count;
    free_.push_back(c);
    c = -1;
    ++children;
  }
  Node& node = nodes_[static_cast<std::size_t>(id)];
  node.R = sum.R;
  node.G = sum.G;
  node.B = sum.B;
  node.Count = sum.Count;
  node.Leaf = true;
  leafCount_ -= children - 1;
}

void TOctreeQuantizer::CollectLeaves(std::int32_t id, std::vector<TPaletteEntry>& out) const {
  const Node& node = nodes_[static_cast<std::size_t>(id)];
  if (node.Leaf) {
    if (node.Count == 0) return;
    const std::uint64_t half = node.Count / 2;
    out.push_back({static_cast<std::uint8_t>((node.R + half) / node.Count),
                   static_cast<std::uint8_t>((node.G + half) / node.Count),
                   static_cast<std::uint8_t>((node.B + half) / node.Count)});
    return;
  }
  for (std::int32_t c : node.Children)
    if (c >= 0) CollectLeaves(c, out);
}

std::vector<TPaletteEntry> TOctreeQuantizer::Palette() const {
  std::vector<TPaletteEntry> out;
  CollectLeaves(0, out);
  return out;
}

void QuantizeAndDither(const TColor32* pixels, std::int32_t width, std::int32_t height,
                       int maxColors, std::vector<TPaletteEntry>& palette,
                       std::vector<std::uint8_t>& indices) {
  const auto n = static_cast<std::size_t>(std::int64_t{width} * height);
  TOctreeQuantizer octree(maxColors);
  for (std::size_t i = 0; i < n; ++i)
    octree.AddColor(static_cast<std::uint8_t>(pixels[i] >> 16),
                    static_cast<std::uint8_t>(pixels[i] >> 8), static_cast<std::uint8_t>(pixels[i]));
  palette = octree.Palette();
  if (palette.empty()) palette.push_back({0, 0, 0});
  indices.assign(n, 0);
  if (n == 0) return;

  // Nearest palette colour, remembered per 6-bit cell of the colour cube.
  std::vector<std::int16_t> cache(std::size_t{1} << (3 * kCacheBits), -1);
  auto nearest = [&](int r, int g, int b) -> int {
    constexpr int drop = 8 - kCacheBits;
    const std::size_t key = (static_cast<std::size_t>(r >> drop) << (2 * kCacheBits)) |
                            (static_cast<std::size_t>(g >> drop) << kCacheBits) |
                            static_cast<std::size_t>(b >> drop);
    if (cache[key] >= 0) return cache[key];
    int best = 0;
    int bestDistance = 1 << 30;
    for (std::size_t i = 0; i < palette.size(); ++i) {
      const int dr = r - palette[i].R;
      const int dg = g - palette[i].G;
      const int db = b - palette[i].B;
      const int d = dr * dr + dg * dg + db * db;
      if (d < bestDistance) {
        bestDistance = d;
        best = static_cast<int>(i);
      }
    }
    cache[key] = static_cast<std::int16_t>(best);
    return best;
  };

  // Errors in 1/16 units, three channels, one guard column on each side.
  const std::size_t stride = (static_cast<std::size_t>(width) + 2) * 3;
  std::vector<int> current(stride, 0);
  std::vector<int> below(stride, 0);
  auto clamp = [](int v) { return v < 0 ? 0 : v > 255 ? 255 : v; };
  // Rounds e / 16 to nearest.
  auto sixteenth = [](int e) { return e >= 0 ? (e + 8) >> 4 : -((-e + 8) >> 4); };

  for (std::int32_t y = 0; y < height; ++y) {
    const bool forward = (y % 2) == 0;
    const int dir = forward ? 1 : -1;
    std::fill(below.begin(), below.end(), 0);
    for (std::int32_t step = 0; step < width; ++step) {
      const std::int32_t x = forward ? step : width - 1 - step;
      const std::size_t at = static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                             static_cast<std::size_t>(x);
      const TColor32 c = pixels[at];
      const std::size_t e = (static_cast<std::size_t>(x) + 1) * 3;
      const int r = clamp(static_cast<int>((c >> 16) & 0xFF) + sixteenth(current[e]));
      const int g = clamp(static_cast<int>((c >> 8) & 0xFF) + sixteenth(current[e + 1]));
      const int b = clamp(static_cast<int>(c & 0xFF) + sixteenth(current[e + 2]));
      const int index = nearest(r, g, b);
      indices[at] = static_cast<std::uint8_t>(index);
      const int err[3] = {r - palette[static_cast<std::size_t>(index)].R,
                          g - palette[static_cast<std::size_t>(index)].G,
                          b - palette[static_cast<std::size_t>(index)].B};
      const std::size_t ahead = static_cast<std::size_t>(static_cast<std::int64_t>(e) + 3 * dir);
      const std::size_t behind = static_cast<std::size_t>(static_cast<std::int64_t>(e) - 3 * dir);
      for (int k = 0; k < 3; ++k) {
        current[ahead + static_cast<std::size_t>(k)] += 7 * err[k];
        below[behind + static_cast<std::size_t>(k)] += 3 * err[k];
        below[e + static_cast<std::size_t>(k)] += 5 * err[k];
        below[ahead + static_cast<std::size_t>(k)] += err[k];
      }
    }
    std::swap(current, below);
  }
}

}  // namespace kdl
