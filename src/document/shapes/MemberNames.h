// Rules for the names of the members a document keeps in its archive.
#pragma once

#include <string>

namespace kdl {

// Names that are or could be taken for the document's own members
// ("Index.xml", "Fonts.dat", "Page%.4d.*", "Thumb*"), compared without case
// as the archive compares names: no resource ever writes or deletes them,
// and a member that arrives under one is stored under a fresh name.
bool IsStructuralMemberName(const std::string& name);

// Exactly the names the document writes itself: "Index.xml", "Fonts.dat",
// "Page%.4d.xml" and "Thumb%.4d.bmp", without case.
bool IsDocumentMemberName(const std::string& name);

// The number of a member named "Page%.4d.xml" (without case); 0 for any
// other name.
int PageMemberNumber(const std::string& name);

}  // namespace kdl
