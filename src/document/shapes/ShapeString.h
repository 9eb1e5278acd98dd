// The byte string that copies a shape or an effect with the archive members
// it uses: an Int32 member count, each member as Int32 name length, name,
// Int32 size and bytes, then the Int32 length and bytes of the XML.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kdl {

class TqxStorage;
class TXmlNode;

// save fills the XML root element named root; names then lists the members
// of storage to carry (not asked without a storage), so that the members
// that saving stored are among them.
std::string WriteStoredString(TqxStorage* storage, const std::function<std::vector<std::string>()>& names,
                              const char* root, const std::function<void(TXmlNode*)>& save);
// Checks the whole string first (EShapeDataError "Invalid shape data"),
// stores its members in storage without ever changing an existing one,
// then hands the root to load; members stored are removed again when load
// raises. A nil root name accepts any root.
void ReadStoredString(std::string_view data, TqxStorage* storage, const char* root,
                      const std::function<void(TXmlNode*)>& load);

}  // namespace kdl
