// Loading and saving the document as an archive: "Index.xml" with the
// settings, one member per page read on first use, thumbnails and the font
// member.
#include <QImage>
#include <QPainter>
#include <charconv>
#include <cmath>
#include <cstring>
#include <exception>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "document/resources/BitmapResource.h"
#include "document/resources/StreamAdapter.h"
#include "document/shapes/MemberNames.h"
#include "document/text/FontManager.h"
#include "document/view/Document.h"
#include "document/view/Page.h"
#include "foundation/BrenlowXml.h"
#include "foundation/Storage.h"
#include "raster/Bitmap32.h"

namespace kdl {

// Raises the busy counter with the hourglass for one load or save.
class TDocumentBusy {
 public:
  explicit TDocumentBusy(TdtpDocument& document) : document_(document) {
    document_.CheckBusy();
    document_.BeginBusy(crHourGlass);
  }
  ~TDocumentBusy() { document_.EndBusy(); }
  TDocumentBusy(const TDocumentBusy&) = delete;
  TDocumentBusy& operator=(const TDocumentBusy&) = delete;

 private:
  TdtpDocument& document_;
};

// IsLoading for the scope, restored however it ends. Nothing read from a
// file is the user's action: undo stays locked too, so that no setter a
// reader calls can record a command.
class TDocumentLoading {
 public:
  explicit TDocumentLoading(TdtpDocument& document)
      : document_(document), was_(document.isLoading_) {
    document_.isLoading_ = true;
    document_.LockUndo();
  }
  ~TDocumentLoading() {
    document_.UnlockUndo();
    document_.isLoading_ = was_;
  }
  TDocumentLoading(const TDocumentLoading&) = delete;
  TDocumentLoading& operator=(const TDocumentLoading&) = delete;

 private:
  TdtpDocument& document_;
  bool was_;
};

namespace {

constexpr double kDpmReadDefault = 5.905511811023622;

bool PositiveFinite(double value) { return std::isfinite(value) && value > 0; }

float ReadPositive(const TXmlNode& node, std::string_view name, double def) {
  const double value = node.ReadFloat(name, def);
  return static_cast<float>(PositiveFinite(value) && value <= 3.4e38 ? value : def);
}

float ReadFinite(const TXmlNode& node, std::string_view name, double def) {
  const double value = node.ReadFloat(name, def);
  return static_cast<float>(std::isfinite(value) && std::fabs(value) <= 3.4e38 ? value : def);
}

// An ordinal within 0..last; anything else reads as the default 0.
int ReadOrdinal(const TXmlNode& node, std::string_view name, int last) {
  const int value = node.ReadInteger(name, 0);
  return value >= 0 && value <= last ? value : 0;
}

std::int32_t ReadThumbnailSide(const TXmlNode& node, std::string_view name, std::int32_t def) {
  const std::int32_t value = node.ReadInteger(name, def);
  return value >= kMinThumbnailSide && value <= kMaxThumbnailSide ? value : def;
}

std::uint32_t LittleEndian(const unsigned char* p, int bytes) {
  std::uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

// Whether a BMP's header gives sides a thumbnail may have; a crafted one
// must not make us decode a giant bitmap for a small picture.
bool ThumbnailHeaderFits(TMemoryStream& stream) {
  unsigned char head[26] = {};
  stream.Seek(0, soBeginning);
  const std::int64_t n = stream.Read(head, sizeof head);
  stream.Seek(0, soBeginning);
  if (n < 26 || head[0] != 'B' || head[1] != 'M') return false;
  std::int64_t width, height;
  if (LittleEndian(head + 14, 4) == 12) {
    width = LittleEndian(head + 18, 2);
    height = LittleEndian(head + 20, 2);
  } else {
    width = static_cast<std::int32_t>(LittleEndian(head + 18, 4));
    height = static_cast<std::int32_t>(LittleEndian(head + 22, 4));
  }
  height = height < 0 ? -height : height;
  return width >= kMinThumbnailSide && width <= kMaxThumbnailSide &&
         height >= kMinThumbnailSide && height <= kMaxThumbnailSide;
}

// The thumbnail of a Windows bitmap member; null when it does not decode.
std::unique_ptr<QImage> ReadThumbnail(TMemoryStream& stream) {
  if (!ThumbnailHeaderFits(stream)) return nullptr;
  try {
    TBitmap32 bitmap;
    TStreamReader in(stream);
    bitmap.LoadFromStream(in);
    if (bitmap.Empty() || !bitmap.DC()) return nullptr;
    return std::make_unique<QImage>(bitmap.DC()->convertToFormat(QImage::Format_RGB888));
  } catch (const std::exception&) {
    return nullptr;
  }
}

void WriteThumbnail(const QImage& image, TStream& stream) {
  TBitmap32 bitmap;
  bitmap.SetSize(image.width(), image.height());
  if (QImage* dc = bitmap.DC()) {
    QPainter painter(dc);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(0, 0, image);
  }
  TStreamWriter out(stream);
  bitmap.SaveToStream(out);
  out.flush();
  if (!out) throw EWriteError("Stream write error");
}

void CollectArchiveNames(const TXmlNode& node, std::vector<std::string>& names) {
  for (int i = 0; i < node.GetChildCount(); ++i) {
    const TXmlNode& child = *node.GetChild(i);
    if (child.Kind() != ntElement) continue;
    if (child.Name() == "ArchiveName") names.push_back(child.GetValueText());
    CollectArchiveNames(child, names);
  }
}

// Adds the member names that a stored XML member names, read as a page is
// read; false when the member cannot be read, so nobody knows what it needs.
bool CollectMemberArchiveNames(TqxStorage& storage, const std::string& member, std::vector<std::string>& names) {
  try {
    if (!storage.StreamExists(member)) return true;
    TMemoryStream stream;
    storage.ReadStream(member, stream);
    if (stream.Size() == 0) return true;
    TBrenlowXml xml;
    xml.SetUtf8Strings(false);
    xml.LoadFromStream(stream);
    xml.SetUtf8Strings(true);
    if (xml.Root()) CollectArchiveNames(*xml.Root(), names);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// Deletes every member that no name in used refers to, except the
// document's own. Names resolve as the archive resolves them, so a member
// hidden behind an earlier one of the same name is never mistaken for it.
void DeleteUnusedMembers(TqxStorage& storage, const std::vector<std::string>& used) {
  std::set<std::string> kept;
  for (const std::string& name : used) {
    const int index = storage.IndexOfStream(name);
    if (index >= 0) kept.insert(storage.GetStreamName(index));
  }
  std::vector<std::string> unused;
  for (int i = 0; i < storage.StreamCount(); ++i) {
    std::string name = storage.GetStreamName(i);
    if (!IsDocumentMemberName(name) && kept.count(name) == 0) unused.push_back(std::move(name));
  }
  for (const std::string& name : unused) {
    const int index = storage.IndexOfStream(name);
    if (index >= 0 && kept.count(storage.GetStreamName(index)) == 0) storage.DeleteStream(name);
  }
}

std::string FormatName(const char* format, const std::string& name) {
  std::string text = format;
  const auto at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, name);
  return text;
}

}  // namespace

// ---- Load ------------------------------------------------------------------------------------

void TdtpDocument::LoadFromFile(const std::string& fileName) {
  TDocumentBusy busy(*this);
  TResourcesLock lock;
  std::error_code ec;
  if (!std::filesystem::exists(std::filesystem::path(fileName), ec)) {
    throw EDocumentError(FormatName(kCannotFindFile, fileName));
  }
  Reset();
  if (archiveDirect_) {
    storage_->OpenAutoSave(fileName);
  } else {
    storage_->LoadFromFile(fileName);
  }
  LoadFromStorage();
}

void TdtpDocument::LoadFromStream(TStream& stream) {
  TDocumentBusy busy(*this);
  TResourcesLock lock;
  Reset();
  storage_->LoadFromStream(stream);
  LoadFromStorage();
}

void TdtpDocument::LoadFromStorage() {
  std::exception_ptr pageError;
  {
    TResourcesLock lock;
    TDocumentLoading loading(*this);

    // Settings.
    TMemoryStream index;
    if (storage_->StreamExists(kIndexMember)) storage_->ReadStream(kIndexMember, index);
    if (index.Size() == 0) throw EDocumentError(kNoIndexFound);
    {
      TBrenlowXml xml;
      xml.LoadFromStream(index);
      LoadSettingsFromXml(xml.Root());
    }

    // The highest page member number is the page count; a crafted number
    // must not make thousands of pages. Only names of the page members'
    // own form count: a picture named "Page9999.png" is no page.
    int count = 0;
    for (int i = 0; i < storage_->StreamCount(); ++i) {
      count = std::max(count, PageMemberNumber(storage_->GetStreamName(i)));
    }
    if (count > kMaxPageCount) throw EDocumentError(kInvalidPageCount);

    if (fontEmbedding_ && storage_->StreamExists(kFontsMember)) {
      try {
        TMemoryStream fonts;
        storage_->ReadStream(kFontsMember, fonts);
        fontManager_->LoadFromStream(fonts);
      } catch (const std::exception&) {
        // The fonts are a cache: the document opens without them.
      }
    }

    for (int i = 0; i < count; ++i) {
      DoProgress(ptLoad, i + 1, count, static_cast<float>(i) / static_cast<float>(count));
      auto page = std::make_unique<TdtpPage>();
      page->SetLoaded(false);
      if (storeThumbnails_) {
        TMemoryStream thumb;
        try {
          const std::string name = ThumbMemberName(i);
          if (storage_->StreamExists(name)) storage_->ReadStream(name, thumb);
        } catch (const std::exception&) {
          thumb.Clear();
        }
        if (thumb.Size() > 0) {
          if (auto image = ReadThumbnail(thumb)) page->SetThumbnail(image.get());
        }
      }
      // The first page is read as it joins; when it cannot be, the others
      // still join and the error is passed on once the document is open.
      try {
        AddPage(std::move(page));
      } catch (const Exception&) {
        if (!pageError) pageError = std::current_exception();
      }
    }

    SetCurrentPageIndex(0);
    SetModified(false);
    DoProgress(ptLoad, count, count, 1.0f);
  }
  Refresh();
  if (pageError) std::rethrow_exception(pageError);
}

void TdtpDocument::LoadPage(int index) {
  TdtpPage* page = GetPage(index);
  if (!page || !storage_) return;
  TResourcesLock lock;
  TDocumentLoading loading(*this);
  // Marked first: a failed read is not repeated on the next page change.
  page->SetLoaded(true);
  SetWidgetCursor(viewport(), crAppStart);
  try {
    TMemoryStream stream;
    const std::string name = PageMemberName(index);
    // A missing member is an empty page.
    if (storage_->StreamExists(name)) storage_->ReadStream(name, stream);
    if (stream.Size() > 0) {
      TBrenlowXml xml;
      xml.SetUtf8Strings(false);
      xml.LoadFromStream(stream);
      xml.SetUtf8Strings(true);
      page->LoadFromXml(xml.Root());
      page->UpdateAll();
    }
  } catch (...) {
    // Whatever was read goes; the member stays in the archive until the
    // user changes this page.
    unreadPages_.insert(page);
    LockUndo();
    try {
      page->DeleteAllShapes();
    } catch (...) {
    }
    UnlockUndo();
    if (busyCount_ == 0) SetWidgetCursor(viewport(), cursor_);
    throw;
  }
  if (busyCount_ == 0) SetWidgetCursor(viewport(), cursor_);
}

bool TdtpDocument::LoadPageQuietly(int index) {
  try {
    LoadPage(index);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// ---- Settings ----------------------------------------------------------------------------------

void TdtpDocument::LoadSettingsFromXml(TXmlNode* node) {
  if (!node) return;
  handleColor_ = static_cast<TColor>(node->ReadInt64("HandleColor", 0));
  handleEdgeColor_ = static_cast<TColor>(node->ReadInt64("HandleEdgeColor", 0));
  hotzoneScrolling_ = static_cast<TdtpHZScrollingType>(ReadOrdinal(*node, "HotzoneScrolling", hzsWhenMouseDown));
  quality_ = static_cast<TStretchFilter>(ReadOrdinal(*node, "StretchFilter", sfMitchell));
  readOnly_ = node->ReadBool("ReadOnly", false);
  renderDpm_ = ReadPositive(*node, "RenderDpm", kDpmReadDefault);
  screenDpm_ = ReadPositive(*node, "ScreenDpm", kDpmReadDefault);
  storeThumbnails_ = node->ReadBool("StoreThumbnails", true);
  showMargins_ = node->ReadBool("ShowMargins", false);
  snapToGrid_ = node->ReadBool("SnapToGrid", false);
  stepAngle_ = ReadFinite(*node, "StepAngle", 0);
  viewStyle_ = static_cast<TdtpViewStyleType>(ReadOrdinal(*node, "ViewStyle", vsNormal));
  defaultPageWidth_ = ReadPositive(*node, "DefaultPageWidth", 210);
  defaultPageHeight_ = ReadPositive(*node, "DefaultPageHeight", 297);
  defaultMarginLeft_ = ReadFinite(*node, "DefaultMarginLeft", 10);
  defaultMarginTop_ = ReadFinite(*node, "DefaultMarginTop", 10);
  defaultMarginRight_ = ReadFinite(*node, "DefaultMarginRight", 10);
  defaultMarginBottom_ = ReadFinite(*node, "DefaultMarginBottom", 10);
  defaultGridSize_ = ReadFinite(*node, "DefaultGridSize", 5);
  defaultGridColor_ = node->ReadColor("DefaultGridColor", 0xFFFFC0);
  defaultPageColor_ = node->ReadColor("DefaultPageColor", 0xFFFFFF);
  fontEmbedding_ = node->ReadBool("FontEmbedding", false);
  if (TXmlNode* image = node->FindChild("DefaultBgrImage")) {
    TResourcesLock lock;
    if (IsLegacyBitmapXml(*image)) {
      std::unique_ptr<TBitmap32> bitmap;
      ReadBitmapXml(node, "DefaultBgrImage", bitmap);
      if (bitmap) defaultBackground_->SetBitmap(bitmap.get());
    } else {
      defaultBackground_->LoadFromXml(*image);
    }
  }
  defaultBackgroundTiled_ = node->ReadBool("DefaultBgrTiled", false);
  thumbnailWidth_ = ReadThumbnailSide(*node, "ThumbnailWidth", 80);
  thumbnailHeight_ = ReadThumbnailSide(*node, "ThumbnailHeight", 60);
  if (OnLoadAdditionalInfo) OnLoadAdditionalInfo(*this, *node);
  Refresh();
}

void TdtpDocument::SaveSettingsToXml(TXmlNode* node) {
  if (!node) return;
  node->WriteHex("HandleColor", handleColor_, 0, 8);
  node->WriteHex("HandleEdgeColor", handleEdgeColor_, 0, 8);
  node->WriteInteger("HotzoneScrolling", hotzoneScrolling_, 0);
  node->WriteInteger("StretchFilter", quality_, 0);
  node->WriteBool("ReadOnly", readOnly_, false);
  node->WriteFloat("RenderDpm", renderDpm_, kDpmReadDefault);
  node->WriteFloat("ScreenDpm", screenDpm_, kDpmReadDefault);
  node->WriteBool("StoreThumbnails", storeThumbnails_, true);
  node->WriteBool("ShowMargins", showMargins_, false);
  node->WriteBool("SnapToGrid", snapToGrid_, false);
  node->WriteFloat("StepAngle", stepAngle_, 0);
  node->WriteInteger("ViewStyle", viewStyle_, 0);
  node->WriteFloat("DefaultPageWidth", defaultPageWidth_, 210);
  node->WriteFloat("DefaultPageHeight", defaultPageHeight_, 297);
  node->WriteFloat("DefaultMarginLeft", defaultMarginLeft_, 10);
  node->WriteFloat("DefaultMarginTop", defaultMarginTop_, 10);
  node->WriteFloat("DefaultMarginRight", defaultMarginRight_, 10);
  node->WriteFloat("DefaultMarginBottom", defaultMarginBottom_, 10);
  node->WriteFloat("DefaultGridSize", defaultGridSize_, 5);
  node->WriteColor("DefaultGridColor", defaultGridColor_, 0xFFFFC0);
  node->WriteColor("DefaultPageColor", defaultPageColor_, 0xFFFFFF);
  if (HoldsBitmap(*defaultBackground_)) {
    defaultBackground_->SaveToXml(*node->FindOrAddChild("DefaultBgrImage"));
  }
  node->WriteBool("DefaultBgrTiled", defaultBackgroundTiled_, false);
  node->WriteInteger("ThumbnailWidth", thumbnailWidth_, 80);
  node->WriteInteger("ThumbnailHeight", thumbnailHeight_, 60);
  node->WriteBool("FontEmbedding", fontEmbedding_, false);
  if (OnSaveAdditionalInfo) OnSaveAdditionalInfo(*this, *node);
}

// ---- Save ----------------------------------------------------------------------------------------

void TdtpDocument::SaveToFile(const std::string& fileName) {
  TDocumentBusy busy(*this);
  TResourcesLock lock;
  SaveToStorage();
  storage_->SaveToFile(fileName);
  MarkSaved();
}

void TdtpDocument::SaveToStream(TStream& stream) {
  TDocumentBusy busy(*this);
  TResourcesLock lock;
  SaveToStorage();
  storage_->SaveToStream(stream);
  MarkSaved();
}

void TdtpDocument::MarkSaved() {
  SetModified(false);
  for (const auto& page : pages_) page->SetModified(false);
  if (!undoPastSave_) ClearUndo();
}

void TdtpDocument::SaveIndex() {
  TBrenlowXml xml("Document");
  xml.SetLayout(xlIndented);
  SaveSettingsToXml(xml.Root());
  TMemoryStream stream;
  xml.SaveToStream(stream);
  storage_->WriteStream(kIndexMember, stream);
  if (fontEmbedding_) {
    TMemoryStream fonts;
    fontManager_->SaveToStream(fonts);
    storage_->WriteStream(kFontsMember, fonts);
  }
}

bool TdtpDocument::PageNeedsWrite(int index, const std::string& member) {
  TdtpPage* page = GetPage(index);
  const bool exists = storage_->StreamExists(member);
  if (!forceFullSave_ && exists && !page->Modified()) return false;
  // A page is written from what it holds: read it first.
  if (!page->IsLoaded()) LoadPageQuietly(index);
  if (exists && unreadPages_.count(page) > 0) return false;
  return true;
}

void TdtpDocument::SaveToStorage() {
  TResourcesLock lock;
  if (!storage_) throw EDocumentError(kArchiveDoesNotExist);
  SaveIndex();
  const int count = PageCount();
  const float total = static_cast<float>(count);
  // The members anything refers to: the live resources of every page read
  // so far and the names in every page's XML as stored, read or not.
  std::vector<std::string> used;
  bool usedKnown = CollectMemberArchiveNames(*storage_, kIndexMember, used);
  defaultBackground_->GetArchiveNames(used);
  for (int i = 0; i < count; ++i) {
    const std::string member = PageMemberName(i);
    TdtpPage* page = GetPage(i);
    if (!PageNeedsWrite(i, member)) {
      if (page->IsLoaded()) page->GetResourceNames(used);
      usedKnown = CollectMemberArchiveNames(*storage_, member, used) && usedKnown;
    } else {
      TBrenlowXml xml("Page");
      xml.SetLayout(xlCompact);
      xml.Root()->WriteAttributeInteger("Index", i + 1, 0);
      page->SaveToXml(xml.Root());
      // Writing names the members of resources changed since the last save.
      CollectArchiveNames(*xml.Root(), used);
      page->GetResourceNames(used);
      DoProgress(ptSave, i + 1, count, (static_cast<float>(i) + 0.2f) / total);
      TMemoryStream stream;
      xml.SaveToStream(stream);
      DoProgress(ptSave, i + 1, count, (static_cast<float>(i) + 0.6f) / total);
      storage_->WriteStream(member, stream);
      DoProgress(ptSave, i + 1, count, (static_cast<float>(i) + 0.7f) / total);
      if (storeThumbnails_) {
        const std::string thumbName = ThumbMemberName(i);
        if (const QImage* thumb = page->GetThumbnail()) {
          TMemoryStream bmp;
          WriteThumbnail(*thumb, bmp);
          storage_->WriteStream(thumbName, bmp);
        } else {
          storage_->DeleteStream(thumbName);
        }
      }
    }
    PurgeResources();
  }
  // Pictures replaced or deleted leave the file: a project keeps no bytes
  // the user no longer has in it.
  if (usedKnown) DeleteUnusedMembers(*storage_, used);
  DoProgress(ptSave, count, count, 1.0f);
}

// ---- Deleting a page ------------------------------------------------------------------------------

void TdtpDocument::DeletePage(int index) {
  TdtpPage* page = GetPage(index);
  if (!page) return;
  {
    TResourcesLock lock;
    storage_->DeleteStream(PageMemberName(index));
    storage_->DeleteStream(ThumbMemberName(index));
    for (int j = index + 1; j < PageCount(); ++j) {
      storage_->RenameStream(PageMemberName(j), PageMemberName(j - 1));
      storage_->RenameStream(ThumbMemberName(j), ThumbMemberName(j - 1));
    }
  }
  // The deletion of a whole page cannot be undone shape by shape.
  LockUndo();
  try {
    page->DeleteAllShapes();
  } catch (...) {
    UnlockUndo();
    throw;
  }
  UnlockUndo();
  DoShapeDestroy(page);
  const int current = currentPageIndex_;
  // The page goes only once nothing refers to it as the current page.
  if (index == current) UnbindCurrentPage();
  unreadPages_.erase(page);
  pages_.erase(pages_.begin() + index);
  SetModified(true);
  for (int j = index; j < PageCount(); ++j) DoPageChanged(GetPage(j));
  if (index == current) {
    // The page now at that index, the previous one after the last.
    SetCurrentPageIndex(std::min(index, PageCount() - 1));
  } else if (index < current) {
    // The current page moved one place down.
    UnbindCurrentPage();
    SetCurrentPageIndex(current - 1);
  }
  Refresh();
}

}  // namespace kdl
