// Drives a memory stream with operations decoded from the input bytes and
// checks it against a plain byte vector.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "foundation/Stream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kdl::TMemoryStream s;
  std::vector<std::uint8_t> model;
  std::size_t pos = 0;
  for (std::size_t i = 0; i + 2 < size; i += 3) {
    const unsigned op = data[i] % 4;
    const unsigned arg = data[i + 1] | (data[i + 2] << 8);
    switch (op) {
      case 0: {  // write arg % 64 bytes
        const std::size_t n = arg % 64;
        std::vector<std::uint8_t> bytes(n, data[i]);
        s.WriteBuffer(bytes.data(), static_cast<std::int64_t>(n));
        // Writing nothing changes nothing, even past the end.
        if (n == 0) break;
        if (pos + n > model.size()) model.resize(pos + n, 0);
        std::memcpy(model.data() + pos, bytes.data(), n);
        pos += n;
        break;
      }
      case 1:
        pos = arg % 4096;
        s.Seek(static_cast<std::int64_t>(pos), kdl::soBeginning);
        break;
      case 2:
        s.SetSize(arg % 4096);
        model.resize(arg % 4096, 0);
        if (pos > model.size()) pos = model.size();
        break;
      case 3: {
        std::vector<std::uint8_t> out(arg % 64);
        const auto n = s.Read(out.data(), static_cast<std::int64_t>(out.size()));
        const std::size_t expect = pos < model.size() ? std::min(out.size(), model.size() - pos) : 0;
        if (static_cast<std::size_t>(n) != expect ||
            (n > 0 && std::memcmp(out.data(), model.data() + pos, expect) != 0))
          std::abort();
        pos += expect;
        break;
      }
    }
    if (s.Size() != static_cast<std::int64_t>(model.size())) std::abort();
  }
  return 0;
}
