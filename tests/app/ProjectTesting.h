// The setting of the project tests: a real document, the shipped program
// folder and English texts, a scratch data folder for the templates, and a
// recorder in place of the error box.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "QtApplication.h"
#include "TestFiles.h"
#include "app/Localizer.h"
#include "app/project/DtpHelper.h"
#include "app/shapes/ProjectInfoShape.h"
#include "document/Startup.h"
#include "document/view/Document.h"
#include "platform/ProgramFolder.h"
#include "platform/qt/ErrorDisplay.h"

namespace kdl::test {

class ProjectFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureApplication();
    InitializeDocumentLibrary();
    RegisterApplicationShapeClasses();
    SetProgramFolder(std::filesystem::path(KDL_SOURCE_DIR) / "resources");
    Localizer().LoadFromFile(ProgramFolder() / "Languages" / "English.lng");
    SetErrorDisplay([this](const std::string& message) { Errors.push_back(message); });
    doc = std::make_unique<TdtpDocument>();
    // As the main window's document: no thumbnails in project files.
    doc->SetStoreThumbnails(false);
  }
  void TearDown() override {
    doc.reset();
    SetErrorDisplay(nullptr);
    Localizer().Clear();
    SetProgramFolder({});
  }

  std::string Text(const char* section, const char* key) { return Localizer().GetString(section, key); }
  std::string Defaultjpg() { return (ProgramFolder() / "Resources" / "default.jpg").string(); }

  ScratchDir scratch;
  ScopedEnv dataHome{"XDG_DATA_HOME", (scratch / "data").string()};
  std::vector<std::string> Errors;
  std::unique_ptr<TdtpDocument> doc;
};

}  // namespace kdl::test
