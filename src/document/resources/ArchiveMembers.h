// Rules for the names of archive members that resources write.
#pragma once

#include <string>

namespace kdl {

class TqxStorage;
class TStream;

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

// Whether the member exists and holds exactly the bytes of stream; the
// stream's position is left at 0.
bool MemberHoldsBytes(TqxStorage& storage, const std::string& name, TStream& stream);

}  // namespace kdl
