// A resource: one shared data item of a document, the bytes of a file plus,
// on demand, the object decoded from them. It knows where its bytes live
// (nowhere, an external file, a member of the document's archive, or
// embedded in its owner's XML), loads them lazily, decodes on first use,
// writes the bytes back when its owner is saved, and gives up the decoded
// object and the bytes again when the cache thread trims memory.
//
// Every access to the bytes or the object runs inside an access bracket
// (TResourceAccess), which holds the one global resource lock: a pointer
// that GetBitmap returns is valid only inside the caller's bracket.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "document/resources/MapStream.h"
#include "platform/Exception.h"

namespace kdl {

class TBitmap32;
class TdtpDocumentServices;
class TqxStorage;
class TXmlNode;

KDL_DECLARE_EXCEPTION(EResourceError, Exception);

inline constexpr const char* kAccessCountMismatch = "Access count mismatch";
inline constexpr const char* kNoObjectStoring = "No method for object storing defined";
inline constexpr const char* kNoObjectLoading = "No method for object loading defined";
inline constexpr const char* kFileDoesNotExist = "File does not exist: %s";
inline constexpr const char* kUnsupportedBinaryEncoding = "Unsupported binary encoding";
inline constexpr const char* kMissingBinaryData = "Missing data in binary stream";
inline constexpr const char* kNotRegularFile = "Not a regular file: %s";
inline constexpr const char* kFileTooLarge = "File is too large: %s";

// The largest external file read: the bytes of the largest image we decode
// (2^28 pixels of 4 bytes) and room for any file header.
inline constexpr std::int64_t kMaxExternalFileSize = (std::int64_t{1} << 30) + (std::int64_t{1} << 20);

enum TdtpResourceStorage : std::uint8_t { rsNone = 0, rsExternal = 1, rsArchive = 2, rsEmbedded = 3 };
inline constexpr const char* kResourceStorageTexts[] = {"None", "External", "Archive", "Embedded"};
const char* ResourceStorageText(TdtpResourceStorage storage);

// The one re-entrant lock that serialises every resource access with the
// cache thread; the document holds it around loading and saving.
void LockResources();
void UnlockResources();
// Runs the cache trim at once in the calling thread (the document calls it
// after each page it saves); may encode and write unsaved bytes.
void PurgeResources();

class TResourcesLock {
 public:
  TResourcesLock() { LockResources(); }
  ~TResourcesLock() { UnlockResources(); }
  TResourcesLock(const TResourcesLock&) = delete;
  TResourcesLock& operator=(const TResourcesLock&) = delete;
};

// Paths the user picked in this session (a save dialog). A resource writes
// an external file only to such a path, never to one a project file or the
// clipboard named.
void PermitExternalWrite(const std::filesystem::path& path);
bool ExternalWriteAllowed(const std::filesystem::path& path);

class TdtpResource {
 public:
  using TNotifyEvent = std::function<void(TdtpResource& sender)>;
  // Decodes source (positioned at 0) into object.
  using TLoadObjectEvent =
      std::function<void(TdtpResource& sender, TStream& source, std::unique_ptr<TBitmap32>& object)>;
  // Encodes object into target (empty).
  using TStoreObjectEvent =
      std::function<void(TdtpResource& sender, TStream& target, TBitmap32& object)>;

  virtual ~TdtpResource();
  TdtpResource(const TdtpResource&) = delete;
  TdtpResource& operator=(const TdtpResource&) = delete;

  // A resource of class T, listed with the cache thread once fully built and
  // unlisted before any part of it is destroyed.
  template <class T>
  static std::unique_ptr<T> Create(TdtpDocumentServices* document);

  virtual std::string ClassName() const { return "TdtpResource"; }

  // ---- Access -------------------------------------------------------------------
  // Takes the global lock, then counts; EndAccess checks first and raises
  // "Access count mismatch" without touching the lock when nothing is open.
  void BeginAccess();
  void EndAccess();
  int AccessCount() const { return accessCount_.load(std::memory_order_relaxed); }

  // 2 with an object (or a modified one), else 1 with bytes (or unsaved
  // ones), else 0.
  int GetLoadState() const;
  void SetLoadState(int state);

  // Decodes when needed; null without bytes. After a failed decode (or a
  // failed read of an external file) it raises the remembered error again,
  // without decoding, until the bytes change. Resources of one type that
  // hold the same bytes under the same extension share one decoded bitmap,
  // so it is read only: a new picture goes in through SetObject or the
  // class's own setter.
  TBitmap32* GetBitmap();
  // Takes ownership; nothing when it is the current object.
  void SetObject(std::unique_ptr<TBitmap32> object);
  // The message of the remembered failure; empty when there is none.
  std::string ErrorMessage() const;
  // Changes whenever the bytes or the object are replaced, never twice to
  // the same value in a process; decoding the same bytes again after a trim
  // keeps it. Pixels derived from the object stay valid while it holds.
  std::uint64_t ContentVersion() const { return contentVersion_.load(std::memory_order_relaxed); }

  // Reads a file the user picked: "File does not exist: %s" for a missing
  // one; an unreadable one raises its message and leaves the resource empty.
  void LoadFromFile(const std::filesystem::path& fileName);
  TdtpResourceStorage Storage() const { return storage_; }
  void SetStorage(TdtpResourceStorage storage);
  const std::string& ArchiveName() const { return archiveName_; }
  const std::string& FileName() const { return fileName_; }
  // A bare extension when empty, else FileName's extension replaced.
  void ChangeFileExt(const std::string& extension);
  // FileName's lower-case extension with its dot.
  std::string GetFileExt() const;
  TdtpDocumentServices* Document() const { return document_; }
  // An owner that moves to another document takes its resource along; call
  // under the resource lock.
  void SetDocument(TdtpDocumentServices* document) { document_ = document; }
  // The document's archive; null without one.
  TqxStorage* GetStorage() const;
  // Replaces an existing external file (false unless an owner sets it).
  bool OverwriteExternal() const { return overwriteExternal_; }
  void SetOverwriteExternal(bool value) { overwriteExternal_ = value; }

  bool ObjectModified() const { return objectModified_; }
  bool DataModified() const { return dataModified_; }
  bool DataLoaded() const { return dataLoaded_; }
  // The bytes; use inside an access bracket.
  TMapStream& Data() { return *data_; }
  // Bytes in Data plus the decoded object's size: what the trim counts.
  std::int64_t MemorySize();

  // Adds ArchiveName when the bytes live in the archive under a name.
  virtual void GetArchiveNames(std::vector<std::string>& names) const;
  virtual void Assign(TdtpResource& source);
  virtual void Clear();
  // Called by the trim; nothing while accessed. External and archived
  // resources drop object and bytes, the others the object only.
  virtual void Release();
  virtual void LoadFromXml(TXmlNode& node);
  virtual void SaveToXml(TXmlNode& node);

  // Encodes a modified object, then writes unsaved bytes to their store.
  void Flush();
  // Fires OnChange, then flushes.
  void DoChange();

  TLoadObjectEvent OnLoadObject;
  TStoreObjectEvent OnStoreObject;
  TNotifyEvent OnLoaded;
  TNotifyEvent OnChange;

 protected:
  explicit TdtpResource(TdtpDocumentServices* document);

  // Encode object into target / decode source into object; the base raises.
  virtual void StoreObject(TStream& target, TBitmap32& object);
  virtual void LoadObject(TStream& source, std::unique_ptr<TBitmap32>& object);
  // Copies an opened, checked external file (positioned at 0) into Data.
  virtual void ReadExternalFile(TStream& file);
  // 0 without an object, else the size of Data.
  virtual std::int64_t GetObjectSize();

  TBitmap32* Object() const { return object_.get(); }
  void ReplaceObject(std::unique_ptr<TBitmap32> object);
  void Touch();
  // Empties bytes, names, flags and the object; true when an object went.
  bool ClearContent();
  void MarkObjectModified() {
    objectModified_ = true;
    objectDecoded_ = false;
    NewContentVersion();
  }
  // Whether another resource holds the object too.
  bool ObjectShared() const { return object_.use_count() > 1; }
  void NewContentVersion();

  void LoadData();
  void DropData();
  void DecodeObject();
  void EncodeObject();
  void DropObject();
  void ReadExternal();
  void ReadArchive();
  void WriteArchive();
  void WriteExternal();

 private:
  template <class T>
  friend class TListedResource;
  friend class TdtpResourceThread;

  void List();
  void Unlist();
  void Remember(std::exception_ptr error);
  void ForgetError();
  void ReadEmbedded(TXmlNode& data);
  // A decoded object of another listed resource for the same bytes; null
  // for none.
  std::shared_ptr<TBitmap32> FindSharedObject();

  std::atomic<int> accessCount_{0};
  bool overwriteExternal_ = false;
  std::string archiveName_;
  std::string fileName_;
  bool objectModified_ = false;
  std::unique_ptr<TMapStream> data_;
  bool dataModified_ = false;
  bool dataLoaded_ = false;
  TdtpResourceStorage storage_ = rsEmbedded;
  TdtpDocumentServices* document_;
  std::shared_ptr<TBitmap32> object_;
  // The object is what the bytes decode to, so others with the same bytes
  // may share it (not one set from outside and encoded since).
  bool objectDecoded_ = false;
  std::exception_ptr error_;
  std::atomic<std::uint64_t> contentVersion_{0};
};

// An access bracket: BeginAccess now, EndAccess at the end of the scope.
class TResourceAccess {
 public:
  explicit TResourceAccess(TdtpResource& resource) : resource_(resource) { resource_.BeginAccess(); }
  ~TResourceAccess() { resource_.EndAccess(); }
  TResourceAccess(const TResourceAccess&) = delete;
  TResourceAccess& operator=(const TResourceAccess&) = delete;

 private:
  TdtpResource& resource_;
};

// The most derived class of every resource that exists: it joins the cache
// thread's list after every base is built and leaves it before any is
// destroyed, so the thread never sees a half-made object.
template <class T>
class TListedResource final : public T {
 public:
  explicit TListedResource(TdtpDocumentServices* document) : T(document) { this->List(); }
  ~TListedResource() override { this->Unlist(); }
};

template <class T>
std::unique_ptr<T> TdtpResource::Create(TdtpDocumentServices* document) {
  return std::unique_ptr<T>(new TListedResource<T>(document));
}

// ---- Resource classes by name ----------------------------------------------------
using TdtpResourceFactory = std::unique_ptr<TdtpResource> (*)(TdtpDocumentServices* document);
// A name already listed is ignored.
void RegisterResourceClass(const std::string& name, TdtpResourceFactory factory);
template <class T>
void RegisterResourceClass(const std::string& name) {
  RegisterResourceClass(name, [](TdtpDocumentServices* d) -> std::unique_ptr<TdtpResource> {
    return TdtpResource::Create<T>(d);
  });
}
// Null for a name never registered.
std::unique_ptr<TdtpResource> CreateResource(const std::string& name, TdtpDocumentServices* document);
// TdtpResource and TdtpBitmapResource; later calls change nothing.
void RegisterResourceClasses();

}  // namespace kdl
