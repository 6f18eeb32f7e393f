// Character references of the XML reader: the table that turns characters into references
// and back, and the fixed five-reference decoder that the download client uses on URLs.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

struct XmlEntity {
    static constexpr size_t kMaxReferenceLength = 10;

    char character = 0;
    char reference[kMaxReferenceLength + 1] = {};
    int length = 0;
};

class XmlEntityTable {
public:
    // The five standard references: & " ' < > in that order.
    XmlEntityTable();

    // Appends an entry. Refused (false) when the reference is empty or longer than
    // XmlEntity::kMaxReferenceLength.
    bool add(char character, std::string_view reference);

    const std::vector<XmlEntity>& entries() const { return entries_; }

    // Replaces every character that has an entry by its reference.
    std::string encode(std::string_view text) const;
    // Replaces each reference by its character; at every position the entries are tried in
    // table order and anything else, an unknown '&...' included, is copied.
    std::string decode(std::string_view text) const;
    // The same, into `out` (replacing its content), so a caller can reuse its storage.
    void decode(std::string_view text, std::string& out) const;
    // The same, into a buffer of at least text.size() bytes; returns the decoded length,
    // which is never more than the text's.
    size_t decode(std::string_view text, char* out) const;

    // Cheap tests that let callers skip the copy when nothing would change.
    bool needsEncoding(std::string_view text) const;
    bool mayNeedDecoding(std::string_view text) const;

private:
    std::vector<XmlEntity> entries_;
    std::array<bool, 256> encoded_{};         // characters that have an entry
    std::array<bool, 256> referenceStart_{};  // first characters of references
    int commonStart_ = -1;  // the first character of every reference, when they share one
};

// The process-wide table shared by the default parse and text options.
XmlEntityTable& TheXmlEntityTable();

// Replaces "&lt;", "&gt;", "&amp;", "&apos;" and "&quot;", in this order and each over the
// whole text. The order is part of the behaviour: "&amp;quot;" comes out as '"'.
std::string decodeXmlEntities(std::string_view text);
