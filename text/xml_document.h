// The store's small, forgiving XML reader. It turns a settings file or an update descriptor
// into a tree of nodes and answers a few lookups on it; it never writes XML. Text stays in
// the ANSI code page: the declared encoding is ignored and nothing is decoded from UTF-8.
//
// Process-wide instances, created on first use and kept until exit:
//   TheXmlDocument()      the one document every caller loads into (each load replaces the
//                         tree, so read what you need right after your own load);
//   TheXmlParseOptions()  the options every XmlDocument::loadFile(path) uses. Its error report
//                         is never reset, so only the first error of the process is kept;
//                         pass an options object of your own to see later ones;
//   TheXmlTextOptions()   the options text() and childText() use by default.
// None of them is locked: use them from the user-interface thread only.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

class XmlEntityTable;
struct XmlNode;

enum XmlNodeType {
    kXmlElement = 0,
    kXmlProcessingInstruction = 1,
    kXmlComment = 2,
    kXmlCdata = 3,
    kXmlDocumentNode = 4,
};

enum XmlParseError {
    kXmlErrorNone = 0,
    kXmlErrorElementNotClosed = 1,  // "/" after the attributes not followed by ">"
    kXmlErrorClosingTagAtEnd = 2,   // a closing tag's name runs to the end of the text
    kXmlErrorNotWellFormed = 3,     // closing name differs and forceParse is off
    kXmlErrorAttribute = 4,         // attribute name followed by neither blank nor "="
};

struct XmlParseOptions {
    XmlParseOptions();  // the defaults listed below, with an empty error report

    bool trimValues = false;     // strip white space around element text and attribute values
    bool decodeEntities = true;  // replace references in element text and attribute values
    XmlEntityTable* entities;    // the process-wide table
    char escapeChar = '\\';      // dropped from values; the character after it is kept
    bool forceParse = false;     // skip a closing tag whose name does not match

    // Only the first error is recorded; later ones leave the report as it is.
    bool errorOccurred = false;
    const char* errorPosition = nullptr;  // into the text that was loaded
    int errorCode = kXmlErrorNone;
    std::string errorText;
};

struct XmlTextOptions {
    XmlTextOptions();

    bool newline = true;  // kept for callers; text() does not use it
    bool encodeEntities = true;
    XmlEntityTable* entities;  // the process-wide table
    int tabBase = 0;           // kept for callers; text() does not use it
};

struct XmlAttribute {
    std::string name;
    std::string value;
    XmlNode* parent = nullptr;
};

struct XmlNode {
    XmlNode() = default;
    XmlNode(XmlNode* parentNode, int nodeType) : parent(parentNode), type(nodeType) {}
    ~XmlNode();  // frees the subtree without recursion, however deep it is
    XmlNode(const XmlNode&) = delete;
    XmlNode& operator=(const XmlNode&) = delete;

    // Loads the element that starts at the first '<' of a zero-terminated text into this
    // node. Returns the position after it, or nullptr on failure (the report is in
    // `options` for the four error codes; the part of the tree built so far stays). A
    // processing instruction, comment or CDATA section that never ends also fails, with
    // no error code. The node starts empty, name and value included; its old nodes are
    // reused. Nesting depth is limited only by memory.
    const char* load(const char* text, XmlParseOptions& options);

    XmlNode* findChild(std::string_view childName);
    const XmlNode* findChild(std::string_view childName) const;
    XmlAttribute* findAttribute(std::string_view attributeName);
    const XmlAttribute* findAttribute(std::string_view attributeName) const;

    // An element's text is its children's text (always with the default options) followed
    // by its own value, entity-encoded when the options ask for it.
    std::string text(const XmlTextOptions& options) const;
    std::string text() const;
    // Text of the first child named `childName`, or "" when there is none.
    std::string childText(std::string_view childName, const XmlTextOptions& options) const;
    std::string childText(std::string_view childName) const;

    // Deletes all children and attributes; name, value and type stay.
    void clear();

    std::string name;   // tag name, "#COMMENT" or "#CDATA"
    std::string value;  // element text, comment body or raw CDATA body
    XmlNode* parent = nullptr;
    std::vector<std::unique_ptr<XmlNode>> children;
    std::vector<std::unique_ptr<XmlAttribute>> attributes;
    int type = kXmlElement;
};

class XmlDocument {
public:
    XmlDocument() = default;
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    // Loads a file into `root`, replacing the whole previous tree: 1 when the load
    // succeeded, 0 when it failed. A null path or a file that cannot be opened loads a bare
    // XML declaration (the root stays nameless). The file is read in text mode.
    int loadFile(const char* path);
    int loadFile(const char* path, XmlParseOptions& options);

    // Loads an in-memory text, up to its first zero byte, into `root`: 1 or 0 as loadFile.
    // A zero-terminated text (a C string or a std::string) is read where it lies, without a
    // copy, so error positions point into the caller's text; a string_view is copied first.
    // A null text fails.
    int loadText(const char* text);
    int loadText(const char* text, XmlParseOptions& options);
    int loadText(const std::string& text);
    int loadText(const std::string& text, XmlParseOptions& options);
    int loadText(std::string_view text);
    int loadText(std::string_view text, XmlParseOptions& options);

    // The text of the last load, "" when there was none (a file that could not be read).
    std::string_view loadedText() const { return loaded_; }

    XmlNode root;
    std::string fileName;  // the path given to the last loadFile, "" for none

private:
    int loadBuffer(const char* text, XmlParseOptions& options);

    std::string text_;  // the text of the last file or string_view load
    std::string_view loaded_;
};

XmlDocument& TheXmlDocument();
XmlParseOptions& TheXmlParseOptions();
XmlTextOptions& TheXmlTextOptions();
