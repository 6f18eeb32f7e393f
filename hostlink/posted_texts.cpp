// The table of posted texts; see posted_texts.h.
#include "hostlink/posted_texts.h"

#include <map>
#include <mutex>
#include <utility>

namespace {

// Texts posted and not yet taken, by message and token.
class OutstandingTexts {
public:
    WPARAM Issue(UINT message, const std::string& text) {
        std::lock_guard<std::mutex> guard(m_lock);
        const WPARAM token = ++m_lastToken;
        m_texts.emplace(Key{message, token}, text);
        return token;
    }
    bool Take(UINT message, WPARAM token, std::string& text) {
        std::lock_guard<std::mutex> guard(m_lock);
        const auto found = m_texts.find(Key{message, token});
        if (found == m_texts.end()) {
            return false;
        }
        text = std::move(found->second);
        m_texts.erase(found);
        return true;
    }

private:
    using Key = std::pair<UINT, WPARAM>;
    std::mutex m_lock;
    std::map<Key, std::string> m_texts;
    WPARAM m_lastToken = 0;
};

OutstandingTexts& TheOutstandingTexts() {
    static OutstandingTexts texts;
    return texts;
}

}  // namespace

bool PostTextMessage(HWND window, UINT message, const std::string& text) {
    const WPARAM token = TheOutstandingTexts().Issue(message, text);
    if (!PostMessageA(window, message, token, 0)) {
        std::string dropped;
        TheOutstandingTexts().Take(message, token, dropped);
        return false;
    }
    return true;
}

bool TakePostedText(UINT message, WPARAM wParam, std::string& text) {
    return TheOutstandingTexts().Take(message, wParam, text);
}
