// The registration store (see com/registry.h).
//
// File format (UTF-8 XML, written by this file only):
//   <?xml version="1.0" encoding="UTF-8"?>
//   <registry version="1">
//     <key path="HKEY_CLASSES_ROOT\CLSID\{...}\InprocServer32">
//       <value name="" data="/usr/lib/libfoo.so"/>
//       <value name="ThreadingModel" data="Apartment"/>
//     </key>
//   </registry>
// Every key has its own <key> element with its full path (parents come
// first, in creation order); values sit in their key's element. In
// attribute texts &amp; &lt; &gt; &quot; and &#xH; (control characters)
// are the only escapes.
#include "com/registry.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "com/wstr.h"

namespace {

struct Key {
  std::u16string path;
  std::vector<std::pair<std::u16string, std::u16string>> values;
};

struct Model {
  std::vector<Key> keys;
};

bool same_name(std::u16string_view a, std::u16string_view b) { return kx_wcsicmp(a, b) == 0; }

// Splits and rejoins a key path; false for an empty path or empty parts.
bool canonical(std::u16string_view key, std::u16string* out) {
  out->clear();
  if (key.empty()) return false;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = key.find(u'\\', start);
    const std::u16string_view part =
        key.substr(start, end == std::u16string_view::npos ? key.size() - start : end - start);
    if (part.empty()) return false;
    if (!out->empty()) out->push_back(u'\\');
    out->append(part);
    if (end == std::u16string_view::npos) return true;
    start = end + 1;
  }
}

Key* find_key(Model& m, std::u16string_view path) {
  for (Key& k : m.keys)
    if (same_name(k.path, path)) return &k;
  return nullptr;
}

bool is_below(std::u16string_view path, std::u16string_view parent) {
  return path.size() > parent.size() && path[parent.size()] == u'\\' &&
         same_name(path.substr(0, parent.size()), parent);
}

Key& create_path(Model& m, const std::u16string& path) {
  std::size_t pos = 0;
  Key* key = nullptr;
  while (true) {
    pos = path.find(u'\\', pos);
    const std::u16string prefix = path.substr(0, pos);
    key = find_key(m, prefix);
    if (key == nullptr) {
      m.keys.push_back(Key{prefix, {}});
      key = &m.keys.back();
    }
    if (pos == std::u16string::npos) return *key;
    ++pos;
  }
}

// --------------------------------------------------------------------------
// Text form.

void escape(std::string& out, std::u16string_view text, bool* ok) {
  std::string utf8;
  if (!kx_utf16_to_utf8(text, &utf8)) {
    *ok = false;
    return;
  }
  for (char c : utf8) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "&#x%X;", static_cast<unsigned>(c));
          out += buf;
        } else {
          out.push_back(c);
        }
    }
  }
}

bool serialise(const Model& m, std::string* out) {
  bool ok = true;
  std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<registry version=\"1\">\n";
  for (const Key& k : m.keys) {
    s += "  <key path=\"";
    escape(s, k.path, &ok);
    s += "\">\n";
    for (const auto& [name, data] : k.values) {
      s += "    <value name=\"";
      escape(s, name, &ok);
      s += "\" data=\"";
      escape(s, data, &ok);
      s += "\"/>\n";
    }
    s += "  </key>\n";
  }
  s += "</registry>\n";
  *out = std::move(s);
  return ok;
}

class Parser {
 public:
  explicit Parser(const std::string& text) : t_(text) {}

  bool parse(Model* m) {
    skip_space();
    if (t_.compare(p_, 5, "<?xml") == 0) {
      const std::size_t end = t_.find("?>", p_);
      if (end == std::string::npos) return false;
      p_ = end + 2;
    }
    skip_space();
    if (!literal("<registry")) return false;
    std::string version;
    if (!attribute("version", &version) || version != "1" || !literal(">")) return false;
    while (true) {
      skip_space();
      if (literal("</registry>")) break;
      if (!literal("<key")) return false;
      Key key;
      if (!attribute_u16("path", &key.path) || !literal(">")) return false;
      std::u16string canon;
      if (!canonical(key.path, &canon) || canon != key.path) return false;
      while (true) {
        skip_space();
        if (literal("</key>")) break;
        if (!literal("<value")) return false;
        std::u16string name, data;
        if (!attribute_u16("name", &name) || !attribute_u16("data", &data) || !literal("/>"))
          return false;
        key.values.emplace_back(std::move(name), std::move(data));
      }
      if (find_key(*m, key.path) != nullptr) return false;
      m->keys.push_back(std::move(key));
    }
    skip_space();
    return p_ == t_.size();
  }

 private:
  void skip_space() {
    while (p_ < t_.size() && (t_[p_] == ' ' || t_[p_] == '\n' || t_[p_] == '\r' || t_[p_] == '\t'))
      ++p_;
  }
  bool literal(const char* s) {
    skip_space();
    const std::size_t n = std::strlen(s);
    if (t_.compare(p_, n, s) != 0) return false;
    p_ += n;
    return true;
  }
  bool attribute(const char* name, std::string* value) {
    if (!literal(name) || !literal("=\"")) return false;
    value->clear();
    while (p_ < t_.size() && t_[p_] != '"') {
      const char c = t_[p_++];
      if (c == '<') return false;
      if (c != '&') {
        value->push_back(c);
        continue;
      }
      const std::size_t end = t_.find(';', p_);
      if (end == std::string::npos || end - p_ > 8) return false;
      const std::string entity = t_.substr(p_, end - p_);
      p_ = end + 1;
      if (entity == "amp")
        value->push_back('&');
      else if (entity == "lt")
        value->push_back('<');
      else if (entity == "gt")
        value->push_back('>');
      else if (entity == "quot")
        value->push_back('"');
      else if (entity.size() > 2 && entity[0] == '#' && entity[1] == 'x') {
        char* stop = nullptr;
        const unsigned long code = std::strtoul(entity.c_str() + 2, &stop, 16);
        if (*stop != 0 || code >= 0x20) return false;
        value->push_back(static_cast<char>(code));
      } else {
        return false;
      }
    }
    if (p_ >= t_.size()) return false;
    ++p_;
    return true;
  }
  bool attribute_u16(const char* name, std::u16string* value) {
    std::string utf8;
    return attribute(name, &utf8) && kx_utf8_to_utf16(utf8, value);
  }

  const std::string& t_;
  std::size_t p_ = 0;
};

// --------------------------------------------------------------------------
// The file.

std::string resolve_path() {
  if (const char* env = std::getenv("KXQ_REGISTRY"); env != nullptr && *env != 0) return env;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && *xdg != 0)
    return std::string(xdg) + "/kxq/registry.xml";
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : ".") + "/.local/share/kxq/registry.xml";
}

struct Stamp {
  bool exists = false;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  timespec mtime{};
  bool operator==(const Stamp& o) const {
    return exists == o.exists && dev == o.dev && ino == o.ino && size == o.size &&
           mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec;
  }
};

Stamp stamp_of(const std::string& path) {
  Stamp s;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return s;
  s.exists = true;
  s.dev = st.st_dev;
  s.ino = st.st_ino;
  s.size = st.st_size;
  s.mtime = st.st_mtim;
  return s;
}

// The process's view of the file, reloaded when the file changes.
struct Cache {
  std::mutex mutex;
  std::string path;
  Stamp stamp;
  bool valid = false;
  Model model;
};

Cache& cache() {
  static Cache* c = new Cache;  // never destroyed: usable during exit
  return *c;
}

HRESULT read_file(const std::string& path, Model* m, Stamp* stamp) {
  *m = Model{};
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno != ENOENT) return REGDB_E_READREGDB;
    *stamp = Stamp{};
    return S_OK;
  }
  struct stat st;
  std::string text;
  bool ok = ::fstat(fd, &st) == 0;
  char buf[65536];
  while (ok) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    text.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  if (!ok) return REGDB_E_READREGDB;
  Parser parser(text);
  if (!parser.parse(m)) {
    *m = Model{};
    return REGDB_E_READREGDB;
  }
  stamp->exists = true;
  stamp->dev = st.st_dev;
  stamp->ino = st.st_ino;
  stamp->size = st.st_size;
  stamp->mtime = st.st_mtim;
  return S_OK;
}

// Up to date view of the file; call with the cache locked.
HRESULT refresh(Cache& c) {
  const std::string path = resolve_path();
  const Stamp now = stamp_of(path);
  if (c.valid && c.path == path && c.stamp == now) return S_OK;
  c.valid = false;
  c.path = path;
  const HRESULT hr = read_file(path, &c.model, &c.stamp);
  if (SUCCEEDED(hr)) c.valid = true;
  return hr;
}

bool make_parent_dirs(const std::string& path) {
  for (std::size_t pos = path.find('/', 1); pos != std::string::npos;
       pos = path.find('/', pos + 1)) {
    const std::string dir = path.substr(0, pos);
    if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return true;
}

bool write_all(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// New file beside the old one, flushed, renamed over it, directory flushed.
HRESULT write_file(const std::string& path, const Model& m) {
  std::string text;
  if (!serialise(m, &text)) return E_INVALIDARG;
  const std::string temp = path + ".tmp." + std::to_string(::getpid());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return REGDB_E_WRITEREGDB;
  const bool ok = write_all(fd, text) && ::fsync(fd) == 0;
  if (::close(fd) != 0 || !ok || ::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return REGDB_E_WRITEREGDB;
  }
  const std::size_t slash = path.rfind('/');
  const std::string dir =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return S_OK;
}

// Runs a read against the current model.
template <class F>
HRESULT read_op(F&& f) {
  Cache& c = cache();
  std::lock_guard lock(c.mutex);
  const HRESULT hr = refresh(c);
  if (FAILED(hr)) return hr;
  return f(c.model);
}

// Runs a change: under the cross-process lock, on a fresh model; written
// only when f succeeds and reports a change (S_OK; S_FALSE = unchanged).
template <class F>
HRESULT write_op(F&& f) {
  Cache& c = cache();
  std::lock_guard lock(c.mutex);
  const std::string path = resolve_path();
  if (!make_parent_dirs(path)) return REGDB_E_WRITEREGDB;
  const int lock_fd = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lock_fd < 0) return REGDB_E_WRITEREGDB;
  while (::flock(lock_fd, LOCK_EX) != 0 && errno == EINTR) {}
  HRESULT hr = refresh(c);
  if (SUCCEEDED(hr)) {
    Model changed = c.model;
    hr = f(changed);
    if (hr == S_OK) {
      hr = write_file(path, changed);
      if (SUCCEEDED(hr)) {
        c.model = std::move(changed);
        c.stamp = stamp_of(path);
      } else {
        c.valid = false;
      }
    } else if (hr == S_FALSE) {
      hr = S_OK;
    }
  }
  ::close(lock_fd);  // releases the lock
  return hr;
}

const HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

}  // namespace

std::string kx_reg_file_path() { return resolve_path(); }

HRESULT kx_reg_create_key(std::u16string_view key) {
  std::u16string path;
  if (!canonical(key, &path)) return E_INVALIDARG;
  return write_op([&](Model& m) -> HRESULT {
    if (find_key(m, path) != nullptr) return S_FALSE;
    create_path(m, path);
    return S_OK;
  });
}

HRESULT kx_reg_key_exists(std::u16string_view key) {
  std::u16string path;
  if (!canonical(key, &path)) return E_INVALIDARG;
  const HRESULT hr = read_op([&](Model& m) { return find_key(m, path) ? S_OK : S_FALSE; });
  return FAILED(hr) ? S_FALSE : hr;
}

HRESULT kx_reg_set_value(std::u16string_view key, std::u16string_view name,
                         std::u16string_view value) {
  std::u16string path;
  if (!canonical(key, &path)) return E_INVALIDARG;
  std::string probe;
  if (!kx_utf16_to_utf8(name, &probe) || !kx_utf16_to_utf8(value, &probe)) return E_INVALIDARG;
  return write_op([&](Model& m) -> HRESULT {
    Key& k = create_path(m, path);
    for (auto& [n, v] : k.values) {
      if (same_name(n, name)) {
        if (v == value) return S_FALSE;
        v = value;
        return S_OK;
      }
    }
    k.values.emplace_back(std::u16string(name), std::u16string(value));
    return S_OK;
  });
}

HRESULT kx_reg_get_value(std::u16string_view key, std::u16string_view name, std::u16string* value) {
  if (value == nullptr) return E_POINTER;
  std::u16string path;
  if (!canonical(key, &path)) return E_INVALIDARG;
  return read_op([&](Model& m) -> HRESULT {
    const Key* k = find_key(m, path);
    if (k == nullptr) return kNotFound;
    for (const auto& [n, v] : k->values) {
      if (same_name(n, name)) {
        *value = v;
        return S_OK;
      }
    }
    return kNotFound;
  });
}

HRESULT kx_reg_delete_value(std::u16string_view key, std::u16string_view name) {
  std::u16string path;
  if (!canonical(key, &path)) return E_INVALIDARG;
  HRESULT result = S_OK;
  const HRESULT hr = write_op([&](Model& m) -> HRESULT {
    Key* k = find_key(m, path);
    if (k != nullptr) {
      for (auto it = k->values.begin(); it != k->values.end(); ++it) {
        if (same_name(it->first, name)) {
          k->values.erase(it);
          return S_OK;
        }
      }
    }
    result = kNotFound;
    return S_FALSE;
  });
  return FAILED(hr) ? hr : result;
}

HRESULT kx_reg_delete_tree(std::u16string_view key) {
  std::u16string path;
  if (!canonical(key, &path)) return E_INVALIDARG;
  HRESULT result = S_OK;
  const HRESULT hr = write_op([&](Model& m) -> HRESULT {
    const std::size_t before = m.keys.size();
    std::erase_if(m.keys,
                  [&](const Key& k) { return same_name(k.path, path) || is_below(k.path, path); });
    if (m.keys.size() != before) return S_OK;
    result = kNotFound;
    return S_FALSE;
  });
  return FAILED(hr) ? hr : result;
}

HRESULT kx_reg_enum_keys(std::u16string_view key, std::vector<std::u16string>* names) {
  if (names == nullptr) return E_POINTER;
  names->clear();
  std::u16string path;
  if (!canonical(key, &path)) return E_INVALIDARG;
  return read_op([&](Model& m) -> HRESULT {
    if (find_key(m, path) == nullptr) return kNotFound;
    for (const Key& k : m.keys) {
      if (!is_below(k.path, path)) continue;
      const std::u16string_view rest = std::u16string_view(k.path).substr(path.size() + 1);
      if (rest.find(u'\\') == std::u16string_view::npos) names->emplace_back(rest);
    }
    return S_OK;
  });
}

HRESULT kx_reg_enum_values(std::u16string_view key,
                           std::vector<std::pair<std::u16string, std::u16string>>* values) {
  if (values == nullptr) return E_POINTER;
  values->clear();
  std::u16string path;
  if (!canonical(key, &path)) return E_INVALIDARG;
  return read_op([&](Model& m) -> HRESULT {
    const Key* k = find_key(m, path);
    if (k == nullptr) return kNotFound;
    for (const auto& v : k->values)
      if (v.first.empty()) values->push_back(v);
    for (const auto& v : k->values)
      if (!v.first.empty()) values->push_back(v);
    return S_OK;
  });
}
