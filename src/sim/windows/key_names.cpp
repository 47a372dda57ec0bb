// Each name is a press and a release of its key; Shift+ holds Shift round it.
#include "sim/windows/key_names.h"

#include "sim/utf.h"

namespace sim {

using namespace ce;

namespace {

struct KeyName {
    const char16_t* name;
    int key;
};
constexpr KeyName names[] = {
    {u"Tab", VK_TAB},     {u"Enter", VK_RETURN}, {u"Esc", VK_ESCAPE}, {u"Up", VK_UP},       {u"Down", VK_DOWN},
    {u"Left", VK_LEFT},   {u"Right", VK_RIGHT},  {u"Home", VK_HOME},  {u"End", VK_END},     {u"PgUp", VK_PRIOR},
    {u"PgDn", VK_NEXT},   {u"Back", VK_BACK},    {u"Del", VK_DELETE}, {u"Space", VK_SPACE},
};

int keyNamed(const std::u16string& name) {
    for (const KeyName& k : names)
        if (name == k.name) return k.key;
    return 0;
}

}  // namespace

std::optional<std::vector<InputEvent>> keyScript(const std::u16string& text, std::string& error) {
    std::vector<InputEvent> events;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (c != u'{') {
            events.push_back({InputEvent::Character, 0, 0, c});
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == u'{') {
            events.push_back({InputEvent::Character, 0, 0, u'{'});
            ++i;
            continue;
        }
        std::size_t close = text.find(u'}', i);
        if (close == std::u16string::npos) {
            error = "a key name in --keys has no closing brace: " + toUtf8(text.substr(i));
            return std::nullopt;
        }
        std::u16string name = text.substr(i + 1, close - i - 1);
        bool shift = name.rfind(u"Shift+", 0) == 0;
        int key = keyNamed(shift ? name.substr(6) : name);
        if (!key) {
            error = "no key is named {" + toUtf8(name) + "} in --keys; the names are " + keyNames();
            return std::nullopt;
        }
        if (shift) events.push_back({InputEvent::KeyDown, 0, 0, VK_SHIFT});
        events.push_back({InputEvent::KeyDown, 0, 0, key});
        events.push_back({InputEvent::KeyUp, 0, 0, key});
        if (shift) events.push_back({InputEvent::KeyUp, 0, 0, VK_SHIFT});
        i = close;
    }
    return events;
}

std::string keyNames() {
    std::string list;
    for (const KeyName& k : names) list += (list.empty() ? "{" : ", {") + toUtf8(k.name) + "}";
    return list + " (each also with Shift+, as {Shift+Tab})";
}

}  // namespace sim
