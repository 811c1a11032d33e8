// Registry scripts: the component's REGISTRY resources, run to add or remove its keys.
//
// A script names a root and nests keys in braces:
//
//   HKCR
//   {
//       Vantor.Camera.1 = s 'Camera Class'
//       {
//           CLSID = s '%CLSID%'
//       }
//       NoRemove CLSID
//       {
//           ForceRemove %CLSID% = s 'Camera Class'
//           {
//               InprocServer32 = s '%MODULE%'
//               {
//                   val ThreadingModel = s 'Apartment'
//               }
//           }
//       }
//   }
//
// `name = s 'text'` sets a key's default value (`d 'n'` a number), `val name = s 'text'` a named
// value. Registering creates every key and value. Removing deletes each key with everything under
// it, except keys marked NoRemove, which stay while the keys inside them are removed.
// ForceRemove deletes the key before registering it again. %NAME% are replaced before parsing;
// a quote inside a quoted text is written twice.
#include "module/registrar.h"

#include <vantor/registry.h>

#include <cctype>
#include <cstdlib>
#include <vector>

namespace vantor {

namespace {

struct Token {
    enum Kind { Word, Text, Open, Close, Equals, End } kind;
    std::string text;
};

class Lexer {
public:
    explicit Lexer(const std::string& s) : s_(s) {}

    bool next(Token& t) {
        while (pos_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[pos_]))) ++pos_;
        if (pos_ >= s_.size()) {
            t = {Token::End, ""};
            return true;
        }
        char c = s_[pos_];
        // A brace followed by a blank is a block; one followed by text starts a word ({GUID}).
        if ((c == '{' || c == '}') && (pos_ + 1 >= s_.size() || std::isspace(static_cast<unsigned char>(s_[pos_ + 1])))) {
            ++pos_;
            t = {c == '{' ? Token::Open : Token::Close, ""};
            return true;
        }
        if (c == '=') {
            ++pos_;
            t = {Token::Equals, "="};
            return true;
        }
        if (c == '\'') {
            std::string text;
            ++pos_;
            while (pos_ < s_.size()) {
                if (s_[pos_] == '\'') {
                    if (pos_ + 1 < s_.size() && s_[pos_ + 1] == '\'') {
                        text.push_back('\'');
                        pos_ += 2;
                        continue;
                    }
                    ++pos_;
                    t = {Token::Text, text};
                    return true;
                }
                text.push_back(s_[pos_++]);
            }
            return false;  // unterminated text
        }
        std::string word;
        while (pos_ < s_.size() && !std::isspace(static_cast<unsigned char>(s_[pos_])) && s_[pos_] != '=' &&
               s_[pos_] != '\'') {
            word.push_back(s_[pos_++]);
        }
        t = {Token::Word, word};
        return true;
    }

private:
    const std::string& s_;
    size_t pos_ = 0;
};

struct Value {
    std::string name;  // "" for the key's default value
    DWORD type = REG_SZ;
    std::string text;
};

struct Node {
    std::string name;
    bool no_remove = false;
    bool force_remove = false;
    std::vector<Value> values;
    std::vector<Node> children;
};

struct Script {
    HKEY root;
    std::vector<Node> keys;
};

class Parser {
public:
    explicit Parser(const std::string& s) : lex_(s) {}

    bool parse(std::vector<Script>& out) {
        if (!advance()) return false;
        while (tok_.kind != Token::End) {
            if (tok_.kind != Token::Word) return false;
            HKEY root = root_of(tok_.text);
            if (!root) return false;
            if (!advance() || tok_.kind != Token::Open || !advance()) return false;
            Script script{root, {}};
            if (!block(script.keys, nullptr)) return false;
            out.push_back(std::move(script));
        }
        return true;
    }

private:
    static HKEY root_of(const std::string& w) {
        if (w == "HKCR" || w == "HKEY_CLASSES_ROOT") return HKEY_CLASSES_ROOT;
        if (w == "HKLM" || w == "HKEY_LOCAL_MACHINE") return HKEY_LOCAL_MACHINE;
        if (w == "HKCU" || w == "HKEY_CURRENT_USER") return HKEY_CURRENT_USER;
        return nullptr;
    }

    bool advance() { return lex_.next(tok_); }

    // Reads "s 'text'" or "d 'n'" after '='.
    bool value(Value& v) {
        if (!advance() || tok_.kind != Token::Word || (tok_.text != "s" && tok_.text != "d")) return false;
        v.type = tok_.text == "d" ? REG_DWORD : REG_SZ;
        if (!advance() || tok_.kind != Token::Text) return false;
        v.text = tok_.text;
        return advance();
    }

    // Keys and values up to the closing brace (consumed).
    bool block(std::vector<Node>& keys, Node* owner) {
        while (tok_.kind != Token::Close) {
            if (tok_.kind == Token::End) return false;
            if (tok_.kind == Token::Word && tok_.text == "val") {
                if (!owner || !advance() || (tok_.kind != Token::Word && tok_.kind != Token::Text)) return false;
                Value v;
                v.name = tok_.text;
                if (!advance() || tok_.kind != Token::Equals || !value(v)) return false;
                owner->values.push_back(v);
                continue;
            }
            Node node;
            while (tok_.kind == Token::Word && (tok_.text == "NoRemove" || tok_.text == "ForceRemove")) {
                (tok_.text == "NoRemove" ? node.no_remove : node.force_remove) = true;
                if (!advance()) return false;
            }
            if (tok_.kind != Token::Word && tok_.kind != Token::Text) return false;
            node.name = tok_.text;
            if (!advance()) return false;
            if (tok_.kind == Token::Equals) {
                Value v;
                if (!value(v)) return false;
                node.values.push_back(v);
            }
            if (tok_.kind == Token::Open) {
                if (!advance() || !block(node.children, &node)) return false;
            }
            keys.push_back(std::move(node));
        }
        return advance();
    }

    Lexer lex_;
    Token tok_{Token::End, ""};
};

HRESULT from_win32(LONG e) { return e == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(e); }

HRESULT add(HKEY parent, const Node& node) {
    if (node.force_remove) {
        LONG e = RegDeleteTreeA(parent, node.name.c_str());
        if (e != ERROR_SUCCESS && e != ERROR_FILE_NOT_FOUND) return from_win32(e);
    }
    HKEY key;
    LONG e = RegCreateKeyExA(parent, node.name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (e != ERROR_SUCCESS) return from_win32(e);
    HRESULT hr = S_OK;
    for (const Value& v : node.values) {
        if (v.type == REG_DWORD) {
            DWORD n = static_cast<DWORD>(std::strtoul(v.text.c_str(), nullptr, 0));
            e = RegSetValueExA(key, v.name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&n), 4);
        } else {
            e = RegSetValueExA(key, v.name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(v.text.c_str()),
                               static_cast<DWORD>(v.text.size() + 1));
        }
        if (e != ERROR_SUCCESS) {
            hr = from_win32(e);
            break;
        }
    }
    for (size_t i = 0; SUCCEEDED(hr) && i < node.children.size(); ++i) hr = add(key, node.children[i]);
    RegCloseKey(key);
    return hr;
}

HRESULT remove(HKEY parent, const Node& node) {
    if (!node.no_remove) {
        LONG e = RegDeleteTreeA(parent, node.name.c_str());
        return (e == ERROR_SUCCESS || e == ERROR_FILE_NOT_FOUND) ? S_OK : from_win32(e);
    }
    HKEY key;
    LONG e = RegOpenKeyExA(parent, node.name.c_str(), 0, KEY_ALL_ACCESS, &key);
    if (e == ERROR_FILE_NOT_FOUND) return S_OK;
    if (e != ERROR_SUCCESS) return from_win32(e);
    HRESULT hr = S_OK;
    for (size_t i = 0; SUCCEEDED(hr) && i < node.children.size(); ++i) hr = remove(key, node.children[i]);
    RegCloseKey(key);
    return hr;
}

std::string substitute(const std::string& text, const std::map<std::string, std::string>& values) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        if (text[i] == '%') {
            size_t end = text.find('%', i + 1);
            if (end != std::string::npos) {
                auto it = values.find(text.substr(i + 1, end - i - 1));
                if (it != values.end()) {
                    for (char c : it->second) {
                        out.push_back(c);
                        if (c == '\'') out.push_back('\'');  // quotes inside texts are doubled
                    }
                    i = end + 1;
                    continue;
                }
            }
        }
        out.push_back(text[i++]);
    }
    return out;
}

}  // namespace

HRESULT run_registry_script(const std::string& script, const std::map<std::string, std::string>& values,
                            bool registering) {
    std::vector<Script> scripts;
    if (!Parser(substitute(script, values)).parse(scripts)) return E_UNEXPECTED;
    for (const Script& s : scripts) {
        for (const Node& key : s.keys) {
            HRESULT hr = registering ? add(s.root, key) : remove(s.root, key);
            if (FAILED(hr)) return hr;
        }
    }
    return S_OK;
}

}  // namespace vantor
