// Where printed pages go: a print job's document and pages, the sheet's
// geometry in device pixels, and bands of 32-bit pixels drawn 1:1 at a
// device position. The Qt implementation drives a QPrinter; tests record.
#pragma once

#include <cstdint>
#include <string>

namespace kdl {

// Device pixels; half-open.
struct TDeviceRect {
  std::int32_t Left = 0;
  std::int32_t Top = 0;
  std::int32_t Right = 0;
  std::int32_t Bottom = 0;
  std::int32_t Width() const { return Right - Left; }
  std::int32_t Height() const { return Bottom - Top; }
  friend bool operator==(const TDeviceRect&, const TDeviceRect&) = default;
};

// A band as the surface reads it: Width x Height pixels 0xAARRGGBB, rows
// top-down and packed. Alpha is ignored; the paper takes the colour.
struct TBandPixels {
  const std::uint32_t* Bits = nullptr;
  std::int32_t Width = 0;
  std::int32_t Height = 0;
};

class TPrintSurface {
 public:
  virtual ~TPrintSurface() = default;

  // Starts a job whose first page is open; title names it in the spooler.
  virtual void BeginDoc(const std::string& title) = 0;
  // Ends the open page and opens the next.
  virtual void NewPage() = 0;
  // Ends the job: everything drawn goes to the device.
  virtual void EndDoc() = 0;
  // Drops the job; nothing of it is printed.
  virtual void Abort() = 0;

  // The physical sheet in device pixels, in the coordinates bands are drawn
  // in: its origin is the printable area's top-left corner, so the sheet's
  // own top-left lies at minus the printable offsets.
  virtual TDeviceRect SheetRect() const = 0;
  // Device pixels per millimetre.
  virtual double Dpm() const = 0;

  // Draws the band 1:1 with its top-left pixel at (x, y). Callers resample
  // a band to its destination size first, so that the result never depends
  // on the device's own scaler.
  virtual void DrawBand(std::int32_t x, std::int32_t y, const TBandPixels& band) = 0;
};

}  // namespace kdl
