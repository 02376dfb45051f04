#include "pycarrier.h"

#include <cmath>
#include <memory>
#include <tuple>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "args.h"
#include "vondrel/content.h"
#include "vondrel/json_value.h"
#include "vondrel/record.h"
#include "vondrel/wire.h"

namespace vondrel::py {

namespace {

// collections.abc.Sequence and Mapping, looked up once.
PyObject* abc_class(const char* name) {
  static PyObject* sequence = nullptr;
  static PyObject* mapping = nullptr;
  PyObject*& slot = (name[0] == 'S') ? sequence : mapping;
  if (!slot) {
    Ref abc = Ref::steal(PyImport_ImportModule("collections.abc"));
    if (!abc) return nullptr;
    slot = PyObject_GetAttrString(abc.get(), name);  // kept for the life of the process
  }
  return slot;
}

// 1 yes, 0 no, -1 error.
int is_abc(PyObject* obj, const char* name) {
  PyObject* cls = abc_class(name);
  if (!cls) return -1;
  return PyObject_IsInstance(obj, cls);
}

std::string unexpected_type(PyObject* obj, std::string_view target) {
  return "unexpected type: " + cannot_convert(obj, target);
}

// ---------------------------------------------------------------------------------------
// Element access of the three container shapes. Each visits (key?, value) pairs in order
// and stops at the first false.

// Mapping: a dict read in place, any other registered Mapping key by key: every key of its
// key list in order, with the value it holds under that key when the key is reached (as
// dict(mapping) reads it); the mapping's own len() takes no part.
// Returns 1 done, 0 visitor stopped (error recorded by it), -1 interpreter error pending.
template <class Fn>
int for_each_item(PyObject* obj, Fn&& fn) {
  if (PyDict_CheckExact(obj)) return for_each_dict_item(obj, fn);
  Ref keys = Ref::steal(PyMapping_Keys(obj));
  if (!keys) return -1;
  for (Py_ssize_t i = 0; i < PyList_Size(keys.get()); ++i) {
    Ref key = Ref::steal(PySequence_GetItem(keys.get(), i));
    if (!key) return -1;
    Ref value = Ref::steal(PyObject_GetItem(obj, key.get()));
    if (!value) return -1;
    if (!fn(key.get(), value.get())) return 0;
  }
  return 1;
}

// Sequence read by index (list, tuple, registered Sequence) or a set in iteration order. An
// exact list or tuple is read in place; a subclass through its own length and item access.
template <class Fn>
int for_each_element(PyObject* obj, bool as_set, Fn&& fn) {
  if (as_set) {
    Ref it = Ref::steal(PyObject_GetIter(obj));
    if (!it) return -1;
    while (Ref item = Ref::steal(PyIter_Next(it.get()))) {
      if (!fn(item.get())) return 0;
    }
    return PyErr_Occurred() ? -1 : 1;
  }
  if (PyList_CheckExact(obj)) {
    for (Py_ssize_t i = 0; i < PyList_Size(obj); ++i) {
      Ref item = Ref::borrow(PyList_GetItem(obj, i));
      if (!item) return -1;
      if (!fn(item.get())) return 0;
    }
    return 1;
  }
  if (PyTuple_CheckExact(obj)) {
    Py_ssize_t n = PyTuple_Size(obj);
    for (Py_ssize_t i = 0; i < n; ++i) {
      if (!fn(PyTuple_GetItem(obj, i))) return 0;
    }
    return 1;
  }
  Py_ssize_t n = PySequence_Size(obj);
  if (n < 0) return -1;
  for (Py_ssize_t i = 0; i < n; ++i) {
    Ref item = Ref::steal(PySequence_GetItem(obj, i));
    if (!item) return -1;
    if (!fn(item.get())) return 0;
  }
  return 1;
}

// Interned key strings of the record descriptions (and other fixed texts), by the address
// of their text.
PyObject* key_object(std::string_view key) {
  static std::unordered_map<const char*, PyObject*> cache;
  auto it = cache.find(key.data());
  if (it != cache.end()) return it->second;
  PyObject* s = PyUnicode_FromStringAndSize(key.data(), static_cast<Py_ssize_t>(key.size()));
  if (!s) return nullptr;
  PyUnicode_InternInPlace(&s);
  cache.emplace(key.data(), s);  // kept for the life of the process
  return s;
}

// ---------------------------------------------------------------------------------------
// Reading.

// Puts a T into `out` (a JsonValue or Content). A value read here is nearly always still
// null (freshly made): then the T is built over the empty alternative, which needs no
// destruction, instead of through the generic reset of every alternative. Should building
// the T fail, `out` is made null again before the failure goes on.
template <class T, class Out, class... A>
void put(Out& out, A&&... args) {
  static_assert(std::is_same_v<std::variant_alternative_t<0, decltype(out.v)>, std::monostate>);
  if (out.v.index() == 0) {
    try {
      std::construct_at(&out.v, std::in_place_type<T>, std::forward<A>(args)...);
    } catch (...) {
      std::construct_at(&out.v);
      throw;
    }
  } else {
    out.v.template emplace<T>(std::forward<A>(args)...);
  }
}

// One more container open while it lives, on a reader's or writer's count of them (the
// outermost counted); `ok` is false past kMaxNesting.
class Level {
 public:
  explicit Level(int& depth) : depth_(depth), ok(++depth <= kMaxNesting) {}
  ~Level() { --depth_; }
  Level(const Level&) = delete;
  Level& operator=(const Level&) = delete;

 private:
  int& depth_;

 public:
  const bool ok;
};

class Reader {
 public:
  std::string error;
  // An interpreter exception is pending and becomes the error once reading has unwound.
  bool py_error = false;
  // Containers open at once, the outermost counted: every mapping and sequence read (records,
  // lists, maps, JSON arrays and objects, buffered ones) is one level, as arrays and objects
  // are in JSON text, and no more than kMaxNesting may be open.
  int depth = 0;

  [[gnu::cold, gnu::noinline]] bool too_deep() { return fail(kNestingExceeded); }

  bool fail(std::string message) {
    error = std::move(message);
    return false;
  }
  bool fail_py() {
    py_error = true;
    return false;
  }

  // --- primitive fields
  bool read(PyObject* obj, std::string& out) {
    if (!is_str(obj)) return fail(unexpected_type(obj, "PyString"));
    std::string_view text;
    if (!utf8(obj, text)) return fail_py();
    out.assign(text);
    return true;
  }

  bool read(PyObject* obj, std::int64_t& out) {
    long v = PyLong_AsLong(obj);
    if (v == -1 && PyErr_Occurred()) return fail_py();
    out = static_cast<std::int64_t>(v);
    return true;
  }

  bool read(PyObject* obj, double& out) {
    double v = PyFloat_AsDouble(obj);
    if (v == -1.0 && PyErr_Occurred()) return fail_py();
    out = v;
    return true;
  }

  bool read(PyObject* obj, bool& out) {
    int t = PyObject_IsTrue(obj);
    if (t < 0) return fail_py();
    out = t != 0;
    return true;
  }

  bool read(PyObject* obj, std::optional<NetlistArray>& out) {
    if (obj == Py_None) {
      out.reset();
      return true;
    }
    NetlistArray a;
    if (!read(obj, a)) return false;
    out = a;
    return true;
  }

  // --- containers
  // Whether `obj` is a mapping; false with the error recorded otherwise.
  bool require_mapping(PyObject* obj) {
    if (PyDict_Check(obj)) return true;
    int r = is_abc(obj, "Mapping");
    if (r < 0) return fail_py();
    if (r == 0) return fail(unexpected_type(obj, "Mapping"));
    return true;
  }

  // Whether to read as a sequence (false) or a set (true); fails for neither.
  bool sequence_shape(PyObject* obj, bool& as_set) {
    as_set = false;
    if (PyList_Check(obj) || PyTuple_Check(obj)) return true;
    int r = is_abc(obj, "Sequence");
    if (r < 0) return fail_py();
    if (r > 0) return true;
    if (PyAnySet_Check(obj)) {
      as_set = true;
      return true;
    }
    return fail(unexpected_type(obj, "Sequence"));
  }

  // Reads every element of a sequence (or set) into `out`, each through read_elem.
  template <class Elem, class Fn>
  bool collect(PyObject* obj, bool as_set, std::vector<Elem>& out, Fn&& read_elem) {
    Level level(depth);
    if (!level.ok) return too_deep();
    out.clear();
    out.reserve(length_hint(obj));
    // Elements are built in place; on failure the caller drops the partial list.
    int r = for_each_element(obj, as_set, [&](PyObject* item) { return read_elem(item, out.emplace_back()); });
    if (r < 0) return fail_py();
    return r > 0;
  }

  // Reads every entry of a mapping into `out`, each through read_entry(key, value, out),
  // which appends the entry.
  template <class K, class V, class Fn>
  bool collect_items(PyObject* obj, std::vector<std::pair<K, V>>& out, Fn&& read_entry) {
    Level level(depth);
    if (!level.ok) return too_deep();
    out.clear();
    out.reserve(length_hint(obj));
    int r = for_each_item(obj, [&](PyObject* key, PyObject* value) { return read_entry(key, value, out); });
    if (r < 0) return fail_py();
    return r > 0;
  }

  template <class Elem, class Fn>
  bool read_list(PyObject* obj, std::vector<Elem>& out, Fn&& read_elem) {
    bool as_set;
    return sequence_shape(obj, as_set) && collect(obj, as_set, out, read_elem);
  }

  bool read(PyObject* obj, std::vector<NetlistPort>& out) {
    return read_list(obj, out, [&](PyObject* item, NetlistPort& p) { return read(item, p); });
  }

  bool read(PyObject* obj, Net& out) {
    return read_list(obj, out.members, [&](PyObject* item, NetMember& m) { return read(item, m); });
  }

  bool read(PyObject* obj, std::vector<Net>& out) {
    return read_list(obj, out, [&](PyObject* item, Net& n) { return read(item, n); });
  }

  // Names and groups of names (the normalisation arguments): lists of lists of str.
  bool read(PyObject* obj, std::vector<std::string>& out) {
    return read_list(obj, out, [&](PyObject* item, std::string& s) { return read(item, s); });
  }
  bool read(PyObject* obj, std::vector<std::vector<std::string>>& out) {
    return read_list(obj, out, [&](PyObject* item, std::vector<std::string>& g) { return read(item, g); });
  }

  // A mapping of str keys, looked up by name only; a key the mapping yields twice keeps its
  // later value.
  template <class V>
  bool read(PyObject* obj, std::unordered_map<std::string, V>& out) {
    if (!require_mapping(obj)) return false;
    Level level(depth);
    if (!level.ok) return too_deep();
    out.clear();
    out.reserve(length_hint(obj));
    int r = for_each_item(obj, [&](PyObject* key, PyObject* value) {
      std::string name;
      V v;
      if (!read(key, name) || !read(value, v)) return false;
      out.insert_or_assign(std::move(name), std::move(v));
      return true;
    });
    if (r < 0) return fail_py();
    return r > 0;
  }

  template <class W>
  bool read(PyObject* obj, OrderedMap<W>& out) {
    if (!require_mapping(obj)) return false;
    Level level(depth);
    if (!level.ok) return too_deep();
    out.clear();
    int r = for_each_item(obj, [&](PyObject* key, PyObject* value) {
      std::string name;
      if (!read(key, name)) return false;
      W rec;
      if (!read(value, rec)) return false;
      out.insert_or_assign(std::move(name), std::move(rec));
      return true;
    });
    if (r < 0) return fail_py();
    return r > 0;
  }

  // --- records
  template <class R>
    requires record::is_record_v<R>
  bool read(PyObject* obj, R& out) {
    if (!require_mapping(obj)) return false;
    Level level(depth);
    if (!level.ok) return too_deep();
    MapAccess m(*this, obj);
    if (!m.start()) return false;
    return record::read_map_record<R>(m, out);
  }

  // The map access the record driver walks: keys in the mapping's order.
  // The entries are taken up front, so Python code run while a value is read (a __float__,
  // __index__ or __bool__ that changes the mapping) cannot change which entries are read. A
  // small exact dict is copied into the access itself, any other mapping into a list of
  // entries as for_each_item reads it (a bigger exact dict in one step, as no Python code
  // runs meanwhile; any other key by key, each with the value under it).
  struct MapAccess {
    MapAccess(Reader& reader, PyObject* mapping) : r(reader), obj(mapping) {}
    ~MapAccess() {
      for (Py_ssize_t i = 0; i < 2 * n_inline; ++i) Py_DECREF(inline_items[i]);
    }
    MapAccess(const MapAccess&) = delete;
    MapAccess& operator=(const MapAccess&) = delete;

    static constexpr Py_ssize_t kInline = 8;  // more than any record has keys
    Reader& r;
    PyObject* obj;
    PyObject* inline_items[2 * kInline];  // a small exact dict: key, value, ...; each held
    Py_ssize_t n_inline = 0;
    std::vector<std::pair<Ref, Ref>> entries;  // any other mapping
    std::size_t pos = 0, n = 0;
    PyObject* key = nullptr;  // current entry
    PyObject* value = nullptr;

    bool start() {
      if (PyDict_CheckExact(obj) && PyDict_Size(obj) <= kInline) {
        PyObject *k, *v;
        Py_ssize_t at = 0;
        while (PyDict_Next(obj, &at, &k, &v)) {
          Py_INCREF(k);
          Py_INCREF(v);
          inline_items[2 * n_inline] = k;
          inline_items[2 * n_inline + 1] = v;
          ++n_inline;
        }
        n = static_cast<std::size_t>(n_inline);
        return true;
      }
      int rc = for_each_item(obj, [&](PyObject* k, PyObject* v) {
        entries.emplace_back(Ref::borrow(k), Ref::borrow(v));
        return true;
      });
      if (rc < 0) return r.fail_py();
      n = entries.size();
      return true;
    }

    static int failed(bool) { return -1; }

    int next_key(std::string_view& out) {
      if (pos >= n) return 0;
      if (n_inline) {
        key = inline_items[2 * pos];
        value = inline_items[2 * pos + 1];
      } else {
        key = entries[pos].first.get();
        value = entries[pos].second.get();
      }
      ++pos;
      if (!is_str(key)) return failed(r.fail("dict keys must have type str"));
      if (!utf8(key, out)) return failed(r.fail_py());
      return 1;
    }

    template <class T>
    bool read_value(T& out) {
      return r.read(value, out);
    }
    bool skip_value() { return true; }  // unknown keys of a bounding box: the value is not examined
    bool fail(std::string message) { return r.fail(std::move(message)); }
  };

  // --- JSON values
  // One conversion order for JSON values and buffered values alike: the first test that holds
  // decides (each accepts subclasses). What a kind becomes is the overload for Out.
  template <class Out>
  bool read_any(PyObject* obj, Out& out) {
    if (obj == Py_None) {
      if constexpr (std::is_same_v<Out, JsonValue>)
        out.v.template emplace<std::monostate>();
      else
        out = Out();
      return true;
    }
    // The exact built-in types first, by one pointer comparison each (the checks below are
    // calls under the limited API); an exact type passes only its own test of the order.
    PyTypeObject* tp = Py_TYPE(obj);
    if (tp == &PyUnicode_Type) {
      std::string_view text;
      if (!utf8(obj, text)) return fail_py();
      put<std::string>(out, text);
      return true;
    }
    if (tp == &PyFloat_Type) return read_real(PyFloat_AsDouble(obj), out);
    if (tp == &PyBool_Type) {
      put<bool>(out, obj == Py_True);
      return true;
    }
    if (tp == &PyLong_Type) return read_int(obj, out);
    if (tp == &PyDict_Type) return read_map(obj, out);
    if (tp == &PyList_Type) return read_seq(obj, false, out);
    // bool cannot be subclassed: every bool was taken above.
    if (PyLong_Check(obj)) return read_int(obj, out);
    if (PyList_Check(obj) || PyTuple_Check(obj)) return read_seq(obj, false, out);
    if (PyDict_Check(obj)) return read_map(obj, out);
    if (is_str(obj)) {
      std::string s;
      if (!read(obj, s)) return false;
      out = Out(std::move(s));
      return true;
    }
    if (PyBytes_Check(obj)) return read_bytes(obj, out);
    if (PyByteArray_Check(obj)) return fail(unexpected_type(obj, "PyBytes"));
    if (PyFloat_Check(obj)) return read_real(PyFloat_AsDouble(obj), out);
    if (PyAnySet_Check(obj)) return read_seq(obj, true, out);
    int r = is_abc(obj, "Sequence");
    if (r < 0) return fail_py();
    if (r > 0) return read_seq(obj, false, out);
    r = is_abc(obj, "Mapping");
    if (r < 0) return fail_py();
    if (r > 0) return read_map(obj, out);
    return fail("unsupported type " + type_name(obj));
  }

  bool read(PyObject* obj, JsonValue& out) { return read_any(obj, out); }

  bool read_bytes(PyObject*, JsonValue&) { return fail(record::invalid_type("byte array", record::kExpectAnyJson)); }
  bool read_real(double d, JsonValue& out) {
    // NaN and the infinities read as null.
    if (std::isfinite(d))
      put<double>(out, d);
    else
      out.v.emplace<std::monostate>();
    return true;
  }

  // A Python int in one of the two 64-bit forms, or how it misses them.
  enum class IntForm { Signed, Unsigned, Beyond64, Error };
  struct Int {
    IntForm form;
    bool negative = false;
    std::int64_t i = 0;
    std::uint64_t u = 0;
  };

  // Signed when negative and >= -2^63, unsigned when 0..2^64-1; Beyond64 when it still
  // fits 128 bits; Error (interpreter exception pending) otherwise.
  static Int classify_int(PyObject* obj) {
    int overflow = 0;
    long long v = PyLong_AsLongLongAndOverflow(obj, &overflow);
    if (v == -1 && PyErr_Occurred()) return {IntForm::Error};
    if (overflow == 0) {
      if (v < 0) return {IntForm::Signed, true, v, 0};
      return {IntForm::Unsigned, false, 0, static_cast<std::uint64_t>(v)};
    }
    if (overflow > 0) {
      unsigned long long u = PyLong_AsUnsignedLongLong(obj);
      if (!(u == static_cast<unsigned long long>(-1) && PyErr_Occurred())) return {IntForm::Unsigned, false, 0, u};
      PyErr_Clear();
    }
    if (!fits_128(obj, overflow > 0)) return {IntForm::Error};
    return {IntForm::Beyond64, overflow < 0};
  }

  bool read_int(PyObject* obj, JsonValue& out) {
    Int n = classify_int(obj);
    switch (n.form) {
      case IntForm::Signed: put<std::int64_t>(out, n.i); return true;
      case IntForm::Unsigned: put<std::uint64_t>(out, n.u); return true;
      case IntForm::Beyond64: return fail("JSON number out of range");
      default: return fail_py();
    }
  }

  // Whether a Python int beyond 64 bits still fits 128 bits (u128 for non-negative, i128 for
  // negative). When it does not, the interpreter's OverflowError is left pending. The value
  // is probed as a plain int, so a subclass's own operators take no part.
  static bool fits_128(PyObject* obj, bool non_negative) {
    Ref value = Ref::steal(PyNumber_Index(obj));
    if (!value) return false;
    Ref shift = Ref::steal(PyLong_FromLong(64));
    if (!shift) return false;
    Ref high = Ref::steal(PyNumber_Rshift(value.get(), shift.get()));
    if (!high) return false;
    if (non_negative) {
      unsigned long long u = PyLong_AsUnsignedLongLong(high.get());
      if (!(u == static_cast<unsigned long long>(-1) && PyErr_Occurred())) return true;
      PyErr_Clear();
    }
    long h = PyLong_AsLong(high.get());
    return !(h == -1 && PyErr_Occurred());
  }

  bool read_seq(PyObject* obj, bool as_set, JsonValue& out) {
    // Read in place; on failure the partial value is dropped by the caller.
    return collect(obj, as_set, out.v.emplace<JsonArray>(), [&](PyObject* item, JsonValue& v) { return read(item, v); });
  }

  bool read(PyObject* obj, JsonObject& out) {
    if (!require_mapping(obj)) return false;
    return read_object_entries(obj, out);
  }

  bool read_map(PyObject* obj, JsonValue& out) {
    return read_object_entries(obj, out.v.emplace<JsonObject>());
  }

  bool read_object_entries(PyObject* obj, JsonObject& out) {
    std::vector<JsonObject::Entry> entries;
    // The key's text builds the entry's key directly.
    if (!collect_items(obj, entries, [&](PyObject* key, PyObject* value, std::vector<JsonObject::Entry>& out) {
          if (!is_str(key)) return fail(unexpected_type(key, "PyString"));
          std::string_view text;
          if (!utf8(key, text)) return fail_py();
          auto& e = out.emplace_back(std::piecewise_construct, std::forward_as_tuple(text), std::forward_as_tuple());
          return read(value, e.second);
        }))
      return false;
    out = JsonObject::from_unsorted(std::move(entries));
    return true;
  }

  // --- net members, through the buffered value
  bool read(PyObject* obj, NetMember& out) {
    // The member dict is one level: past the limit the buffered road reports it.
    if (depth < kMaxNesting && PyDict_CheckExact(obj) && read_usual_member(obj, out)) return true;
    Content c;
    if (!read_content(obj, c)) return false;
    auto m = member_from_content(std::move(c));
    if (!m) return fail(std::string(record::kNoMemberVariant));
    out = std::move(*m);
    return true;
  }

  // The usual member shapes, read without buffering: a dict whose keys are exactly the fields
  // of one kind, with str fields and int indices in range. Every such dict reads the same
  // through the buffered value; anything else answers false and takes that road.
  static bool read_usual_member(PyObject* d, NetMember& out) {
    static PyObject* const name = key_object("name");
    static PyObject* const instance = key_object("instance");
    static PyObject* const port = key_object("port");
    static PyObject* const ia = key_object("ia");
    static PyObject* const ib = key_object("ib");
    if (!name || !instance || !port || !ia || !ib) {
      PyErr_Clear();
      return false;
    }
    auto text = [](PyObject* v, std::string& s) {
      std::string_view t;
      if (!v || !PyUnicode_Check(v)) return false;
      if (!utf8(v, t)) {
        PyErr_Clear();
        return false;
      }
      s.assign(t);
      return true;
    };
    auto index = [](PyObject* v, std::int64_t& i) {
      if (!v || !PyLong_CheckExact(v)) return false;
      int overflow = 0;
      long long x = PyLong_AsLongLongAndOverflow(v, &overflow);
      if (overflow != 0 || (x == -1 && PyErr_Occurred())) {
        PyErr_Clear();
        return false;
      }
      i = x;
      return true;
    };
    switch (PyDict_Size(d)) {
      case 1: {
        NetlistPort p;
        if (!text(PyDict_GetItem(d, name), p.name)) return false;
        out = std::move(p);
        return true;
      }
      case 2: {
        PortRef r;
        if (!text(PyDict_GetItem(d, instance), r.instance) || !text(PyDict_GetItem(d, port), r.port)) return false;
        out = std::move(r);
        return true;
      }
      case 4: {
        PortArrayRef r;
        if (!text(PyDict_GetItem(d, instance), r.instance) || !text(PyDict_GetItem(d, port), r.port) ||
            !index(PyDict_GetItem(d, ia), r.ia) || !index(PyDict_GetItem(d, ib), r.ib))
          return false;
        out = std::move(r);
        return true;
      }
      default: return false;
    }
  }

  bool read_content(PyObject* obj, Content& out) { return read_any(obj, out); }

  bool read_bytes(PyObject* obj, Content& out) {
    char* data = nullptr;
    Py_ssize_t n = 0;
    if (PyBytes_AsStringAndSize(obj, &data, &n) < 0) return fail_py();
    out = Content(ByteString{std::string(data, static_cast<std::size_t>(n))});
    return true;
  }
  bool read_real(double d, Content& out) {
    out = Content(d);
    return true;
  }

  bool read_int(PyObject* obj, Content& out) {
    Int n = classify_int(obj);
    switch (n.form) {
      case IntForm::Signed: out = Content(n.i); return true;
      case IntForm::Unsigned: out = Content(n.u); return true;
      case IntForm::Beyond64: break;
      default: return fail_py();
    }
    // The digits of the plain int value (a subclass may render itself otherwise).
    Ref value = Ref::steal(PyNumber_Index(obj));
    Ref text = value ? Ref::steal(PyObject_Str(value.get())) : Ref{};
    std::string_view digits;
    if (!text || !utf8(text.get(), digits)) return fail_py();
    std::string unexpected = "integer `" + std::string(digits) + (n.negative ? "` as i128" : "` as u128");
    return fail(record::invalid_type(unexpected, "any value"));
  }

  bool read_seq(PyObject* obj, bool as_set, Content& out) {
    Content::Seq seq;
    if (!collect(obj, as_set, seq, [&](PyObject* item, Content& c) { return read_content(item, c); })) return false;
    out = Content(std::move(seq));
    return true;
  }

  bool read_map(PyObject* obj, Content& out) {
    Content::Map map;
    if (!collect_items(obj, map, [&](PyObject* key, PyObject* value, Content::Map& out) {
          auto& e = out.emplace_back();
          return read_content(key, e.first) && read_content(value, e.second);
        }))
      return false;
    out = Content(std::move(map));
    return true;
  }
};

// ---------------------------------------------------------------------------------------
// Writing.

class Writer {
 public:
  // Set when the value nests deeper than kMaxNesting; otherwise a failure leaves the
  // interpreter's exception pending.
  bool too_deep = false;
  // Containers open at once, the outermost counted: every dict and list written is one level.
  int depth = 0;

  [[gnu::cold, gnu::noinline]] Ref nest_too_deep() {
    too_deep = true;
    return {};
  }

  Ref write(const std::string& s) { return str(s); }
  Ref write(std::int64_t v) { return integer(v); }
  Ref write(double v) { return real(v); }
  Ref write(bool v) { return boolean(v); }

  Ref write(const std::optional<NetlistArray>& a) {
    if (!a) return none();
    return write(*a);
  }

  template <class T>
  Ref write_list(const std::vector<T>& items) {
    Level level(depth);
    if (!level.ok) return nest_too_deep();
    return list_of(items, [this](const T& item) { return write(item); });
  }

  Ref write(const std::vector<Net>& nets) { return write_list(nets); }
  Ref write(const std::vector<NetlistPort>& ports) { return write_list(ports); }
  Ref write(const Net& n) { return write_list(n.members); }

  Ref write(const NetMember& m) {
    return std::visit([this](const auto& v) { return write(v); }, m);
  }

  template <class W>
  Ref write(const OrderedMap<W>& map) {
    Level level(depth);
    if (!level.ok) return nest_too_deep();
    return dict_of(map, [this](const auto& entry) { return write(entry.second); });
  }

  Ref write(const PlacedInstancesView& map) {
    Level level(depth);
    if (!level.ok) return nest_too_deep();
    Ref dict = Ref::steal(PyDict_New());
    if (!dict) return {};
    bool ok = map.for_each([&](const std::string& name, const PlacedInstanceView& rec) {
      Ref key = str(name);
      Ref value = key ? write(rec) : Ref{};
      return value && PyDict_SetItem(dict.get(), key.get(), value.get()) == 0;
    });
    if (!ok) return {};
    return dict;
  }

  Ref write(const JsonObject& o) {
    Level level(depth);
    if (!level.ok) return nest_too_deep();
    return dict_of(o, [this](const auto& entry) { return write(entry.second); });
  }

  Ref write(const JsonValue& v) {
    switch (v.kind()) {
      case JsonValue::Null: return none();
      case JsonValue::Bool: return boolean(std::get<bool>(v.v));
      case JsonValue::UInt: return uinteger(std::get<std::uint64_t>(v.v));
      case JsonValue::Int: return integer(std::get<std::int64_t>(v.v));
      case JsonValue::Double: return real(std::get<double>(v.v));
      case JsonValue::String: return str(std::get<std::string>(v.v));
      case JsonValue::Array: return write_list(std::get<JsonArray>(v.v));
      case JsonValue::Object: return write(std::get<JsonObject>(v.v));
    }
    return none();
  }

  // The writer the record driver walks: one dict, keys inserted in written order.
  struct DictWriter {
    explicit DictWriter(Writer& writer) : w(writer) {}
    Writer& w;
    Ref dict;
    PyObject* pending = nullptr;
    bool begin_record(std::size_t) {
      dict = Ref::steal(PyDict_New());
      return static_cast<bool>(dict);
    }
    bool key(std::string_view k) {
      pending = key_object(k);
      return pending != nullptr;
    }
    template <class T>
    bool write_value(const T& value) {
      Ref v = w.write(value);
      return v && PyDict_SetItem(dict.get(), pending, v.get()) == 0;
    }
    bool end_record() { return true; }
  };

  template <class R>
    requires record::is_record_v<R>
  Ref write(const R& rec) {
    Level level(depth);
    if (!level.ok) return nest_too_deep();
    DictWriter d(*this);
    if (!record::write_record<R>(d, rec)) return {};
    return std::move(d.dict);
  }
};

}  // namespace

template <class T>
bool read_py(PyObject* obj, T& out, std::string& error) {
  Reader r;
  if (r.read(obj, out)) return true;
  error = r.py_error ? take_error_text() : std::move(r.error);
  return false;
}

template <class T>
Ref write_py(const T& value, std::string& error) {
  Writer w;
  Ref out = w.write(value);
  if (!out) error = w.too_deep ? std::string(kNestingExceeded) : take_error_text();
  return out;
}

#define VONDREL_PY_CARRIER(T)                            \
  template bool read_py<T>(PyObject*, T&, std::string&); \
  template Ref write_py<T>(const T&, std::string&);

VONDREL_PY_CARRIER(NetlistPort)
VONDREL_PY_CARRIER(PortRef)
VONDREL_PY_CARRIER(PortArrayRef)
VONDREL_PY_CARRIER(NetlistArray)
VONDREL_PY_CARRIER(NetlistInstanceWire)
VONDREL_PY_CARRIER(NetlistInstance)
VONDREL_PY_CARRIER(NetlistWire)
VONDREL_PY_CARRIER(Netlist)
VONDREL_PY_CARRIER(BBox)
VONDREL_PY_CARRIER(Placement)
VONDREL_PY_CARRIER(PlacedInstanceWire)
VONDREL_PY_CARRIER(PlacedNetlistWire)
VONDREL_PY_CARRIER(Net)
VONDREL_PY_CARRIER(NetMember)
VONDREL_PY_CARRIER(JsonValue)
VONDREL_PY_CARRIER(JsonObject)

#undef VONDREL_PY_CARRIER

// Read only: the normalisation arguments.
template bool read_py<EquivalentPorts>(PyObject*, EquivalentPorts&, std::string&);
template bool read_py<PortMapping>(PyObject*, PortMapping&, std::string&);

// Written only: the placed records straight from a netlist and its extras.
template Ref write_py<PlacedInstanceView>(const PlacedInstanceView&, std::string&);
template Ref write_py<PlacedNetlistView>(const PlacedNetlistView&, std::string&);

}  // namespace vondrel::py
