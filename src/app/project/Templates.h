// The seven label templates: builders that fill a document with a one-page
// project, and the template files that new projects are opened from.
#pragma once

#include <filesystem>
#include <string>

namespace kdl {

class TdtpDocument;

inline constexpr int kTemplateCount = 7;

// Types 0 to 6; each returns false (and does nothing) without a current page.
bool CreateCDFrontTemplate(TdtpDocument& document);
bool CreateCDFrontDoubleTemplate(TdtpDocument& document);
bool CreateCDBackTemplate(TdtpDocument& document);
bool CreateDVDTemplate(TdtpDocument& document);
bool CreateSlimDVDTemplate(TdtpDocument& document);
bool CreatePaperSleeveTemplate(TdtpDocument& document);
bool CreateOrigamiCDCaseTemplate(TdtpDocument& document);
// The builder of a type; false for a type out of range.
bool CreateTemplate(TdtpDocument& document, int type);

// "Templates" in the user's data folder.
std::filesystem::path TemplatesFolder();
// TemplatesFolder()/<file name>.ovx; empty for a type out of range.
std::string GetTemplateFileName(int type);
// Builds and saves all seven into TemplatesFolder() (created when missing),
// "CD Front" last: start-up checks only that file, so a set broken off
// part-way is written again on the next start. Leaves the page empty and
// the document unmodified; errors pass on.
void CreateTemplateFiles(TdtpDocument& document);
// True when the "CD Front" file is missing.
bool TemplateFilesMissing();

}  // namespace kdl
