// "MSXML2.DOMDocument": the XML document component, a pugixml document.
#pragma once

#include <pugixml.hpp>

#include "support/components.h"

namespace ferrolyte {

class XmlDocument : public Component {
 public:
  pugi::xml_document& document() { return document_; }

 private:
  pugi::xml_document document_;
};

// "Scripting.Filesystemobject": always present here; only its creation is ever checked.
class FileSystemObject : public Component {};

}  // namespace ferrolyte
