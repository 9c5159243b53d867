#include "Registrar.h"

#include <memory>

namespace rv {

namespace {

enum class Removal { Normal, NoRemove, ForceRemove };

struct ScriptValue {
  DWORD type = REG_SZ;
  Text text;         // REG_SZ data
  DWORD number = 0;  // REG_DWORD data
};

struct ScriptKey {
  Text name;
  Removal removal = Removal::Normal;
  bool hasDefault = false;
  ScriptValue defaultValue;
  std::vector<std::pair<Text, ScriptValue>> values;
  std::vector<ScriptKey> subkeys;
};

struct ScriptRoot {
  HKEY root;
  std::vector<ScriptKey> keys;
};

bool isBlank(OLECHAR c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool equalsIgnoringCase(const Text &a, const char *b) {
  size_t i = 0;
  for (; i < a.size() && b[i]; ++i) {
    OLECHAR x = a[i] >= 'a' && a[i] <= 'z' ? static_cast<OLECHAR>(a[i] - 32) : a[i];
    char y = b[i] >= 'a' && b[i] <= 'z' ? static_cast<char>(b[i] - 32) : b[i];
    if (x != static_cast<OLECHAR>(y)) return false;
  }
  return i == a.size() && b[i] == 0;
}

// Splits the script into tokens: braces standing alone, '=', quoted texts
// (a doubled quote stands for one) and words. A brace that starts a word,
// as in {5F3AA7E6-...}, belongs to the word.
class Tokenizer {
 public:
  explicit Tokenizer(const Text &text) : text_(text) {}

  // False at the end of the script or on an unterminated quote.
  bool next(Text &token, bool &quoted) {
    while (at_ < text_.size() && isBlank(text_[at_])) ++at_;
    if (at_ >= text_.size()) return false;
    quoted = false;
    token.clear();
    const OLECHAR c = text_[at_];
    if (c == '\'') {
      quoted = true;
      for (++at_;; ++at_) {
        if (at_ >= text_.size()) return failed_ = true, false;
        if (text_[at_] == '\'') {
          if (at_ + 1 < text_.size() && text_[at_ + 1] == '\'') {
            token.push_back('\'');
            ++at_;
            continue;
          }
          ++at_;
          return true;
        }
        token.push_back(text_[at_]);
      }
    }
    if (c == '=' || ((c == '{' || c == '}') && (at_ + 1 >= text_.size() || isBlank(text_[at_ + 1])))) {
      token.push_back(c);
      ++at_;
      return true;
    }
    while (at_ < text_.size() && !isBlank(text_[at_]) && text_[at_] != '=') token.push_back(text_[at_++]);
    return true;
  }

  bool failed() const { return failed_; }

 private:
  const Text &text_;
  size_t at_ = 0;
  bool failed_ = false;
};

class Parser {
 public:
  explicit Parser(const Text &text) : tokens_(text) { advance(); }

  bool parse(std::vector<ScriptRoot> &roots) {
    while (more_) {
      ScriptRoot root{};
      if (quoted_ || !rootKey(token_, root.root)) return false;
      advance();
      if (!expect("{") || !block(nullptr, root.keys) || !expect("}")) return false;
      roots.push_back(std::move(root));
    }
    return !tokens_.failed();
  }

 private:
  void advance() { more_ = tokens_.next(token_, quoted_); }

  bool is(const char *word) const { return more_ && !quoted_ && equalsIgnoringCase(token_, word); }

  bool expect(const char *word) {
    if (!is(word)) return false;
    advance();
    return true;
  }

  static bool rootKey(const Text &name, HKEY &root) {
    if (equalsIgnoringCase(name, "HKCR") || equalsIgnoringCase(name, "HKEY_CLASSES_ROOT"))
      root = HKEY_CLASSES_ROOT;
    else if (equalsIgnoringCase(name, "HKLM") || equalsIgnoringCase(name, "HKEY_LOCAL_MACHINE"))
      root = HKEY_LOCAL_MACHINE;
    else if (equalsIgnoringCase(name, "HKCU") || equalsIgnoringCase(name, "HKEY_CURRENT_USER"))
      root = HKEY_CURRENT_USER;
    else
      return false;
    return true;
  }

  bool value(ScriptValue &out) {
    if (!expect("=")) return false;
    if (is("s")) {
      advance();
      if (!more_ || !quoted_) return false;
      out.type = REG_SZ;
      out.text = token_;
    } else if (is("d")) {
      advance();
      if (!more_) return false;
      out.type = REG_DWORD;
      out.number = 0;
      for (OLECHAR c : token_) {
        if (c < '0' || c > '9') return false;
        out.number = out.number * 10 + static_cast<DWORD>(c - '0');
      }
    } else {
      return false;
    }
    advance();
    return true;
  }

  // The entries of a block up to its closing brace: values of `owner` (none
  // at the top of a root) and subkeys.
  bool block(ScriptKey *owner, std::vector<ScriptKey> &subkeys) {
    while (more_ && !is("}")) {
      if (is("val")) {
        advance();
        if (owner == nullptr || !more_) return false;
        Text name = token_;
        advance();
        ScriptValue v;
        if (!value(v)) return false;
        owner->values.emplace_back(std::move(name), std::move(v));
      } else if (!keyEntry(subkeys)) {
        return false;
      }
    }
    return true;
  }

  bool keyEntry(std::vector<ScriptKey> &out) {
    ScriptKey key;
    if (is("NoRemove")) {
      key.removal = Removal::NoRemove;
      advance();
    } else if (is("ForceRemove")) {
      key.removal = Removal::ForceRemove;
      advance();
    }
    if (!more_ || is("{") || is("}") || is("=")) return false;
    key.name = token_;
    advance();
    if (is("=")) {
      key.hasDefault = true;
      if (!value(key.defaultValue)) return false;
    }
    if (is("{")) {
      advance();
      if (!block(&key, key.subkeys) || !expect("}")) return false;
    }
    out.push_back(std::move(key));
    return true;
  }

  Tokenizer tokens_;
  Text token_;
  bool quoted_ = false;
  bool more_ = false;
};

HRESULT fromError(LONG error) { return error == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(error); }

LONG setValue(HKEY key, const OLECHAR *name, const ScriptValue &value) {
  if (value.type == REG_DWORD)
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value.number), sizeof(DWORD));
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.text.c_str()),
                        static_cast<DWORD>((value.text.size() + 1) * sizeof(OLECHAR)));
}

struct KeyHandle {
  HKEY key = nullptr;
  ~KeyHandle() {
    if (key) RegCloseKey(key);
  }
};

HRESULT registerKey(HKEY parent, const ScriptKey &k) {
  if (k.removal == Removal::ForceRemove) RegDeleteTreeW(parent, k.name.c_str());
  KeyHandle handle;
  LONG error = RegCreateKeyExW(parent, k.name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                               &handle.key, nullptr);
  if (error != ERROR_SUCCESS) return fromError(error);
  if (k.hasDefault && (error = setValue(handle.key, nullptr, k.defaultValue)) != ERROR_SUCCESS) return fromError(error);
  for (const auto &[name, value] : k.values)
    if ((error = setValue(handle.key, name.c_str(), value)) != ERROR_SUCCESS) return fromError(error);
  for (const ScriptKey &sub : k.subkeys)
    if (HRESULT hr = registerKey(handle.key, sub); FAILED(hr)) return hr;
  return S_OK;
}

void unregisterKey(HKEY parent, const ScriptKey &k) {
  if (k.removal != Removal::NoRemove) {
    RegDeleteTreeW(parent, k.name.c_str());
    RegDeleteKeyW(parent, k.name.c_str());
    return;
  }
  KeyHandle handle;
  if (RegOpenKeyExW(parent, k.name.c_str(), 0, KEY_ALL_ACCESS, &handle.key) != ERROR_SUCCESS) return;
  for (const auto &value : k.values) RegDeleteValueW(handle.key, value.first.c_str());
  for (const ScriptKey &sub : k.subkeys) unregisterKey(handle.key, sub);
}

Text substitute(const Text &script, const ScriptVariables &variables) {
  Text out;
  for (size_t at = 0; at < script.size();) {
    bool replaced = false;
    if (script[at] == '%') {
      for (const auto &[name, value] : variables) {
        const Text marker = Text(1, '%') + name + Text(1, '%');
        if (script.compare(at, marker.size(), marker) == 0) {
          for (OLECHAR c : value) {
            out.push_back(c);
            if (c == '\'') out.push_back(c);
          }
          at += marker.size();
          replaced = true;
          break;
        }
      }
    }
    if (!replaced) out.push_back(script[at++]);
  }
  return out;
}

}  // namespace

HRESULT runRegistrationScript(const Text &script, const ScriptVariables &variables, bool registering) {
  std::vector<ScriptRoot> roots;
  if (!Parser(substitute(script, variables)).parse(roots)) return DISP_E_EXCEPTION;
  for (const ScriptRoot &root : roots) {
    for (const ScriptKey &key : root.keys) {
      if (registering) {
        if (HRESULT hr = registerKey(root.root, key); FAILED(hr)) return hr;
      } else {
        unregisterKey(root.root, key);
      }
    }
  }
  return S_OK;
}

HRESULT runRegistrationResource(HMODULE module, UINT id, const ScriptVariables &variables, bool registering) {
  const OLECHAR type[] = {'R', 'E', 'G', 'I', 'S', 'T', 'R', 'Y', 0};
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), type);
  if (found == nullptr) return HRESULT_FROM_WIN32(GetLastError());
  const char *data = static_cast<const char *>(LockResource(LoadResource(module, found)));
  const DWORD size = SizeofResource(module, found);
  if (data == nullptr) return HRESULT_FROM_WIN32(GetLastError());
  return runRegistrationScript(toWide(std::string(data, size)), variables, registering);
}

}  // namespace rv
