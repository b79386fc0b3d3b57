// Just enough of a JSON reader to check the tool's output: strict syntax
// (a malformed document is an error, not a best guess), \u escapes of the
// basic plane, numbers as doubles.
#ifndef ZEMT_E2E_MINIJSON_H
#define ZEMT_E2E_MINIJSON_H

#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct JsonValue {
    enum Type { kNull, kBool, kNumber, kString, kArray, kObject } type = kNull;
    bool boolean = false;
    double number = 0;
    std::string string;
    std::vector<JsonValue> array;
    std::map<std::string, JsonValue> object;

    const JsonValue& operator[](const std::string& key) const {
        static const JsonValue missing;
        auto it = object.find(key);
        return it == object.end() ? missing : it->second;
    }
    bool Has(const std::string& key) const { return object.count(key) != 0; }
};

class JsonReader {
public:
    // False when text is not exactly one JSON value (surrounding blanks allowed).
    static bool Parse(const std::string& text, JsonValue& out) {
        JsonReader reader(text);
        reader.blanks();
        if (!reader.value(out)) return false;
        reader.blanks();
        return reader.pos_ == text.size();
    }

private:
    explicit JsonReader(const std::string& text) : text_(text), pos_(0) {}

    void blanks() {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\n' ||
                                       text_[pos_] == '\t' || text_[pos_] == '\r'))
            ++pos_;
    }
    bool literal(const char* word) {
        std::string w(word);
        if (text_.compare(pos_, w.size(), w) != 0) return false;
        pos_ += w.size();
        return true;
    }
    bool value(JsonValue& v) {
        if (pos_ >= text_.size()) return false;
        char c = text_[pos_];
        if (c == '{') return object(v);
        if (c == '[') return array(v);
        if (c == '"') {
            v.type = JsonValue::kString;
            return string(v.string);
        }
        if (literal("true")) {
            v.type = JsonValue::kBool;
            v.boolean = true;
            return true;
        }
        if (literal("false")) {
            v.type = JsonValue::kBool;
            return true;
        }
        if (literal("null")) return true;
        return number(v);
    }
    bool number(JsonValue& v) {
        std::size_t start = pos_;
        if (pos_ < text_.size() && text_[pos_] == '-') ++pos_;
        if (pos_ >= text_.size() || !isdigit(static_cast<unsigned char>(text_[pos_]))) return false;
        if (text_[pos_] == '0' && pos_ + 1 < text_.size() && isdigit(static_cast<unsigned char>(text_[pos_ + 1])))
            return false;
        while (pos_ < text_.size() && (isdigit(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '.' ||
                                       text_[pos_] == 'e' || text_[pos_] == 'E' || text_[pos_] == '+' ||
                                       text_[pos_] == '-'))
            ++pos_;
        v.type = JsonValue::kNumber;
        v.number = std::strtod(text_.substr(start, pos_ - start).c_str(), nullptr);
        return true;
    }
    bool string(std::string& out) {
        ++pos_;  // opening quote
        while (pos_ < text_.size()) {
            unsigned char c = static_cast<unsigned char>(text_[pos_++]);
            if (c == '"') return true;
            if (c < 0x20) return false;  // control characters must be escaped
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            if (pos_ >= text_.size()) return false;
            char e = text_[pos_++];
            switch (e) {
                case '"': out += '"'; break;
                case '\\': out += '\\'; break;
                case '/': out += '/'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': {
                    if (pos_ + 4 > text_.size()) return false;
                    std::string hex = text_.substr(pos_, 4);
                    if (hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return false;
                    unsigned code = static_cast<unsigned>(std::strtoul(hex.c_str(), nullptr, 16));
                    pos_ += 4;
                    if (code < 0x80) {
                        out += static_cast<char>(code);
                    } else if (code < 0x800) {
                        out += static_cast<char>(0xC0 | (code >> 6));
                        out += static_cast<char>(0x80 | (code & 0x3F));
                    } else {
                        out += static_cast<char>(0xE0 | (code >> 12));
                        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
                        out += static_cast<char>(0x80 | (code & 0x3F));
                    }
                    break;
                }
                default: return false;
            }
        }
        return false;
    }
    bool array(JsonValue& v) {
        v.type = JsonValue::kArray;
        ++pos_;
        blanks();
        if (pos_ < text_.size() && text_[pos_] == ']') {
            ++pos_;
            return true;
        }
        for (;;) {
            JsonValue item;
            blanks();
            if (!value(item)) return false;
            v.array.push_back(item);
            blanks();
            if (pos_ >= text_.size()) return false;
            char c = text_[pos_++];
            if (c == ']') return true;
            if (c != ',') return false;
        }
    }
    bool object(JsonValue& v) {
        v.type = JsonValue::kObject;
        ++pos_;
        blanks();
        if (pos_ < text_.size() && text_[pos_] == '}') {
            ++pos_;
            return true;
        }
        for (;;) {
            blanks();
            if (pos_ >= text_.size() || text_[pos_] != '"') return false;
            std::string key;
            if (!string(key)) return false;
            if (v.object.count(key)) return false;  // duplicate keys are a writer bug
            blanks();
            if (pos_ >= text_.size() || text_[pos_++] != ':') return false;
            blanks();
            JsonValue item;
            if (!value(item)) return false;
            v.object[key] = item;
            blanks();
            if (pos_ >= text_.size()) return false;
            char c = text_[pos_++];
            if (c == '}') return true;
            if (c != ',') return false;
        }
    }

    const std::string& text_;
    std::size_t pos_;
};

#endif
