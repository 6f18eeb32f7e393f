// Reading the update descriptor.
#include "store/updater/update_descriptor.h"

#include "text/xml_document.h"

UpdateDescriptor ReadUpdateDescriptor(const XmlNode& root) {
    UpdateDescriptor descriptor;
    const XmlNode* link = root.findChild("AerinPluginUpdateLink");
    if (link == nullptr) {
        return descriptor;
    }
    descriptor.hasLink = true;
    const XmlAttribute* required = link->findAttribute("required");
    descriptor.required = required != nullptr && required->value == "yes";
    descriptor.link = link->text();
    return descriptor;
}
