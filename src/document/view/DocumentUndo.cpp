// The document's undo stack and clipboard. Shapes record the old value of
// whatever they change; the stack groups, coalesces and caps those records
// and hands a whole group back to the shapes that own it. The clipboard is
// the selection as XML text with root "Selection", each shape as its shape
// string in Base64.
#include <algorithm>
#include <exception>
#include <set>
#include <vector>

#include "document/shapes/Command.h"
#include "document/shapes/ShapeRegistry.h"
#include "document/view/Document.h"
#include "document/view/Page.h"
#include "foundation/BrenlowXml.h"
#include "foundation/Storage.h"
#include "foundation/XmlNode.h"
#include "platform/qt/Clipboard.h"
#include "platform/qt/MessageBox.h"

namespace kdl {

namespace {

// The undo list is trimmed once its records hold more than 10 MiB.
constexpr std::int64_t kUndoByteLimit = 0xA00001;
constexpr const char* kSelectionRoot = "Selection";
constexpr const char* kUnableToExecuteUndo = "Unable to execute Undo";

bool SameProperty(const TdtpCommand& a, const TdtpCommand& b) {
  return a.Kind == ckPropertyChanged && b.Kind == ckPropertyChanged && a.ShapeID == b.ShapeID &&
         a.PropName == b.PropName && a.OldValue == b.OldValue;
}

// Runs body between begin and end; end runs also when body raises.
template <class Begin, class End, class Body>
void Bracket(Begin begin, End end, Body body) {
  begin();
  try {
    body();
  } catch (...) {
    end();
    throw;
  }
  end();
}

// The shape string of one "shape" element; nothing when its text is not
// Base64. Our own text has the value before "ClassName"; text after it, as
// other writers place it, is read as well.
bool DecodeShapeElement(const TXmlNode& element, std::string& bytes) {
  TXmlNode value;
  std::string text = element.GetValueText();
  for (int i = 0; i < element.GetChildCount(); ++i) {
    const TXmlNode& child = *element.GetChild(i);
    if (child.Kind() == ntText) text += child.GetValueText();
  }
  value.SetValueText(text);
  try {
    bytes = value.GetBinaryString();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// Names as the archive compares them.
std::string Folded(std::string name) {
  for (char& c : name)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return name;
}

std::set<std::string> MemberNames(TqxStorage& storage) {
  std::set<std::string> names;
  for (int i = 0; i < storage.StreamCount(); ++i) names.insert(Folded(storage.GetStreamName(i)));
  return names;
}

// A shape string may carry members its shape never names: a pasted shape
// brings only what it uses.
void DropUnusedMembers(TqxStorage& storage, const std::set<std::string>& before,
                       const TdtpShape& shape) {
  std::vector<std::string> used;
  shape.GetResourceNames(used);
  std::set<std::string> keep;
  for (const std::string& name : used) keep.insert(Folded(name));
  std::vector<std::string> unused;
  for (int i = 0; i < storage.StreamCount(); ++i) {
    const std::string name = storage.GetStreamName(i);
    const std::string folded = Folded(name);
    if (!before.count(folded) && !keep.count(folded)) unused.push_back(name);
  }
  for (const std::string& name : unused) storage.DeleteStream(name);
}

}  // namespace

// ---- Undo stack ------------------------------------------------------------------------------

void TdtpDocument::AddUndo(std::unique_ptr<TdtpCommand> command) {
  if (!command || !UndoEnabled()) return;
  // The same old value of the same property again adds nothing to undo.
  // It must not count as the group's first record either, or the group's
  // next record would be chained onto the previous group.
  if (redoList_.empty() && !undoList_.empty() && SameProperty(*command, *undoList_.back()))
    return;
  if (undoGroupCount_ > 0) {
    if (undoGroupRecorded_) command->Chained = true;
    undoGroupRecorded_ = true;
  }
  redoList_.clear();
  undoBytes_ += command->MemorySize();
  undoList_.push_back(std::move(command));
  // Drop the oldest records until the rest fit.
  std::size_t drop = 0;
  while (undoBytes_ >= kUndoByteLimit && drop < undoList_.size()) {
    undoBytes_ -= undoList_[drop]->MemorySize();
    ++drop;
  }
  if (drop > 0) undoList_.erase(undoList_.begin(), undoList_.begin() + static_cast<std::ptrdiff_t>(drop));
}

void TdtpDocument::AddRedo(std::unique_ptr<TdtpCommand> command) {
  if (!command || !undoing_) return;
  if (undoGroupCount_ > 0) {
    if (undoGroupRecorded_) command->Chained = true;
    undoGroupRecorded_ = true;
  }
  redoList_.push_back(std::move(command));
}

void TdtpDocument::Undo() {
  CheckBusy();
  if (!UndoEnabled()) return;
  // The flag and the lock go back even when the group's events raise.
  const auto finish = [this] {
    try {
      EndUndo();
    } catch (...) {
      undoing_ = false;
      UnlockUndo();
      throw;
    }
    undoing_ = false;
    UnlockUndo();
  };
  LockUndo();
  undoing_ = true;
  BeginUndo();
  try {
    while (!undoList_.empty()) {
      std::unique_ptr<TdtpCommand> command = std::move(undoList_.back());
      undoList_.pop_back();
      // The total always is the sum over the list.
      undoBytes_ -= command->MemorySize();
      const bool chained = command->Chained;
      ExecuteUndo(*command);
      if (!chained) break;
    }
  } catch (...) {
    finish();
    throw;
  }
  finish();
}

bool TdtpDocument::ExecuteUndo(const TdtpCommand& command) {
  if (command.ShapeID == 0) return false;
  if (TdtpPage* page = GetCurrentPage()) {
    for (int i = 0; i < page->GetShapeCount(); ++i) {
      if (page->GetShape(i)->ExecuteCommand(command)) return true;
    }
  }
  for (const auto& page : pages_) {
    if (page->ExecuteCommand(command)) return true;
  }
  ShowMessage(kUnableToExecuteUndo);
  return false;
}

// ---- Selection text ------------------------------------------------------------------------------

void TdtpDocument::SelectionToString(std::string& text) {
  text.clear();
  TdtpPage* page = GetCurrentPage();
  if (!page || !HasSelection()) return;
  TBrenlowXml xml(kSelectionRoot);
  xml.SetLayout(xlIndented);
  for (int i = 0; i < page->GetShapeCount(); ++i) {
    TdtpShape* shape = page->GetShape(i);
    if (!shape->Selected()) continue;
    TXmlNode* element = xml.Root()->AddNewChild("shape");
    element->WriteString("ClassName", shape->ClassName(), "");
    element->SetBinaryString(shape->SaveToString());
  }
  text = xml.WriteToString();
}

int TdtpDocument::PasteFromString(const std::string& text) {
  TdtpPage* page = GetCurrentPage();
  if (!page) return 0;
  TBrenlowXml xml;
  try {
    xml.ReadFromString(text);
  } catch (const std::exception&) {
    return 0;
  }
  TXmlNode* root = xml.Root();
  if (!root || root->Name() != kSelectionRoot || root->GetChildCount() == 0) return 0;
  TXmlNodeList elements;
  root->FindChildren("shape", &elements);
  ClearSelection();

  int pasted = 0;
  for (TXmlNode* element : elements) {
    std::string bytes;
    if (!DecodeShapeElement(*element, bytes)) continue;
    // The shape is read before it joins the page: one that does not read
    // leaves no shape, undo record or archive member behind (the string's
    // reader takes back the members it wrote).
    std::unique_ptr<TdtpShape> shape = CreateShape(element->ReadString("ClassName", ""));
    // A page is no shape on a page.
    if (dynamic_cast<TdtpPage*>(shape.get())) continue;
    TdtpShape* added = shape.get();
    const std::set<std::string> membersBefore = MemberNames(*storage_);
    try {
      Bracket([this] { LockUndo(); }, [this] { UnlockUndo(); }, [&] {
        shape->SetDocument(this);
        shape->LoadFromString(bytes);
      });
    } catch (const std::exception&) {
      continue;
    }
    DropUnusedMembers(*storage_, membersBefore, *shape);
    // Joining the page is the paste's one record per shape.
    if (AddShape(std::move(shape)) < 0) continue;
    ++pasted;
    Bracket([this] { LockUndo(); }, [this] { UnlockUndo(); }, [this, added] {
      added->AfterPaste();
      added->UpdateAll();
      if (OnShapePasted) OnShapePasted(*this, added);
    });
    added->SetSelected(true);
  }
  return pasted;
}

// ---- Clipboard operations -------------------------------------------------------------------------

void TdtpDocument::CopySelection() {
  CheckBusy();
  if (!HasSelection()) return;
  Bracket([this] { BeginUndo(); }, [this] { EndUndo(); }, [this] {
    std::string text;
    SelectionToString(text);
    if (useClipboard_)
      SetClipboardText(text);
    else
      privateClipboard_ = std::move(text);
    copySourcePage_ = GetCurrentPage();
  });
}

void TdtpDocument::CutSelection() {
  CheckBusy();
  Bracket([this] { BeginUndo(); }, [this] { EndUndo(); }, [this] {
    CopySelection();
    DeleteSelection();
    copySourcePage_ = nullptr;
  });
}

void TdtpDocument::DeleteSelection() {
  CheckBusy();
  // One group: one Undo brings every deleted shape back.
  Bracket([this] { BeginUndo(); }, [this] { EndUndo(); }, [this] {
    TdtpPage* page = GetCurrentPage();
    if (!page) return;
    for (int i = page->GetShapeCount() - 1; i >= 0; --i) {
      TdtpShape* shape = page->GetShape(i);
      if (shape && shape->Selected() && shape->AllowDelete()) DeleteShape(i);
    }
  });
}

void TdtpDocument::Paste() {
  CheckBusy();
  Bracket([this] { BeginUndo(); }, [this] { EndUndo(); }, [this] {
    const std::string text = useClipboard_ ? ClipboardText() : privateClipboard_;
    if (PasteFromString(text) <= 0) return;
    TdtpPage* page = GetCurrentPage();
    // A copy on its own page steps away from what it copies.
    if (page && page == copySourcePage_) {
      for (int i = 0; i < page->GetShapeCount(); ++i) {
        TdtpShape* shape = page->GetShape(i);
        if (!shape->Selected()) continue;
        const TFloatPoint offset = shape->GetPasteOffset();
        shape->SetDocPosition(shape->DocLeft() + offset.X, shape->DocTop() + offset.Y);
      }
    }
    copySourcePage_ = page;
    // The clipboard now holds the moved copies: the next paste steps again.
    CopySelection();
  });
}

bool TdtpDocument::CanPaste() {
  if (!useClipboard_) return !privateClipboard_.empty();
  return ClipboardText().rfind("<?xml", 0) == 0;
}

bool TdtpDocument::HasSelection() {
  const TdtpPage* page = GetCurrentPage();
  if (!page) return false;
  for (int i = 0; i < page->GetShapeCount(); ++i) {
    if (page->GetShape(i)->Selected()) return true;
  }
  return false;
}

}  // namespace kdl
