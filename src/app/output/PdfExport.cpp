#include "app/output/PdfExport.h"

#include <cmath>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

#include <QApplication>

#include "app/Localizer.h"
#include "app/Units.h"
#include "app/project/DtpHelper.h"
#include "app/shapes/ProjectInfoShape.h"
#include "document/resources/formats/JpgFormat.h"
#include "document/shapes/Rendering.h"
#include "document/view/Document.h"
#include "document/view/Page.h"
#include "foundation/Stream.h"
#include "raster/Bitmap32.h"

namespace kdl {
namespace {

// libjpeg's largest side.
constexpr std::int32_t kMaxJpegSide = 65500;

[[noreturn]] void FailExport() {
  throw EOutputError(Localizer().GetString("Messages", "PDFSavingError"));
}

void Put(TStream& file, const std::string& text) {
  file.WriteBuffer(text.data(), static_cast<std::int64_t>(text.size()));
}

std::string Num(std::int64_t value) { return std::to_string(value); }

std::uint32_t Offset(TStream& file) { return static_cast<std::uint32_t>(file.Position()); }

void CopyJpeg(TStream& file, TStream& jpeg, std::int64_t size) {
  std::vector<char> buffer(static_cast<std::size_t>(std::min<std::int64_t>(size, 1 << 20)));
  while (size > 0) {
    const std::int64_t chunk = std::min<std::int64_t>(size, static_cast<std::int64_t>(buffer.size()));
    jpeg.ReadBuffer(buffer.data(), chunk);
    file.WriteBuffer(buffer.data(), chunk);
    size -= chunk;
  }
}

// The encoder's bytes in blocks of a fixed size: no block is ever copied
// into a larger one, and no spare capacity is held beyond the last block.
class TBlockSink : public TStream {
 public:
  std::int64_t Read(void*, std::int64_t) override { return 0; }
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    const auto* bytes = static_cast<const char*>(buffer);
    for (std::int64_t left = count; left > 0;) {
      if (blocks_.empty() || used_ == kBlockSize) {
        blocks_.push_back(std::make_unique<char[]>(kBlockSize));
        used_ = 0;
      }
      const std::int64_t n = std::min(left, kBlockSize - used_);
      std::copy_n(bytes, n, blocks_.back().get() + used_);
      used_ += n, bytes += n, left -= n, size_ += n;
    }
    return count;
  }
  // Only the position that writing reached is known.
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
    if (offset != 0 || origin == soBeginning) throw EStreamError("Invalid stream operation");
    return size_;
  }
  std::int64_t Size() override { return size_; }
  void WriteTo(TStream& file) const {
    for (std::size_t i = 0; i < blocks_.size(); ++i)
      file.WriteBuffer(blocks_[i].get(), i + 1 < blocks_.size() ? kBlockSize : used_);
  }

 private:
  static constexpr std::int64_t kBlockSize = std::int64_t{1} << 20;
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::int64_t used_ = 0;
  std::int64_t size_ = 0;
};

}  // namespace

void WritePdfXref(TStream& file, const std::vector<std::uint32_t>& offsets, int count) {
  Put(file, "xref\n");
  Put(file, "0 " + Num(count + 1) + "\n");
  Put(file, "0000000000 65535 f \n");
  for (int i = 0; i < count; ++i) {
    char entry[32];
    std::snprintf(entry, sizeof entry, "%010u 00000 n \n", offsets[static_cast<std::size_t>(i)]);
    Put(file, entry);
  }
}

void WritePdfContentObject(TStream& file, int objectNumber, int ptWidth, int ptHeight) {
  const std::string content = "q\n" + Num(ptWidth) + " 0 0 " + Num(ptHeight) + " 0 0 cm\n/Im0 Do\nQ\n";
  Put(file, Num(objectNumber) + " 0 obj\n");
  Put(file, "<< /Length " + Num(static_cast<std::int64_t>(content.size())) + " >>\n");
  Put(file, "stream\n");
  Put(file, content);
  Put(file, "endstream\n");
  Put(file, "endobj\n");
}

namespace {

// The one-page file around jpegSize bytes that writeJpeg puts in place.
int WritePdf(std::int64_t jpegSize, TPixelSize pixels, TPageSizeMM page, const std::string& fileName,
             const std::function<void(TStream& file)>& writeJpeg) {
  const std::int32_t ptW = MMToPixels(72, page.Width);
  const std::int32_t ptH = MMToPixels(72, page.Height);
  // A picture without bytes would give an image without data.
  if (jpegSize <= 0) return kPdfNoJpeg;
  try {
    WriteFileAtomically(fileName, [&](TStream& file) {
      std::vector<std::uint32_t> offsets;
      Put(file, "%PDF-1.2\n");
      offsets.push_back(Offset(file));
      Put(file, "1 0 obj\n<<\n/Type /Catalog\n/Pages 2 0 R\n/OpenAction [3 0 R /XYZ -32768 -32768 1 ]\n>>\nendobj\n");
      offsets.push_back(Offset(file));
      Put(file, "2 0 obj\n<<\n/Type /Pages\n/Kids [ 3 0 R ]\n/Count 1\n>>\nendobj\n");
      offsets.push_back(Offset(file));
      Put(file,
          "3 0 obj\n<<\n/Type /Page\n/Parent 2 0 R\n/Resources\n<<\n/XObject << /Im0 4 0 R >>\n"
          "/ProcSet [ /PDF /ImageC ]\n>>\n/MediaBox [ 0 0 " +
              Num(ptW) + " " + Num(ptH) + " ]\n/Contents 5 0 R\n>>\nendobj\n");
      offsets.push_back(Offset(file));
      Put(file, "4 0 obj\n<<\n/Type /XObject\n/Subtype /Image\n/Name /Im0\n/Width " + Num(pixels.Width) +
                    "\n/Height " + Num(pixels.Height) +
                    "\n/BitsPerComponent 8\n/Filter [/DCTDecode]\n/ColorSpace /DeviceRGB\n/Length " +
                    Num(jpegSize) + " >>\nstream\n");
      writeJpeg(file);
      Put(file, "endstream\nendobj\n");
      offsets.push_back(Offset(file));
      WritePdfContentObject(file, 5, ptW, ptH);
      const std::uint32_t xref = Offset(file);
      WritePdfXref(file, offsets, 5);
      Put(file, "trailer\n<<\n/Size 6\n/Root 1 0 R\n>>\nstartxref\n" + Num(xref) + "\n%%EOF");
    });
  } catch (const EFCreateError&) {
    return kPdfCannotCreate;
  } catch (const std::exception&) {
    return kPdfWriteError;
  }
  return kPdfWritten;
}

}  // namespace

int WriteJpegAsPdf(TStream* jpeg, TPixelSize pixels, TPageSizeMM page, const std::string& fileName) {
  if (jpeg == nullptr) return kPdfNoJpeg;
  const std::int64_t jpegSize = jpeg->Size() - jpeg->Position();
  return WritePdf(jpegSize, pixels, page, fileName, [&](TStream& file) { CopyJpeg(file, *jpeg, jpegSize); });
}

void SavePageToJpgStream(TdtpDocument& document, TStream* stream, TPixelSize pixels, std::uint8_t quality,
                         std::int32_t bandRows) {
  if (stream == nullptr) throw Exception("Error in SavePageToJpgStream");
  TdtpPage* page = document.GetCurrentPage();
  if (page == nullptr) throw Exception("Error in SavePageToJpgStream");
  if (bandRows <= 0) bandRows = PdfBandRows(pixels.Width);
  // The page goes into the encoder a band at a time; shapes' caches at the
  // picture's resolution go once their last band is drawn.
  std::unique_ptr<TdtpJpgRowWriter> writer;
  const bool drawn = page->RenderThumbnailRows(
      pixels.Width, pixels.Height, dtPrinter, bandRows, true, [&](const TBitmap32& band, std::int32_t) {
        if (!writer) writer = std::make_unique<TdtpJpgRowWriter>(stream, pixels.Width, pixels.Height, quality);
        writer->WriteRows(band);
      });
  if (!drawn || !writer) throw Exception("Error in SavePageToJpgStream");
  writer->Finish();
}

std::int32_t PdfBandRows(std::int32_t width) {
  // Whole MCU rows of the encoder's 2 x 2 subsampled chroma.
  constexpr std::int32_t kMcuRows = 16;
  const std::int64_t rows = kPdfBandPixels / std::max<std::int64_t>(width, 1);
  return static_cast<std::int32_t>(std::max<std::int64_t>(kMcuRows, rows / kMcuRows * kMcuRows));
}

TPixelSize PdfPixelSize(TPageSizeMM page, int preset) {
  if (preset < 0 || preset >= static_cast<int>(kPdfPresets.size())) FailExport();
  if (!std::isfinite(page.Width) || !std::isfinite(page.Height)) FailExport();
  const std::int32_t dpi = kPdfPresets[static_cast<std::size_t>(preset)].Resolution;
  const TPixelSize size{MMToPixels(dpi, page.Width), MMToPixels(dpi, page.Height)};
  if (size.Width <= 0 || size.Height <= 0 || size.Width > kMaxJpegSide || size.Height > kMaxJpegSide ||
      std::int64_t{size.Width} * size.Height > kMaxBitmapPixels)
    FailExport();
  return size;
}

void SaveDocumentToPdf(TdtpDocument& document, const std::string& fileName, int preset) {
  TdtpPage* page = document.GetCurrentPage();
  if (page == nullptr) FailExport();
  const TPageSizeMM pageSize{page->PageWidth(), page->PageHeight()};
  const TPixelSize pixels = PdfPixelSize(pageSize, preset);
  TBlockSink stream;
  try {
    SavePageToJpgStream(document, &stream, pixels, kPdfPresets[static_cast<std::size_t>(preset)].Quality);
  } catch (const std::exception&) {
    FailExport();
  }
  if (WritePdf(stream.Size(), pixels, pageSize, fileName, [&](TStream& file) { stream.WriteTo(file); }) !=
      kPdfWritten)
    FailExport();
}

void ExportToPdf(TdtpDocument& project, const std::string& fileName, int preset) {
  try {
    project.update();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    struct TRestore {
      ~TRestore() { QApplication::restoreOverrideCursor(); }
    } restore;
    // The screen's pictures of the page are rebuilt at the next paint; the
    // export's own bands need the memory while it runs.
    if (TdtpPage* shown = project.GetCurrentPage()) shown->ClearCaches();
    std::unique_ptr<TdtpDocument> copy = CopyCurrentPage(project, false);
    PrepareForOutput(*copy, false);
    SaveDocumentToPdf(*copy, fileName, preset);
  } catch (const EOutputError&) {
    throw;
  } catch (const std::exception&) {
    FailExport();
  }
}

std::string PdfFileNamePreset(TdtpDocument& project) {
  const auto* info = dynamic_cast<TDtpProjectInfoShape*>(project.GetShape(kProjectInfoIndex));
  std::string name = info ? info->ProjectName() : std::string();
  for (char& c : name)
    if (c == '/') c = '_';
  if (name == "." || name == "..") name.clear();
  return name;
}

}  // namespace kdl
