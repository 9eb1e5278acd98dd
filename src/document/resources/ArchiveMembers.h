// Comparing a stream with an archive member.
#pragma once

#include <string>

namespace kdl {

class TqxStorage;
class TStream;

// Whether the member exists and holds exactly the bytes of stream; the
// stream's position is left at 0.
bool MemberHoldsBytes(TqxStorage& storage, const std::string& name, TStream& stream);

}  // namespace kdl
