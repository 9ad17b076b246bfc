#include "model/beddpaths.h"

#include <string>
#include <string_view>

#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "model/kxdbdatasheetutils.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/kxdbdatasheetutils";
constexpr size_t kMaxPathDepth = 32;

std::u16string_view View(const OLECHAR* text) {
  return text == nullptr ? std::u16string_view() : std::u16string_view(text);
}

_bstr_t Text(std::u16string_view text) { return _bstr_t(std::u16string(text).c_str()); }

std::u16string Lower(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return out;
}

void AddUnique(KXDBDatasheetSvcs::NameList& list, const std::u16string& text) {
  for (const _bstr_t& held : list) {
    if (held.view() == text) return;
  }
  list.push_back(Text(text));
}

IKXQObjectPtr QueryObject(IUnknown* object) {
  KXComException ctx = KXComException::Silent();
  IKXQObjectPtr out;
  if (object == nullptr ||
      FAILED(object->QueryInterface(kx_uuidof<IKXQObject>(), reinterpret_cast<void**>(&out)))) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  }
  return out;
}

// The attribute `name` of `object` (selector VT_INT 0); null when the class
// has none. A null object raises E_POINTER.
IKXQAttributePtr AttributeOf(IKXQObject* object, const OLECHAR* name) {
  KXComException ctx = KXComException::Silent();
  if (object == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  VARIANT selector;
  selector.vt = VT_INT;
  selector.intVal = 0;
  IKXQAttributePtr attribute;
  KXDBDatasheetSvcs::GetAttribute(object, attribute, name != nullptr ? name : u"", selector);
  return attribute;
}

// Copies the single value by its data type: reals in the unit they were
// read in, integers, Booleans and texts; other types not at all.
void CopyTypedValue(IKXQAttribute* source, IKXQAttribute* target) {
  using namespace KXDBDatasheetSvcs;
  KXComException ctx = KXComException::Silent();
  if (!AttributeHasValue(source)) return;
  LONG type = 0;
  KX_CHECK(ctx, source->get_DataType(&type));
  switch (type) {
    case 2: {
      _bstr_t unit;
      GetAttributeUnit(source, unit);
      const double value = GetAttributeReal(source, unit);
      SetAttributeReal(target, unit, value);
      break;
    }
    case 5: SetAttributeInteger(target, GetAttributeAsInteger(source)); break;
    case 7: SetAttributeBoolean(target, GetAttributeBoolean(source)); break;
    case 1:
    case 4: {
      _bstr_t text;
      GetAttributeValueString(source, text);
      SetAttributeString(target, text);
      break;
    }
    default: break;
  }
}

}  // namespace

namespace KXDBDatasheetSvcs {

bool NeedsBEDDInitialization(IUnknown* object) {
  if (object == nullptr) return false;
  const IKXQObjectPtr target = QueryObject(object);
  if (!IsObjectOfClass(target, u"ProcessPlantEquipment")) return false;
  const IKXQAttributePtr flag = AttributeOf(target, u"BEDDInitialized");
  if (!flag || !AttributeHasValue(flag)) return true;
  return !GetAttributeBoolean(flag);
}

void MarkBEDDInitialized(IUnknown* object) {
  const IKXQObjectPtr target = QueryObject(object);
  const IKXQAttributePtr flag = AttributeOf(target, u"BEDDInitialized");
  if (flag) SetAttributeBoolean(flag, true);
}

_bstr_t GetPathFirstName(const OLECHAR* path) {
  const std::u16string_view text = View(path);
  const size_t dot = text.find(u'.');
  if (dot == 0) return _bstr_t();
  return Text(text.substr(0, dot));
}

void ParseQualifiedName(const OLECHAR* name, _bstr_t& base, _bstr_t& key) {
  const std::u16string_view text = View(name);
  base = Text(text);
  key = _bstr_t();
  for (size_t at = text.find(u'['); at != std::u16string_view::npos; at = text.find(u'[', at + 1)) {
    base = Text(text.substr(0, at));
    const size_t equals = text.find(u'=', at + 1);
    if (equals != std::u16string_view::npos) key = Text(text.substr(at + 1, equals - at - 1));
  }
}

void SplitAttributePath(const OLECHAR* path, NameList& parts) {
  const std::u16string_view text = View(path);
  size_t start = 0;
  for (;;) {
    const size_t dot = text.find(u'.', start);
    const std::u16string_view part = text.substr(
        start, dot == std::u16string_view::npos ? std::u16string_view::npos : dot - start);
    parts.push_back(part.empty() ? _bstr_t() : Text(part));
    if (dot == std::u16string_view::npos) return;
    start = dot + 1;
  }
}

void ParseIndexedName(const OLECHAR* name, int32_t& code, _bstr_t& base) {
  const std::u16string_view text = View(name);
  code = 1;
  base = Text(text);
  size_t lastOpen = std::u16string_view::npos;
  for (size_t at = 0; at < text.size(); ++at) {
    if (text[at] != u'(') continue;
    lastOpen = at;
    const size_t close = text.find(u')', at + 1);
    if (close == std::u16string_view::npos) {
      code = kPathInvalid;  // an unclosed position names nothing
      break;
    }
    if (close - at - 1 != 1) {
      code = kPathInvalid;
    } else if (text[at + 1] == u'*') {
      code = kPathAllValues;
    } else if (text[at + 1] >= u'0' && text[at + 1] <= u'9') {
      code = text[at + 1] - u'0';
    } else {
      code = kPathInvalid;
    }
    at = close;
  }
  if (lastOpen != std::u16string_view::npos && lastOpen > 0) base = Text(text.substr(0, lastOpen));
}

void CollectAttributePaths(IKXQClass* cls, NameList& paths, NameList& stack,
                           const NameList& filter) {
  KXComException ctx = KXComException::Silent();
  CheckPointerArgument(ctx, cls);
  LONG count = 0;
  KX_CHECK(ctx, cls->get_AttributeCount(&count));
  for (LONG i = 1; i <= count; ++i) {
    _com_ptr_t<IKXQAttributeDef> definition;
    KX_CHECK(ctx, cls->get_AttributeDef(i, &definition));
    CheckPointerArgument(ctx, definition.GetInterfacePtr());
    BSTR rawName = nullptr;
    KX_CHECK(ctx, definition->get_Name(&rawName));
    const _bstr_t name(rawName, false);
    if (name.view() == u"DatasheetObjectHeader") continue;
    BSTR rawPathText = nullptr;
    KX_CHECK(ctx, definition->get_PathText(1, &rawPathText));
    stack.push_back(_bstr_t(rawPathText, false));
    // A first name outside the filter yields no path: its subtree is not
    // walked (classes that refer to each other make it grow exponentially).
    if (stack.size() == 1 && !filter.empty()) {
      const std::u16string first = Lower(stack.front().view());
      bool wanted = false;
      for (const _bstr_t& name : filter) wanted = wanted || name.view() == first;
      if (!wanted) {
        stack.pop_back();
        continue;
      }
    }
    LONG type = 0;
    KX_CHECK(ctx, definition->get_DataType(&type));
    if (type == 3) {
      _com_ptr_t<IKXQClass> referenced;
      KX_CHECK(ctx, definition->get_ReferencedClass(&referenced));
      // Classes that refer to each other would never end: a path is cut
      // at a depth no real data definition reaches.
      if (referenced && stack.size() < kMaxPathDepth) {
        CollectAttributePaths(referenced, paths, stack, filter);
      }
      stack.pop_back();
      continue;
    }
    std::u16string joined;
    for (const _bstr_t& part : stack) {
      if (!joined.empty()) joined += u'.';
      joined += part.view();
    }
    joined = Lower(joined);
    bool keep = !joined.empty();
    if (keep && !filter.empty()) {
      const _bstr_t first = GetPathFirstName(joined.c_str());
      keep = false;
      for (const _bstr_t& wanted : filter) keep = keep || wanted.view() == first.view();
    }
    if (keep) {
      NameList parts;
      SplitAttributePath(joined.c_str(), parts);
      std::u16string prefix;
      for (size_t j = 0; j < parts.size(); ++j) {
        _bstr_t base;
        _bstr_t key;
        ParseQualifiedName(Lower(parts[j].view()).c_str(), base, key);
        if (!prefix.empty()) prefix += u'.';
        prefix += base.view();
        if (j + 2 == parts.size() && key.length() > 0) {
          AddUnique(paths, prefix + u'.' + std::u16string(key.view()));
        }
      }
      AddUnique(paths, prefix);
    }
    stack.pop_back();
  }
}

void CopyListValues(IKXQAttribute* source, IKXQAttribute* target, const OLECHAR* lastName) {
  const int32_t count = GetAttributeCount(source);
  for (int32_t i = 1; i <= count; ++i) {
    IKXQObjectPtr from;
    GetAttributeObjectAt(source, from, i);
    if (!from) continue;
    IKXQObjectPtr alternate;
    GetAttributeObjectValue(target, alternate, i);
    IKXQObjectPtr to;
    GetAttributeObjectAt(target, to, i);
    if (!to) continue;
    const IKXQAttributePtr fromAttribute = AttributeOf(from, lastName);
    const IKXQAttributePtr toAttribute = AttributeOf(to, lastName);
    if (!fromAttribute || !toAttribute) continue;
    CopyTypedValue(fromAttribute, toAttribute);
  }
}

void CopyAttributeValueByPath(IKXQObject* source, const NameList& parts, IUnknown* target) {
  const IKXQObjectPtr targetObject = QueryObject(target);
  if (parts.empty()) return;
  const size_t last = parts.size() - 1;
  IKXQObjectPtr from = source;
  IKXQObjectPtr to = targetObject;
  IKXQAttributePtr fromAttribute;
  IKXQAttributePtr toAttribute;
  for (size_t j = 0; j <= last; ++j) {
    int32_t code = 1;
    _bstr_t base;
    ParseIndexedName(parts[j], code, base);
    if (code == kPathInvalid) return;
    fromAttribute = AttributeOf(from, base);
    if (!fromAttribute) return;
    toAttribute = AttributeOf(to, base);
    if (!toAttribute) return;
    const int32_t count = GetAttributeCount(fromAttribute);
    if (code == kPathAllValues) {
      if (count > 0 && j + 1 == last) CopyListValues(fromAttribute, toAttribute, parts[last]);
      return;
    }
    if (count < code) return;
    if (j < last) {
      IKXQObjectPtr next;
      GetAttributeObjectAt(fromAttribute, next, code);
      if (!next) return;
      from = next;
      IKXQObjectPtr alternate;
      GetAttributeObjectValue(toAttribute, alternate, code);
      GetAttributeAsObject(toAttribute, code, to);
    }
  }
  CopyTypedValue(fromAttribute, toAttribute);
}

}  // namespace KXDBDatasheetSvcs
