// Character references of the XML reader.
#include "text/xml_entities.h"

#include <cstring>

namespace {

struct EntityDefinition {
    char character;
    const char* reference;
};

constexpr EntityDefinition kStandardEntities[] = {
    {'&', "&amp;"}, {'"', "&quot;"}, {'\'', "&apos;"}, {'<', "&lt;"}, {'>', "&gt;"},
};

size_t Index(char c) {
    return static_cast<unsigned char>(c);
}

// References are a handful of bytes: a plain loop beats a library call here.
bool StartsWith(const char* text, const char* prefix, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (text[i] != prefix[i]) {
            return false;
        }
    }
    return true;
}

void ReplaceAll(std::string& text, std::string_view from, char to) {
    size_t found = text.find(from);
    if (found == std::string::npos) {
        return;
    }
    // One pass with a write cursor: replacing in place would be quadratic on long texts.
    size_t write = 0;
    size_t read = 0;
    while (found != std::string::npos) {
        std::memmove(&text[write], text.data() + read, found - read);
        write += found - read;
        text[write++] = to;
        read = found + from.size();
        found = text.find(from, read);
    }
    std::memmove(&text[write], text.data() + read, text.size() - read);
    write += text.size() - read;
    text.resize(write);
}

}  // namespace

XmlEntityTable::XmlEntityTable() {
    for (const EntityDefinition& definition : kStandardEntities) {
        add(definition.character, definition.reference);
    }
}

bool XmlEntityTable::add(char character, std::string_view reference) {
    if (reference.empty() || reference.size() > XmlEntity::kMaxReferenceLength) {
        return false;
    }
    XmlEntity entry;
    entry.character = character;
    std::memcpy(entry.reference, reference.data(), reference.size());
    entry.length = static_cast<int>(reference.size());
    entries_.push_back(entry);
    encoded_[Index(character)] = true;
    referenceStart_[Index(reference[0])] = true;
    const int start = static_cast<int>(Index(reference[0]));
    commonStart_ = entries_.size() == 1 || commonStart_ == start ? start : -2;
    return true;
}

bool XmlEntityTable::needsEncoding(std::string_view text) const {
    for (char c : text) {
        if (encoded_[Index(c)]) {
            return true;
        }
    }
    return false;
}

bool XmlEntityTable::mayNeedDecoding(std::string_view text) const {
    for (char c : text) {
        if (referenceStart_[Index(c)]) {
            return true;
        }
    }
    return false;
}

std::string XmlEntityTable::encode(std::string_view text) const {
    if (!needsEncoding(text)) {
        return std::string(text);
    }
    std::string out;
    out.reserve(text.size() + 16);
    for (char c : text) {
        if (!encoded_[Index(c)]) {
            out.push_back(c);
            continue;
        }
        for (const XmlEntity& entry : entries_) {
            if (entry.character == c) {
                out.append(entry.reference, static_cast<size_t>(entry.length));
                break;
            }
        }
    }
    return out;
}

std::string XmlEntityTable::decode(std::string_view text) const {
    std::string out;
    decode(text, out);
    return out;
}

void XmlEntityTable::decode(std::string_view text, std::string& out) const {
    // A reference is never shorter than its character, so the result fits in the length
    // of the text and is written straight into the buffer.
    out.resize(text.size());
    out.resize(decode(text, &out[0]));
}

size_t XmlEntityTable::decode(std::string_view text, char* out) const {
    char* write = out;
    size_t i = 0;
    while (i < text.size()) {
        size_t next = i;
        if (commonStart_ >= 0) {
            // The usual table: every reference starts with '&', which memchr finds fast.
            const void* found = std::memchr(text.data() + i, commonStart_, text.size() - i);
            next = found != nullptr
                       ? static_cast<size_t>(static_cast<const char*>(found) - text.data())
                       : text.size();
        } else {
            while (next < text.size() && !referenceStart_[Index(text[next])]) {
                ++next;
            }
        }
        std::memcpy(write, text.data() + i, next - i);
        write += next - i;
        i = next;
        if (i == text.size()) {
            break;
        }
        const XmlEntity* match = nullptr;
        const size_t left = text.size() - i;
        for (const XmlEntity& entry : entries_) {
            const auto length = static_cast<size_t>(entry.length);
            if (length <= left && StartsWith(text.data() + i, entry.reference, length)) {
                match = &entry;
                break;
            }
        }
        if (match != nullptr) {
            *write++ = match->character;
            i += static_cast<size_t>(match->length);
        } else {
            *write++ = text[i++];
        }
    }
    return static_cast<size_t>(write - out);
}

XmlEntityTable& TheXmlEntityTable() {
    static XmlEntityTable table;
    return table;
}

std::string decodeXmlEntities(std::string_view text) {
    std::string out(text);
    ReplaceAll(out, "&lt;", '<');
    ReplaceAll(out, "&gt;", '>');
    ReplaceAll(out, "&amp;", '&');
    ReplaceAll(out, "&apos;", '\'');
    ReplaceAll(out, "&quot;", '"');
    return out;
}
