#include "document/resources/Resource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <set>
#include <typeinfo>
#include <vector>

#include "document/resources/ArchiveMembers.h"
#include "document/resources/ResourceThread.h"
#include "document/shapes/DocumentServices.h"
#include "document/shapes/MemberNames.h"
#include "foundation/Storage.h"
#include "raster/Bitmap32.h"

namespace kdl {

namespace {

std::string Format(const char* message, const std::string& arg) {
  std::string text(message);
  const auto at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, arg);
  return text;
}

// Whether two streams hold the same bytes, compared a block at a time; both
// are left at position 0.
bool SameBytes(TStream& a, TStream& b) {
  const std::int64_t size = a.Size();
  if (b.Size() != size) return false;
  std::vector<unsigned char> x(65536), y(65536);
  a.SetPosition(0);
  b.SetPosition(0);
  bool same = true;
  for (std::int64_t at = 0; same && at < size;) {
    const std::int64_t n = a.Read(x.data(), static_cast<std::int64_t>(x.size()));
    if (n <= 0 || b.Read(y.data(), n) != n) {
      same = false;
      break;
    }
    same = std::memcmp(x.data(), y.data(), static_cast<std::size_t>(n)) == 0;
    at += n;
  }
  a.SetPosition(0);
  b.SetPosition(0);
  return same;
}

// Takes the global lock for the internal steps that do not count as an
// access of their own.
using TLockGuard = std::lock_guard<TCriticalSection>;

// A read-only stream over an opened file descriptor, which it closes.
class TDescriptorStream : public TStream {
 public:
  TDescriptorStream(int fd, std::int64_t size) : fd_(fd), size_(size) {}
  ~TDescriptorStream() override { ::close(fd_); }
  TDescriptorStream(const TDescriptorStream&) = delete;
  TDescriptorStream& operator=(const TDescriptorStream&) = delete;

  std::int64_t Read(void* buffer, std::int64_t count) override {
    auto* out = static_cast<char*>(buffer);
    std::int64_t done = 0;
    count = std::min(count, size_ - position_);
    while (done < count) {
      const ssize_t n = ::pread(fd_, out + done, static_cast<std::size_t>(count - done), position_ + done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) throw EReadError(std::strerror(errno));
      if (n == 0) break;
      done += n;
    }
    position_ += done;
    return done;
  }
  std::int64_t Write(const void*, std::int64_t) override { return 0; }
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
    const std::int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? position_ : size_;
    position_ = std::clamp<std::int64_t>(base + offset, 0, size_);
    return position_;
  }
  std::int64_t Size() override { return size_; }

 private:
  int fd_;
  std::int64_t size_;
  std::int64_t position_ = 0;
};

// Opens a file named by a document for reading: regular files only (a
// device never ends, a FIFO blocks), no larger than any image we decode.
std::unique_ptr<TDescriptorStream> OpenExternalFile(const std::string& fileName) {
  const int fd = ::open(fileName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) throw EFOpenError(fileName + ": " + std::strerror(errno));
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    throw EResourceError(Format(kNotRegularFile, fileName));
  }
  if (st.st_size > kMaxExternalFileSize) {
    ::close(fd);
    throw EResourceError(Format(kFileTooLarge, fileName));
  }
  return std::make_unique<TDescriptorStream>(fd, static_cast<std::int64_t>(st.st_size));
}

std::mutex g_permittedMutex;
std::set<std::string>& PermittedPaths() {
  static std::set<std::string> paths;
  return paths;
}

std::string PathKey(const std::filesystem::path& path) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  return (ec ? path : absolute).lexically_normal().string();
}

struct TResourceClassHolder {
  std::string Name;
  TdtpResourceFactory Factory;
};

std::mutex g_classMutex;
std::vector<TResourceClassHolder>& ResourceClasses() {
  static std::vector<TResourceClassHolder> classes;
  return classes;
}

}  // namespace

const char* ResourceStorageText(TdtpResourceStorage storage) {
  return storage <= rsEmbedded ? kResourceStorageTexts[storage] : "";
}

void LockResources() { ResourceThread().Lock().Enter(); }
void UnlockResources() { ResourceThread().Lock().Leave(); }
void PurgeResources() { ResourceThread().Purge(false); }

void PermitExternalWrite(const std::filesystem::path& path) {
  std::lock_guard<std::mutex> guard(g_permittedMutex);
  PermittedPaths().insert(PathKey(path));
}

bool ExternalWriteAllowed(const std::filesystem::path& path) {
  std::lock_guard<std::mutex> guard(g_permittedMutex);
  return PermittedPaths().count(PathKey(path)) != 0;
}

// ---- Life -------------------------------------------------------------------------

TdtpResource::TdtpResource(TdtpDocumentServices* document)
    : data_(std::make_unique<TMapStream>()), document_(document) {}

TdtpResource::~TdtpResource() = default;

void TdtpResource::List() { ResourceThread().Add(this); }
void TdtpResource::Unlist() { ResourceThread().Remove(this); }

void TdtpResource::ReplaceObject(std::unique_ptr<TBitmap32> object) {
  object_ = std::move(object);
  objectDecoded_ = false;
}

void TdtpResource::Touch() { ResourceThread().Touch(this); }

void TdtpResource::NewContentVersion() {
  static std::atomic<std::uint64_t> next{0};
  contentVersion_.store(next.fetch_add(1, std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}

// ---- Access -----------------------------------------------------------------------

void TdtpResource::BeginAccess() {
  LockResources();
  accessCount_.fetch_add(1, std::memory_order_relaxed);
}

void TdtpResource::EndAccess() {
  // Leaving a lock this thread does not hold is undefined: check first.
  if (accessCount_.load(std::memory_order_relaxed) <= 0) throw EResourceError(kAccessCountMismatch);
  accessCount_.fetch_sub(1, std::memory_order_relaxed);
  UnlockResources();
}

int TdtpResource::GetLoadState() const {
  if (object_ || objectModified_) return 2;
  if (data_->Size() > 0 || dataModified_) return 1;
  return 0;
}

void TdtpResource::SetLoadState(int state) {
  TResourceAccess access(*this);
  const int current = GetLoadState();
  if (current == state) return;
  switch (state) {
    case 0:
      if (current == 2) DropObject();
      if (GetLoadState() == 1) DropData();
      break;
    case 1:
      if (current == 0) LoadData();
      else DropObject();
      break;
    case 2:
      if (current == 0) LoadData();
      if (GetLoadState() == 1) DecodeObject();
      break;
    default:
      break;
  }
}

TBitmap32* TdtpResource::GetBitmap() {
  TResourceAccess access(*this);
  Touch();
  SetLoadState(2);
  // Bytes that could not be read leave nothing to decode; their error
  // stands for the image all the same.
  if (!object_ && error_) std::rethrow_exception(error_);
  return object_.get();
}

void TdtpResource::SetObject(std::unique_ptr<TBitmap32> object) {
  {
    TResourceAccess access(*this);
    if (object && object.get() == object_.get()) {
      (void)object.release();
      return;
    }
    object_ = std::move(object);
    objectModified_ = true;
    objectDecoded_ = false;
    NewContentVersion();
    Touch();
  }
  DoChange();
}

std::string TdtpResource::ErrorMessage() const {
  if (!error_) return {};
  try {
    std::rethrow_exception(error_);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Unknown error";
  }
}

void TdtpResource::Remember(std::exception_ptr error) { error_ = std::move(error); }
void TdtpResource::ForgetError() { error_ = nullptr; }

std::int64_t TdtpResource::MemorySize() {
  TLockGuard guard(ResourceThread().Lock());
  return data_->Size() + GetObjectSize();
}

// ---- Properties ---------------------------------------------------------------------

TqxStorage* TdtpResource::GetStorage() const { return document_ ? document_->Storage() : nullptr; }

void TdtpResource::ChangeFileExt(const std::string& extension) {
  if (fileName_.empty()) {
    fileName_ = extension;
    return;
  }
  const std::size_t dot = fileName_.find_last_of('.');
  const std::size_t slash = fileName_.find_last_of("/\\");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
    fileName_ += extension;
  else
    fileName_ = fileName_.substr(0, dot) + extension;
}

std::string TdtpResource::GetFileExt() const {
  const std::size_t dot = fileName_.find_last_of('.');
  const std::size_t slash = fileName_.find_last_of("/\\");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string ext = fileName_.substr(dot);
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return ext;
}

void TdtpResource::SetStorage(TdtpResourceStorage storage) {
  TResourceAccess access(*this);
  if (storage == storage_) return;
  LoadData();
  storage_ = storage;
  dataModified_ = true;
  if (archiveName_.empty() && fileName_.size() > 4) archiveName_ = fileName_;
  Flush();
}

void TdtpResource::GetArchiveNames(std::vector<std::string>& names) const {
  if (storage_ == rsArchive && !archiveName_.empty()) names.push_back(archiveName_);
}

// ---- Load-state moves -------------------------------------------------------------------

void TdtpResource::LoadData() {
  TLockGuard guard(ResourceThread().Lock());
  if (objectModified_) {
    EncodeObject();
    return;
  }
  if (dataModified_ || dataLoaded_) return;
  if (storage_ == rsExternal) ReadExternal();
  else if (storage_ == rsArchive) ReadArchive();
}

void TdtpResource::DropData() {
  TLockGuard guard(ResourceThread().Lock());
  Flush();
  if (!dataModified_ && !objectModified_) {
    data_->Clear();
    dataLoaded_ = false;
  }
}

void TdtpResource::DecodeObject() {
  TResourceAccess access(*this);
  if (objectModified_) return;
  object_.reset();
  LoadData();
  // A failed decode is not repeated on every repaint: its error stands
  // until the bytes change.
  if (error_) std::rethrow_exception(error_);
  if (data_->Size() > 0) {
    // A page copied for output or a pasted shape finds the picture its
    // source decoded already.
    if (std::shared_ptr<TBitmap32> shared = FindSharedObject()) {
      object_ = std::move(shared);
      objectDecoded_ = true;
      objectModified_ = false;
      return;
    }
    data_->SetPosition(0);
    std::unique_ptr<TBitmap32> object;
    try {
      if (OnLoadObject)
        OnLoadObject(*this, *data_, object);
      else
        LoadObject(*data_, object);
    } catch (...) {
      Remember(std::current_exception());
      throw;
    }
    object_ = std::move(object);
    objectDecoded_ = object_ != nullptr;
  }
  objectModified_ = false;
}

std::shared_ptr<TBitmap32> TdtpResource::FindSharedObject() {
  // A decoder of the owner's own decides alone what its bytes become.
  if (OnLoadObject) return nullptr;
  const std::int64_t size = data_->Size();
  const std::string extension = GetFileExt();
  TdtpResource* holder = ResourceThread().Find([&](TdtpResource& other) {
    return &other != this && other.object_ && other.objectDecoded_ && !other.objectModified_ &&
           !other.OnLoadObject && other.data_->Size() == size && typeid(other) == typeid(*this) &&
           other.GetFileExt() == extension && SameBytes(*other.data_, *data_);
  });
  return holder ? holder->object_ : nullptr;
}

void TdtpResource::EncodeObject() {
  TLockGuard guard(ResourceThread().Lock());
  if (!objectModified_) return;
  // Encoded beside the old bytes, which are replaced only on success: a
  // failed encode keeps both the old bytes and the modified object.
  auto encoded = std::make_unique<TMapStream>();
  if (object_) {
    if (OnStoreObject)
      OnStoreObject(*this, *encoded, *object_);
    else
      StoreObject(*encoded, *object_);
  }
  data_ = std::move(encoded);
  ForgetError();
  dataModified_ = true;
  objectModified_ = false;
}

void TdtpResource::DropObject() {
  TLockGuard guard(ResourceThread().Lock());
  if (objectModified_) EncodeObject();
  object_.reset();
}

void TdtpResource::Flush() {
  TLockGuard guard(ResourceThread().Lock());
  EncodeObject();
  if (!dataModified_) return;
  if (storage_ == rsExternal) WriteExternal();
  else if (storage_ == rsArchive) WriteArchive();
}

void TdtpResource::DoChange() {
  if (OnChange) OnChange(*this);
  Flush();
}

// ---- Stores ---------------------------------------------------------------------------

void TdtpResource::ReadExternal() {
  TLockGuard guard(ResourceThread().Lock());
  data_->Clear();
  dataModified_ = false;
  // A bare extension names no file.
  if (fileName_.empty() || fileName_[0] == '.') return;
  std::error_code ec;
  if (!std::filesystem::exists(std::filesystem::path(fileName_), ec)) return;
  try {
    const auto file = OpenExternalFile(fileName_);
    ReadExternalFile(*file);
  } catch (const std::exception&) {
    // The resource stays empty and keeps the message; opening the document
    // goes on.
    data_->Clear();
    Remember(std::current_exception());
    dataLoaded_ = true;
    return;
  }
  dataLoaded_ = true;
  if (storage_ == rsArchive) archiveName_ = fileName_;
  if (storage_ != rsExternal) dataModified_ = true;
}

void TdtpResource::ReadExternalFile(TStream& file) {
  data_->SetSize(0);
  const std::int64_t size = file.Size();
  if (size > 0) data_->CopyFrom(file, size);
}

void TdtpResource::ReadArchive() {
  TLockGuard guard(ResourceThread().Lock());
  data_->Clear();
  dataModified_ = false;
  TqxStorage* storage = GetStorage();
  if (archiveName_.empty() || !storage) return;
  if (!storage->StreamExists(archiveName_)) {
    archiveName_.clear();
    dataLoaded_ = true;
    return;
  }
  try {
    storage->ReadStream(archiveName_, *data_);
  } catch (const std::exception&) {
    // The member is still named, so the next save keeps it; the bytes stay
    // unloaded and are tried again on the next use.
    data_->Clear();
    dataLoaded_ = false;
    return;
  }
  if (data_->Size() == 0) archiveName_.clear();
  dataLoaded_ = true;
}

void TdtpResource::WriteArchive() {
  TLockGuard guard(ResourceThread().Lock());
  if (!dataModified_) return;
  TqxStorage* storage = GetStorage();
  if (!storage) return;
  if (data_->Size() > 0) {
    // The document's own members are never ours; a member named after a
    // file may belong to another resource loaded from the same file, so it
    // is written only when absent or already holding these bytes.
    std::string name = archiveName_;
    bool same = false;
    if (!name.empty() && !IsStructuralMemberName(name) && !TqxStorage::IsTempStreamName(name) &&
        storage->StreamExists(name)) {
      same = MemberHoldsBytes(*storage, name, *data_);
      if (!same) name.clear();
    }
    if (name.empty() || IsStructuralMemberName(name)) name = storage->MakeUniqueTempName(GetFileExt());
    if (!same) storage->WriteStream(name, *data_);
    archiveName_ = name;
  } else {
    if (!archiveName_.empty() && !IsStructuralMemberName(archiveName_) &&
        storage->StreamExists(archiveName_))
      storage->DeleteStream(archiveName_);
    archiveName_.clear();
  }
  dataModified_ = false;
}

void TdtpResource::WriteExternal() {
  TLockGuard guard(ResourceThread().Lock());
  if (!dataModified_ || fileName_.empty() || fileName_[0] == '.') return;
  // Only a file the user chose in this session is ever created; a path a
  // project file or the clipboard named is not. The bytes stay unsaved and
  // in memory.
  const std::filesystem::path target(fileName_);
  if (!ExternalWriteAllowed(target)) return;
  std::error_code ec;
  if (std::filesystem::exists(target, ec) && !overwriteExternal_) return;
  if (data_->Size() > 0) {
    WriteFileAtomically(target, [&](TStream& out) {
      data_->SetPosition(0);
      out.CopyFrom(*data_, data_->Size());
    });
  }
  dataModified_ = false;
}

// ---- Whole-resource operations -------------------------------------------------------------

void TdtpResource::LoadFromFile(const std::filesystem::path& fileName) {
  {
    TResourceAccess access(*this);
    ClearContent();
    std::error_code ec;
    if (!std::filesystem::exists(fileName, ec))
      throw EResourceError(Format(kFileDoesNotExist, fileName.string()));
    fileName_ = PathKey(fileName);
    ReadExternal();
    if (error_) std::rethrow_exception(error_);
    if (data_->Size() > 0) {
      dataModified_ = true;
      if (storage_ == rsArchive) WriteArchive();
    }
  }
  if (OnLoaded) OnLoaded(*this);
  DoChange();
}

bool TdtpResource::ClearContent() {
  TLockGuard guard(ResourceThread().Lock());
  data_->Clear();
  archiveName_.clear();
  fileName_.clear();
  objectModified_ = dataModified_ = dataLoaded_ = false;
  NewContentVersion();
  ForgetError();
  const bool hadObject = object_ != nullptr;
  object_.reset();
  objectDecoded_ = false;
  return hadObject;
}

void TdtpResource::Clear() {
  bool hadObject = false;
  {
    TResourceAccess access(*this);
    hadObject = ClearContent();
  }
  if (hadObject) DoChange();
}

void TdtpResource::Release() {
  TLockGuard guard(ResourceThread().Lock());
  if (AccessCount() > 0) return;
  const int target = storage_ == rsExternal || storage_ == rsArchive ? 0 : 1;
  // Most listed resources hold nothing to give back: no bracket for those.
  if (GetLoadState() > target) SetLoadState(target);
}

// ---- Hooks of derived classes -------------------------------------------------------------

void TdtpResource::StoreObject(TStream&, TBitmap32&) { throw EResourceError(kNoObjectStoring); }

void TdtpResource::LoadObject(TStream&, std::unique_ptr<TBitmap32>&) {
  throw EResourceError(kNoObjectLoading);
}

std::int64_t TdtpResource::GetObjectSize() { return object_ ? data_->Size() : 0; }

// ---- Registry ------------------------------------------------------------------------------

void RegisterResourceClass(const std::string& name, TdtpResourceFactory factory) {
  std::lock_guard<std::mutex> guard(g_classMutex);
  auto& classes = ResourceClasses();
  for (const auto& c : classes)
    if (c.Name == name) return;
  classes.push_back({name, factory});
}

std::unique_ptr<TdtpResource> CreateResource(const std::string& name, TdtpDocumentServices* document) {
  TdtpResourceFactory factory = nullptr;
  {
    std::lock_guard<std::mutex> guard(g_classMutex);
    for (const auto& c : ResourceClasses())
      if (c.Name == name) factory = c.Factory;
  }
  return factory ? factory(document) : nullptr;
}

}  // namespace kdl
