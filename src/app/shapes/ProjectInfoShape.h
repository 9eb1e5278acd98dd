// The invisible first shape of every label project: its format version,
// its print options and the template name and category it came from.
#pragma once

#include <cstdint>
#include <string>

#include "document/shapes/Shape.h"

namespace kdl {

// The only project format this program opens.
inline constexpr std::int32_t kProjectVersion = 102;

class TDtpProjectInfoShape : public TdtpShape {
 public:
  TDtpProjectInfoShape() = default;

  std::string ClassName() const override { return "TDtpProjectInfoShape"; }

  std::int32_t Version() const { return version_; }
  void SetVersion(std::int32_t value) { version_ = value; }
  // Plain stores: no undo record, no change notification.
  bool PrintCutLines() const { return printCutLines_; }
  void SetPrintCutLines(bool value) { printCutLines_ = value; }
  bool PrintFoldLines() const { return printFoldLines_; }
  void SetPrintFoldLines(bool value) { printFoldLines_ = value; }
  bool CenterPrinting() const { return centerPrinting_; }
  void SetCenterPrinting(bool value) { centerPrinting_ = value; }
  const std::string& Category() const { return category_; }
  void SetCategory(const std::string& value) { category_ = value; }
  // The project's name; stored in the same "Name" element as the shape's.
  const std::string& ProjectName() const { return projectName_; }
  void SetProjectName(const std::string& value) { projectName_ = value; }

  void LoadFromXml(TXmlNode* node) override;
  void SaveToXml(TXmlNode* node) override;

 private:
  std::int32_t version_ = 0;
  bool printCutLines_ = false;
  bool printFoldLines_ = false;
  bool centerPrinting_ = false;
  std::string category_;
  std::string projectName_;
};

// Registers the project's own shape classes by name; once at start-up.
void RegisterApplicationShapeClasses();

}  // namespace kdl
