// Takes the store's command line apart. The host form is read the way "%s %d %s %d"
// reads it, by hand: the text is never used as a format, words cannot overrun their
// limit, and a number too large for an int counts as unreadable instead of wrapping.
#include "store/shell/store_command_line.h"

#include <climits>

#include "hostlink/host_link_codes.h"

namespace {

constexpr char kHiddenFirstWord[] = "HideWindowsAPPHOSTID";

bool IsBlank(char c) {
    // The C locale's white space, as scanf skips it.
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

class Reader {
public:
    explicit Reader(std::string_view text) : m_text(text) {}

    // "%s" with a 1023-character buffer; false at the end of the text.
    bool Word(std::string* word) {
        SkipBlanks();
        if (m_pos >= m_text.size()) {
            return false;
        }
        const std::size_t start = m_pos;
        while (m_pos < m_text.size() && !IsBlank(m_text[m_pos])) {
            ++m_pos;
        }
        const std::size_t length = m_pos - start;
        *word =
            std::string(m_text.substr(start, length < kCommandWordMax ? length : kCommandWordMax));
        return true;
    }

    // "%d": optional sign and decimal digits; false when there are no digits or the
    // value does not fit an int.
    bool Number(int* value) {
        SkipBlanks();
        std::size_t pos = m_pos;
        bool negative = false;
        if (pos < m_text.size() && (m_text[pos] == '+' || m_text[pos] == '-')) {
            negative = m_text[pos] == '-';
            ++pos;
        }
        const std::size_t digitsStart = pos;
        long long magnitude = 0;
        bool tooLarge = false;
        while (pos < m_text.size() && m_text[pos] >= '0' && m_text[pos] <= '9') {
            if (!tooLarge) {
                magnitude = magnitude * 10 + (m_text[pos] - '0');
                tooLarge = magnitude > static_cast<long long>(INT_MAX) + 1;
            }
            ++pos;
        }
        if (pos == digitsStart) {
            return false;
        }
        const long long signedValue = negative ? -magnitude : magnitude;
        if (tooLarge || signedValue > INT_MAX || signedValue < INT_MIN) {
            return false;
        }
        m_pos = pos;
        *value = static_cast<int>(signedValue);
        return true;
    }

private:
    void SkipBlanks() {
        while (m_pos < m_text.size() && IsBlank(m_text[m_pos])) {
            ++m_pos;
        }
    }

    std::string_view m_text;
    std::size_t m_pos = 0;
};

}  // namespace

bool IsDrivePath(std::string_view commandLine) {
    return commandLine.size() >= 3 && commandLine[1] == ':' && commandLine[2] == '\\';
}

StoreCommandLine ParseStoreCommandLine(std::string_view commandLine) {
    StoreCommandLine result;
    if (IsDrivePath(commandLine)) {
        result.startupFilePath = std::string(commandLine);
        return result;
    }
    Reader reader(commandLine);
    std::string firstWord;
    std::string thirdWord;
    int hostId = 0;
    int hostPid = 0;
    if (!reader.Word(&firstWord) || !reader.Number(&hostId)) {
        return result;
    }
    result.hostId = hostId;
    if (!reader.Word(&thirdWord)) {
        return result;
    }
    result.hidden = firstWord == kHiddenFirstWord && thirdWord == kIdentityWordPid;
    if (reader.Number(&hostPid)) {
        result.hostProcessId = hostPid;
    }
    return result;
}
