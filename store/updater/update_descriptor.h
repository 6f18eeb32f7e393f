// What the update check reads from the descriptor the configuration service sends back.
#pragma once

#include <string>

struct XmlNode;

struct UpdateDescriptor {
    bool hasLink = false;   // the outermost element has an AerinPluginUpdateLink child
    bool required = false;  // its "required" attribute is exactly "yes"
    // The link element's text with the default text options, so entity-encoded: a "&" in
    // the link comes out as "&amp;", and that is what the download asks the server for.
    std::string link;
};

// `root` is the outermost element of the loaded descriptor.
UpdateDescriptor ReadUpdateDescriptor(const XmlNode& root);
