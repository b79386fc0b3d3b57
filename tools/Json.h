// A small JSON writer for the tool's --json output: objects, arrays,
// strings (escaped per RFC 8259), numbers, booleans and null.
#ifndef ZEMT_TOOLS_JSON_H
#define ZEMT_TOOLS_JSON_H

#include <string>
#include <vector>

class JsonWriter {
public:
    void BeginObject() { open('{'); }
    void EndObject() { close('}'); }
    void BeginArray() { open('['); }
    void EndArray() { close(']'); }

    void Key(const std::string& name) {
        separate();
        m_text += Quote(name);
        m_text += ':';
        m_afterKey = true;
    }
    void String(const std::string& value) { scalar(Quote(value)); }
    void Number(long long value) { scalar(std::to_string(value)); }
    void Bool(bool value) { scalar(value ? "true" : "false"); }
    void Null() { scalar("null"); }

    const std::string& Text() const { return m_text; }

    static std::string Quote(const std::string& text) {
        static const char digits[] = "0123456789abcdef";
        std::string out = "\"";
        for (unsigned char c : text) {
            switch (c) {
                case '"': out += "\\\""; break;
                case '\\': out += "\\\\"; break;
                case '\n': out += "\\n"; break;
                case '\r': out += "\\r"; break;
                case '\t': out += "\\t"; break;
                case '\b': out += "\\b"; break;
                case '\f': out += "\\f"; break;
                default:
                    if (c < 0x20 || c == 0x7F || c >= 0x80) {
                        // Controller texts are not promised to be UTF-8:
                        // escape every byte outside printable ASCII.
                        out += "\\u00";
                        out += digits[c >> 4];
                        out += digits[c & 0x0F];
                    } else {
                        out += static_cast<char>(c);
                    }
            }
        }
        return out + "\"";
    }

private:
    void separate() {
        if (!m_needComma.empty() && m_needComma.back()) m_text += ',';
        if (!m_needComma.empty()) m_needComma.back() = true;
    }
    void scalar(const std::string& text) {
        if (!m_afterKey) separate();
        m_afterKey = false;
        m_text += text;
    }
    void open(char bracket) {
        if (!m_afterKey) separate();
        m_afterKey = false;
        m_text += bracket;
        m_needComma.push_back(false);
    }
    void close(char bracket) {
        m_text += bracket;
        m_needComma.pop_back();
    }

    std::string m_text;
    std::vector<bool> m_needComma;
    bool m_afterKey = false;
};

#endif
