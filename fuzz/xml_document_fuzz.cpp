// Fuzz target for the XML reader: any bytes must load or fail cleanly, and every lookup and
// text operation on whatever tree results must stay within its memory.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "text/xml_document.h"
#include "text/xml_entities.h"

namespace {

void Walk(const XmlNode& root) {
    std::vector<const XmlNode*> pending{&root};
    size_t visited = 0;
    while (!pending.empty()) {
        const XmlNode* node = pending.back();
        pending.pop_back();
        // text() walks the whole subtree: on every node of a deep tree that would be
        // quadratic and slow the fuzzer down for nothing.
        if (++visited <= 32) {
            (void)node->text();
            (void)node->childText(node->name);
        }
        (void)node->findChild("b");
        for (const auto& attribute : node->attributes) {
            if (attribute->parent != node) {
                __builtin_trap();
            }
            (void)node->findAttribute(attribute->name);
            (void)decodeXmlEntities(attribute->value);
        }
        (void)TheXmlEntityTable().decode(TheXmlEntityTable().encode(node->value));
        for (const auto& child : node->children) {
            if (child->parent != node) {
                __builtin_trap();
            }
            pending.push_back(child.get());
        }
    }
}

void LoadAndCheck(XmlNode& root, const std::string& text, XmlParseOptions& options) {
    const bool earlierError = options.errorOccurred;  // a later load records nothing new
    const char* end = root.load(text.c_str(), options);
    if (end != nullptr && (end < text.c_str() || end > text.c_str() + text.size())) {
        __builtin_trap();
    }
    if (!earlierError && options.errorOccurred &&
        (options.errorPosition < text.c_str() ||
         options.errorPosition > text.c_str() + text.size())) {
        __builtin_trap();
    }
    Walk(root);
    // The text of a tree is encoded; decoding it again must not fail either.
    (void)decodeXmlEntities(root.text());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The reader takes zero-terminated text. The length picks the options, so that every
    // seed is tried with several of them as the fuzzer grows and shrinks it.
    const std::string text(reinterpret_cast<const char*>(data), size);
    XmlParseOptions options;
    options.trimValues = (size & 1) != 0;
    options.forceParse = (size & 2) != 0;
    options.decodeEntities = (size & 4) == 0;
    XmlNode root;
    LoadAndCheck(root, text, options);
    // Loading again into the same node reuses the old tree's nodes: load the second half
    // of the input (a different shape) and then the whole text once more.
    XmlParseOptions fresh;
    LoadAndCheck(root, text.substr(size / 2), fresh);
    LoadAndCheck(root, text, fresh);
    return 0;
}
