// The registry of raster image formats and the image filer that picks a
// format for a file or stream, loads a TBitmap32 through it or saves one.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/Exception.h"

namespace kdl {

class TBitmap32;
class TStream;

// The exception of the registry and of every image format.
KDL_DECLARE_EXCEPTION(ERasterError, Exception);

inline constexpr const char* kRasterInputNotAssigned = "Input bitmap not assigned";
inline constexpr const char* kRasterUnknownFormat = "Unknown raster format \"%s\"";
inline constexpr const char* kRasterCannotSave = "Cannot save format \"%s\"";
inline constexpr const char* kRasterStreamNotImplemented = "Loading from stream is not implemented";
inline constexpr const char* kRasterNotImplemented = "Method not implemented";
inline constexpr const char* kRasterNoSuchPage = "Requested non-existing page";
inline constexpr const char* kRasterNoCodec = "No suitable codec found";
inline constexpr const char* kRasterBitDepth = "Unsupported bitdepth";
inline constexpr const char* kRasterCorrupted = "Image file is corrupted";
inline constexpr const char* kRasterCompress = "Unable to compress";
inline constexpr const char* kRasterDecompress = "Unable to decompress";
inline constexpr const char* kRasterStreamUnassigned = "Stream to read/write is unassigned";

// Raises ERasterError with the message; "%s" in it is replaced by arg.
[[noreturn]] void RaiseRasterError(const char* message, const std::string& arg = {});

// Capability flags of a registered format.
inline constexpr std::uint16_t rfReadsStreams = 0x0001;
inline constexpr std::uint16_t rfWritesStreams = 0x0004;
inline constexpr std::uint16_t rfWriter = 0x0008;
inline constexpr std::uint16_t rfBottomLeftTransparent = 0x0040;

// No decoded bitmap of ours may exceed this many pixels (1 GiB).
inline constexpr std::int64_t kMaxRasterPixels = std::int64_t{1} << 28;

class TdtpRaster;

// What the registry knows of a format class: its name, how to make an
// instance and its content check (a null stream asks without data).
struct TRasterClass {
  const char* ClassName;
  std::unique_ptr<TdtpRaster> (*Create)();
  bool (*CanLoad)(TStream* stream);
};

// The base of every format. Width, Height and PageCount describe the image
// last read; BytesProcessed is the stream position after a file operation.
class TdtpRaster {
 public:
  explicit TdtpRaster(const TRasterClass& cls);
  virtual ~TdtpRaster() = default;
  TdtpRaster(const TdtpRaster&) = delete;
  TdtpRaster& operator=(const TdtpRaster&) = delete;

  // The base accepts anything, even without a stream.
  static bool CanLoad(TStream* stream);

  virtual void LoadFromFile(const std::filesystem::path& fileName, TBitmap32* bitmap,
                            std::int32_t page, std::int32_t width, std::int32_t height);
  virtual void LoadFromStream(TStream* stream, TBitmap32* bitmap, std::int32_t page,
                              std::int32_t width, std::int32_t height);
  virtual void SaveToStream(TStream* stream, TBitmap32* bitmap);
  virtual void SaveToFile(const std::filesystem::path& fileName, TBitmap32* bitmap);

  const TRasterClass& ClassType() const { return *class_; }
  std::uint16_t Flags() const { return flags_; }
  std::int32_t Width() const { return width_; }
  std::int32_t Height() const { return height_; }
  std::int32_t PageCount() const { return pageCount_; }
  std::int64_t BytesProcessed() const { return bytesProcessed_; }

 protected:
  const TRasterClass* class_;
  std::uint16_t flags_;
  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
  std::int32_t pageCount_ = 1;
  std::int64_t bytesProcessed_ = 0;
};

// A TRasterClass for a format type T with a default constructor and a
// static CanLoad.
template <class T>
const TRasterClass& RasterClassOf(const char* className) {
  static const TRasterClass cls{
      className, []() -> std::unique_ptr<TdtpRaster> { return std::make_unique<T>(); },
      &T::CanLoad};
  return cls;
}

// Updates the entry of a class already registered, else appends one.
void RegisterRasterFormat(const TRasterClass& cls, const std::string& description,
                          const std::string& extensions, std::uint16_t flags);
// The first class whose extension list holds the name's lower-case
// extension; null for none or for a name without extension.
const TRasterClass* RasterClassByExtension(const std::string& fileName);
// The first class whose list holds the extension and that may write.
const TRasterClass* FindWriterClass(const std::string& extension);
std::uint16_t RasterClassFlags(const TRasterClass* cls);
std::string RasterClassDescription(const TRasterClass* cls);
std::string RasterClassExtensions(const TRasterClass* cls);
// The registered classes in lookup order.
int RasterFormatCount();
const TRasterClass* RasterFormat(int index);

// Registers BMP, JPEG, ".hck", GIF and PNG in that (lookup) order. Called
// once at start-up; calling again changes nothing.
void RegisterRasterFormats();

// Called with the chosen format before every decode a filer makes (each
// picture the program reads from bytes or files); null for none. Lets a
// test count decodes.
using TRasterDecodeHook = void (*)(const TRasterClass& cls);
void SetRasterDecodeHook(TRasterDecodeHook hook);

// Picks a format for a file or stream and loads or saves through it.
class TdtpImageFiler {
 public:
  TdtpImageFiler();
  ~TdtpImageFiler();
  TdtpImageFiler(const TdtpImageFiler&) = delete;
  TdtpImageFiler& operator=(const TdtpImageFiler&) = delete;

  // The extension with its dot.
  const std::string& Format() const { return format_; }
  void SetFormat(const std::string& value);
  const std::string& FileName() const { return fileName_; }
  void SetFileName(const std::string& value);
  std::int32_t RequestedWidth() const { return requestedWidth_; }
  std::int32_t RequestedHeight() const { return requestedHeight_; }
  void SetRequestedSize(std::int32_t width, std::int32_t height) {
    requestedWidth_ = width;
    requestedHeight_ = height;
  }
  std::int32_t Page() const { return page_; }
  void SetPage(std::int32_t value) { page_ = value; }
  std::int32_t PageCount() const { return pageCount_; }
  TStream* Stream() const { return stream_; }
  void SetStream(TStream* value) { stream_ = value; }
  std::int64_t Size() const { return size_; }
  // The chosen format, null before one is chosen.
  TdtpRaster* Raster() const { return raster_.get(); }

  void ChooseReader();
  void LoadBitmap(TBitmap32* bitmap);
  void SaveBitmap(TBitmap32* bitmap);
  bool ReadsStreams() const;
  bool WritesStreams() const;

 private:
  std::string format_;
  std::string fileName_;
  std::int32_t requestedWidth_ = 4000;
  std::int32_t requestedHeight_ = 4000;
  std::int32_t page_ = 0;
  std::int32_t pageCount_ = 0;
  TStream* stream_ = nullptr;
  std::int64_t size_ = 0;
  std::unique_ptr<TdtpRaster> raster_;
};

// Loads page of the image in stream (from its position) into bitmap; the
// extension (with its dot) is the format hint; a zero requested size means
// the default 4000 by 4000.
void LoadBitmapFromStream(TStream* stream, const std::string& extension, TBitmap32* bitmap,
                          std::int32_t page, std::int32_t width, std::int32_t height);

}  // namespace kdl
