// The resource's XML node, and copies made through it.
#include <memory>
#include <string>

#include "document/resources/Resource.h"
#include "foundation/BrenlowXml.h"

namespace kdl {

namespace {

// Sets a document's binary format for the life of the object; a node
// without document is given a scratch one.
class TBinaryFormatScope {
 public:
  TBinaryFormatScope(TXmlNode& node, TBinaryFormat format) : node_(node) {
    if (!node.Document()) {
      scratch_ = std::make_unique<TBrenlowXml>();
      node.SetDocument(scratch_.get());
    }
    saved_ = node.Document()->BinaryFormat();
    node.Document()->SetBinaryFormat(format);
  }
  ~TBinaryFormatScope() {
    node_.Document()->SetBinaryFormat(saved_);
    if (scratch_) node_.SetDocument(nullptr);
  }
  TBinaryFormatScope(const TBinaryFormatScope&) = delete;
  TBinaryFormatScope& operator=(const TBinaryFormatScope&) = delete;

 private:
  TXmlNode& node_;
  std::unique_ptr<TBrenlowXml> scratch_;
  TBinaryFormat saved_ = bfBase64;
};

}  // namespace

void TdtpResource::Assign(TdtpResource& source) {
  if (&source == this) return;
  TResourceAccess access(*this);
  TResourceAccess sourceAccess(source);
  TBrenlowXml xml("Resource");
  source.SaveToXml(*xml.Root());
  LoadFromXml(*xml.Root());
  // A copy never shares the source's member. Archived bytes are copied and
  // left unsaved, so that the next flush stores them under a name of the
  // copy's own, within one document as between two.
  archiveName_.clear();
  if (storage_ == rsArchive || (storage_ == rsExternal && document_ != source.document_)) {
    source.LoadData();
    data_->SetSize(0);
    if (source.data_->Size() > 0) {
      source.data_->SetPosition(0);
      data_->CopyFrom(*source.data_, source.data_->Size());
    }
    dataModified_ = true;
    dataLoaded_ = true;
  }
}

// ---- XML ----------------------------------------------------------------------------------

void TdtpResource::SaveToXml(TXmlNode& node) {
  TResourceAccess access(*this);
  node.WriteString("ClassName", ClassName(), "");
  EncodeObject();
  switch (storage_) {
    case rsExternal: WriteExternal(); break;
    case rsArchive: WriteArchive(); break;
    case rsEmbedded:
      if (data_->Size() > 0) {
        TXmlNode* data = node.AddNewChild("Data");
        data->WriteInt64("Size", data_->Size(), 0);
        data->WriteString("Filter", "Base64", "");
        TXmlNode* buffer = data->AddNewChild("Buffer");
        std::string bytes(static_cast<std::size_t>(data_->Size()), '\0');
        data_->SetPosition(0);
        data_->ReadBuffer(bytes.data(), data_->Size());
        TBinaryFormatScope format(*buffer, bfBase64);
        buffer->WriteBinary(bytes.data(), static_cast<std::int64_t>(bytes.size()));
        dataModified_ = false;
      }
      break;
    default: break;
  }
  node.WriteString("ArchiveName", archiveName_, "");
  node.WriteString("FileName", fileName_, "");
  node.WriteString("Storage", ResourceStorageText(storage_), "");
}

void TdtpResource::ReadEmbedded(TXmlNode& data) {
  // Data is written only with bytes, so it always states their count.
  if (!data.FindChild("Size")) throw EFilerError(kMissingBinaryData);
  const std::int64_t size = data.ReadInt64("Size", 0);
  if (size == 0) return;
  const std::string filter = data.ReadString("Filter", "");
  TBinaryFormat format;
  if (filter == "BinHex") format = bfBinHex;
  else if (filter == "Base64") format = bfBase64;
  else throw EFilerError(kUnsupportedBinaryEncoding);
  TXmlNode* buffer = data.FindChild("Buffer");
  if (!buffer || size < 0) throw EFilerError(kMissingBinaryData);
  TBinaryFormatScope scope(*buffer, format);
  // The size is checked against the text before anything is sized by it.
  if (buffer->GetBinaryLength() < size) throw EFilerError(kMissingBinaryData);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  buffer->ReadBinary(bytes.data(), size);
  data_->WriteBuffer(bytes.data(), size);
  data_->SetPosition(0);
}

void TdtpResource::LoadFromXml(TXmlNode& node) {
  TResourceAccess access(*this);
  Clear();
  archiveName_ = node.ReadString("ArchiveName", "");
  fileName_ = node.ReadString("FileName", "");
  const std::string kind = node.ReadString("Storage", "");
  for (int i = 0; i < 4; ++i)
    if (kind == kResourceStorageTexts[i]) storage_ = static_cast<TdtpResourceStorage>(i);
  switch (storage_) {
    case rsExternal: ReadExternal(); break;
    case rsArchive: ReadArchive(); break;
    case rsEmbedded:
      if (TXmlNode* data = node.FindChild("Data")) ReadEmbedded(*data);
      break;
    default: break;
  }
}

}  // namespace kdl
