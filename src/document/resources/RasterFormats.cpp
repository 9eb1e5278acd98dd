#include "document/resources/RasterFormats.h"

#include <atomic>
#include <mutex>
#include <vector>

#include "document/resources/formats/BmpFormat.h"
#include "document/resources/formats/GifFormat.h"
#include "document/resources/formats/HckImage.h"
#include "document/resources/formats/JpgFormat.h"
#include "document/resources/formats/PngFormat.h"
#include "foundation/Stream.h"
#include "raster/Bitmap32.h"

namespace kdl {

namespace {

struct TRasterClassHolder {
  const TRasterClass* Class;
  std::string Description;
  std::string Extensions;  // lower case, each ".ext;"
  std::uint16_t Flags;
};

struct TRegistry {
  std::mutex Lock;
  std::vector<TRasterClassHolder> Entries;
};

TRegistry& Registry() {
  static TRegistry registry;
  return registry;
}

std::string LowerAscii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// The extension of a file name with its dot; empty when it has none.
std::string ExtractExtension(const std::string& fileName) {
  const auto dot = fileName.find_last_of('.');
  if (dot == std::string::npos) return {};
  const auto slash = fileName.find_last_of("/\\");
  if (slash != std::string::npos && slash > dot) return {};
  return fileName.substr(dot);
}

// First entry whose extension list holds ext (lower-cased) + ";" and whose
// flags include all of required.
const TRasterClass* FindClass(const std::string& ext, std::uint16_t required) {
  if (ext.empty()) return nullptr;
  const std::string key = LowerAscii(ext) + ";";
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.Lock);
  for (const auto& e : r.Entries)
    if (e.Extensions.find(key) != std::string::npos && (e.Flags & required) == required)
      return e.Class;
  return nullptr;
}

const TRasterClassHolder* FindEntry(const TRasterClass* cls) {
  for (const auto& e : Registry().Entries)
    if (e.Class == cls) return &e;
  return nullptr;
}

}  // namespace

void RaiseRasterError(const char* message, const std::string& arg) {
  std::string text(message);
  const auto at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, arg);
  throw ERasterError(text);
}

// ---- Registry ---------------------------------------------------------------

void RegisterRasterFormat(const TRasterClass& cls, const std::string& description,
                          const std::string& extensions, std::uint16_t flags) {
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.Lock);
  for (auto& e : r.Entries)
    if (e.Class == &cls) {
      e.Description = description;
      e.Extensions = LowerAscii(extensions);
      e.Flags = flags;
      return;
    }
  r.Entries.push_back({&cls, description, LowerAscii(extensions), flags});
}

const TRasterClass* RasterClassByExtension(const std::string& fileName) {
  return FindClass(ExtractExtension(fileName), 0);
}

const TRasterClass* FindWriterClass(const std::string& extension) {
  return FindClass(extension, rfWriter);
}

std::uint16_t RasterClassFlags(const TRasterClass* cls) {
  std::lock_guard<std::mutex> guard(Registry().Lock);
  const auto* e = FindEntry(cls);
  return e ? e->Flags : 0;
}

std::string RasterClassDescription(const TRasterClass* cls) {
  std::lock_guard<std::mutex> guard(Registry().Lock);
  const auto* e = FindEntry(cls);
  return e ? e->Description : std::string();
}

std::string RasterClassExtensions(const TRasterClass* cls) {
  std::lock_guard<std::mutex> guard(Registry().Lock);
  const auto* e = FindEntry(cls);
  return e ? e->Extensions : std::string();
}

int RasterFormatCount() {
  std::lock_guard<std::mutex> guard(Registry().Lock);
  return static_cast<int>(Registry().Entries.size());
}

const TRasterClass* RasterFormat(int index) {
  std::lock_guard<std::mutex> guard(Registry().Lock);
  const auto& entries = Registry().Entries;
  if (index < 0 || index >= static_cast<int>(entries.size())) return nullptr;
  return entries[static_cast<std::size_t>(index)].Class;
}

void RegisterRasterFormats() {
  RegisterRasterFormat(TdtpBmpFormat::Class(), "Windows Bitmap", ".bmp;.dib;", 15);
  RegisterRasterFormat(TdtpJpgFormat::Class(), "JPEG images", ".jpg;.jp;.jpeg;", 0xE1F);
  RegisterRasterFormat(THckImage::Class(), "HCK Image", ".hck;", 0x6F);
  RegisterRasterFormat(TdtpGifFormat::Class(), "Compuserve GIF", ".gif;", 0x106F);
  RegisterRasterFormat(TdtpPngFormat::Class(), "Portable Network Graphics", ".png;", 0x4F);
}

// ---- TdtpRaster ---------------------------------------------------------------

TdtpRaster::TdtpRaster(const TRasterClass& cls) : class_(&cls), flags_(RasterClassFlags(&cls)) {}

bool TdtpRaster::CanLoad(TStream*) { return true; }

void TdtpRaster::LoadFromFile(const std::filesystem::path& fileName, TBitmap32* bitmap,
                              std::int32_t page, std::int32_t width, std::int32_t height) {
  if (!(flags_ & rfReadsStreams)) RaiseRasterError(kRasterNotImplemented);
  TFileStream file(fileName, fmOpenRead);
  LoadFromStream(&file, bitmap, page, width, height);
  bytesProcessed_ = file.Position();
}

void TdtpRaster::LoadFromStream(TStream*, TBitmap32*, std::int32_t, std::int32_t, std::int32_t) {
  RaiseRasterError(kRasterStreamNotImplemented);
}

void TdtpRaster::SaveToStream(TStream*, TBitmap32*) { RaiseRasterError(kRasterNotImplemented); }

void TdtpRaster::SaveToFile(const std::filesystem::path& fileName, TBitmap32* bitmap) {
  if (!(flags_ & rfWritesStreams)) RaiseRasterError(kRasterNotImplemented);
  // Written beside the target and renamed over it, so that a failure keeps
  // the previous file.
  WriteFileAtomically(fileName, [&](TStream& s) {
    SaveToStream(&s, bitmap);
    bytesProcessed_ = s.Position();
  });
}

// ---- TdtpImageFiler -------------------------------------------------------------

TdtpImageFiler::TdtpImageFiler() = default;
TdtpImageFiler::~TdtpImageFiler() = default;

void TdtpImageFiler::SetFormat(const std::string& value) {
  if (value == format_) return;
  format_ = value;
  raster_.reset();
}

void TdtpImageFiler::SetFileName(const std::string& value) {
  if (value == fileName_) return;
  fileName_ = value;
  raster_.reset();
}

bool TdtpImageFiler::ReadsStreams() const {
  return raster_ && stream_ && (raster_->Flags() & rfReadsStreams);
}

bool TdtpImageFiler::WritesStreams() const {
  return raster_ && stream_ && (raster_->Flags() & rfWritesStreams);
}

void TdtpImageFiler::ChooseReader() {
  if (raster_) return;
  if (!fileName_.empty()) format_ = ExtractExtension(fileName_);

  // The data to check: the caller's stream when the format reads streams,
  // else the file, which is ours to close again.
  std::unique_ptr<TFileStream> file;
  auto source = [&](bool readsStreams) -> TStream* {
    if (stream_ && readsStreams) return stream_;
    if (fileName_.empty()) return nullptr;
    if (!file) file = std::make_unique<TFileStream>(fileName_, fmOpenRead);
    return file.get();
  };

  if (!format_.empty()) {
    if (const TRasterClass* cls = FindClass(format_, 0)) {
      auto instance = cls->Create();
      if (cls->CanLoad(nullptr)) {
        raster_ = std::move(instance);
        return;
      }
      if (TStream* s = source(instance->Flags() & rfReadsStreams)) {
        s->Seek(0, soBeginning);
        if (cls->CanLoad(s)) {
          raster_ = std::move(instance);
          return;
        }
      }
    }
  }

  // No usable extension: every format checks the data's signature, in
  // registration order.
  TStream* s = source(stream_ != nullptr);
  if (!s) return;
  s->Seek(0, soBeginning);
  const int count = RasterFormatCount();
  for (int i = 0; i < count; ++i) {
    const TRasterClass* cls = RasterFormat(i);
    if (cls && cls->CanLoad(s)) {
      raster_ = cls->Create();
      return;
    }
  }
}

namespace {
std::atomic<TRasterDecodeHook> g_decodeHook{nullptr};
}  // namespace

void SetRasterDecodeHook(TRasterDecodeHook hook) { g_decodeHook.store(hook); }

void TdtpImageFiler::LoadBitmap(TBitmap32* bitmap) {
  if (!bitmap) RaiseRasterError(kRasterInputNotAssigned);
  if (!raster_) ChooseReader();
  if (!raster_) RaiseRasterError(kRasterUnknownFormat, format_);
  if (const TRasterDecodeHook hook = g_decodeHook.load()) hook(raster_->ClassType());
  if (stream_) {
    const std::int64_t start = stream_->Position();
    raster_->LoadFromStream(stream_, bitmap, page_, requestedWidth_, requestedHeight_);
    size_ = stream_->Position() - start;
  } else if (raster_->Flags() & rfReadsStreams) {
    TFileStream file(fileName_, fmOpenRead);
    raster_->LoadFromStream(&file, bitmap, page_, requestedWidth_, requestedHeight_);
    size_ = file.Size();
  } else {
    raster_->LoadFromFile(fileName_, bitmap, page_, requestedWidth_, requestedHeight_);
    size_ = raster_->BytesProcessed();
  }
  pageCount_ = raster_->PageCount();
}

void TdtpImageFiler::SaveBitmap(TBitmap32* bitmap) {
  if (!bitmap) RaiseRasterError(kRasterInputNotAssigned);
  if (!raster_) {
    std::string ext = ExtractExtension(fileName_);
    if (ext.empty()) ext = format_;
    const TRasterClass* cls = FindWriterClass(ext);
    if (!cls) RaiseRasterError(kRasterCannotSave, ext);
    raster_ = cls->Create();
  }
  if (stream_ && (raster_->Flags() & rfWritesStreams)) {
    const std::int64_t start = stream_->Position();
    raster_->SaveToStream(stream_, bitmap);
    size_ = stream_->Size() - start;
  } else {
    raster_->SaveToFile(fileName_, bitmap);
    std::error_code ec;
    const auto n = std::filesystem::file_size(fileName_, ec);
    size_ = ec ? 0 : static_cast<std::int64_t>(n);
  }
}

void LoadBitmapFromStream(TStream* stream, const std::string& extension, TBitmap32* bitmap,
                          std::int32_t page, std::int32_t width, std::int32_t height) {
  TdtpImageFiler filer;
  filer.SetFormat(extension);
  filer.SetStream(stream);
  filer.SetPage(page);
  if (static_cast<std::int64_t>(width) * height > 0) filer.SetRequestedSize(width, height);
  filer.LoadBitmap(bitmap);
}

}  // namespace kdl
