// Exporting a label as a one-page PDF whose only content is a JPEG picture
// of the whole label, written by a writer that knows exactly that layout.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "app/output/PrintHelper.h"

namespace kdl {

class TdtpDocument;
class TStream;

struct TPdfPreset {
  std::uint16_t Resolution;  // dots per inch
  std::uint8_t Quality;      // JPEG quality, percent
};
inline constexpr std::array<TPdfPreset, 3> kPdfPresets{{{150, 60}, {300, 80}, {600, 100}}};
inline constexpr int kDefaultPdfPreset = 1;

struct TPixelSize {
  std::int32_t Width = 0, Height = 0;
};
struct TPageSizeMM {
  float Width = 0, Height = 0;
};

// Results of WriteJpegAsPdf.
inline constexpr int kPdfNoJpeg = 0;
inline constexpr int kPdfCannotCreate = -1;
inline constexpr int kPdfWritten = -2;
inline constexpr int kPdfWriteError = -3;

// Copies all of jpeg from its position; an empty or missing stream gives
// kPdfNoJpeg and no file. The file is replaced only once it is complete: a
// failure leaves the previous one as it was.
int WriteJpegAsPdf(TStream* jpeg, TPixelSize pixels, TPageSizeMM page, const std::string& fileName);
// The cross-reference table of count objects at offsets.
void WritePdfXref(TStream& file, const std::vector<std::uint32_t>& offsets, int count);
// The page's content object drawing the picture over ptWidth x ptHeight.
void WritePdfContentObject(TStream& file, int objectNumber, int ptWidth, int ptHeight);

// Pixels of one band of the export's page picture.
inline constexpr std::int64_t kPdfBandPixels = std::int64_t{1} << 19;
// Rows of a band of a picture width pixels wide: whole encoder MCU rows,
// about kPdfBandPixels pixels.
std::int32_t PdfBandRows(std::int32_t width);

// Renders the current page for the printer at exactly pixels and writes it
// as JPEG, bandRows rows at a time (0: PdfBandRows), so that the page's
// picture is never whole. Raises for a missing stream and for a picture that
// cannot be made.
void SavePageToJpgStream(TdtpDocument& document, TStream* stream, TPixelSize pixels, std::uint8_t quality,
                         std::int32_t bandRows = 0);
// The picture size of a page at a preset; raises EOutputError with the
// export's message when no such picture can be made.
TPixelSize PdfPixelSize(TPageSizeMM page, int preset);
// Raises EOutputError with the export's message on any failure.
void SaveDocumentToPdf(TdtpDocument& document, const std::string& fileName, int preset);

// The export command after its dialog: a copy of the project's current page
// with thin cut and fold lines, saved as PDF.
void ExportToPdf(TdtpDocument& project, const std::string& fileName, int preset);
// The file name the export dialog proposes: the project's name as a single
// path component.
std::string PdfFileNamePreset(TdtpDocument& project);

}  // namespace kdl
