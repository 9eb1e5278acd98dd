// Rules for the names of archive members that resources write.
#pragma once

#include <string>

namespace kdl {

class TqxStorage;
class TStream;

// The document's own members ("Index.xml", "Page*.xml", "Thumb*.bmp",
// "Fonts.dat"), compared without case as the archive compares names: no
// resource ever writes or deletes them.
bool IsStructuralMemberName(const std::string& name);

// Whether the member exists and holds exactly the bytes of stream; the
// stream's position is left at 0.
bool MemberHoldsBytes(TqxStorage& storage, const std::string& name, TStream& stream);

}  // namespace kdl
