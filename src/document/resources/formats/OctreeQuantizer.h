// Colour reduction for palette formats: an octree quantiser (8 colour bits,
// at most maxColors leaves) and Floyd-Steinberg mapping onto its palette.
#pragma once

#include <cstdint>
#include <vector>

#include "raster/Types.h"

namespace kdl {

struct TPaletteEntry {
  std::uint8_t R, G, B;
};

class TOctreeQuantizer {
 public:
  explicit TOctreeQuantizer(int maxColors);

  void AddColor(std::uint8_t r, std::uint8_t g, std::uint8_t b);
  // The leaves' average colours, at most maxColors of them.
  std::vector<TPaletteEntry> Palette() const;
  int LeafCount() const { return leafCount_; }

 private:
  struct Node {
    std::uint64_t R = 0, G = 0, B = 0, Count = 0;
    std::int32_t Children[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
    std::int32_t NextReducible = -1;
    bool Leaf = false;
  };
  std::int32_t NewNode(int level);
  void Reduce();
  void CollectLeaves(std::int32_t node, std::vector<TPaletteEntry>& out) const;

  int maxColors_;
  int leafCount_ = 0;
  std::vector<Node> nodes_;
  std::vector<std::int32_t> free_;
  // The most recently made inner node of each level heads its list.
  std::int32_t reducible_[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
};

// Reduces pixels (colour bits only) to at most maxColors colours and maps
// each pixel to a palette index with Floyd-Steinberg error diffusion over
// serpentine rows. indices receives width x height bytes, row 0 first.
void QuantizeAndDither(const TColor32* pixels, std::int32_t width, std::int32_t height,
                       int maxColors, std::vector<TPaletteEntry>& palette,
                       std::vector<std::uint8_t>& indices);

}  // namespace kdl
