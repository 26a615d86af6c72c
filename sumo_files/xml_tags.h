// The tags of an XML file, in order, as SUMO's configuration, network and additional files need
// reading: names and attributes (entities decoded); text, comments and declarations passed over.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ruvalda::sumo_host {

struct XmlTag {
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;
    bool closing = false;  // </name>
    bool empty = false;    // <name .../>, opened and closed at once
    int line = 0;

    // The attribute's value; nullptr when the tag has none of that name.
    const std::string* attribute(std::string_view key) const;
};

// Where and why the text is not XML.
struct XmlError {
    int line = 0;
    std::string what;
};

// Calls visit for every start and end tag of the text; throws XmlError when the tags do not nest.
void scan_xml_tags(std::string_view text, const std::function<void(const XmlTag&)>& visit);

}  // namespace ruvalda::sumo_host
