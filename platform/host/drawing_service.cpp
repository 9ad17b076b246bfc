#include "host/drawing_service.h"

#include "com/comutil.h"
#include "com/wstr.h"
#include "host/errors.h"
#include "host/host_application.h"
#include "host/internal/xml_text.h"
#include "store/database.h"
#include "store/object.h"

namespace kx::host {

using internal::BstrView;
using internal::Fail;

namespace {

constexpr char16_t kDiagramClass[] = u"Diagram";
constexpr char16_t kSchematicClass[] = u"Schematic";
constexpr char16_t kTemplateClass[] = u"DrawingTemplate";

// A text as it appears in a call line: quoted, line feeds shown as "\n".
std::u16string Quoted(std::u16string_view text) {
  std::u16string out = u"\"";
  for (char16_t c : text) {
    if (c == u'\n') {
      out += u"\\n";
    } else if (c == u'"' || c == u'\\') {
      out += u'\\';
      out += c;
    } else {
      out += c;
    }
  }
  return out + u"\"";
}

std::u16string IdText(IKXQObject* object) {
  if (!object) return u"none";
  LONG id = 0;
  object->get_Id(&id);
  return u"#" + kx_ltow(id);
}

// A VARIANT argument in a call line.
std::u16string ArgumentText(const VARIANT& value) {
  const VARIANT* v = &value;
  if (v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal) v = v->pvarVal;
  switch (v->vt) {
    case VT_EMPTY: return u"empty";
    case VT_I4: return kx_ltow(v->lVal);
    case VT_BSTR: return Quoted(BstrView(v->bstrVal));
    case VT_DISPATCH:
    case VT_UNKNOWN: {
      if (!v->punkVal) return u"none";
      _com_ptr_t<IKXQObject> object;
      if (FAILED(v->punkVal->QueryInterface(IID_IKXQObject, reinterpret_cast<void**>(&object)))) {
        return u"(object)";
      }
      return IdText(object);
    }
    default: return u"(type " + kx_ltow(v->vt) + u")";
  }
}

// The class named `name` when the schema knows it; null otherwise.
_com_ptr_t<IKXQClass> FindClass(IKXQSchema* schema, std::u16string_view name) {
  _com_ptr_t<IKXQClass> cls;
  const _bstr_t text(name);
  if (FAILED(schema->get_Class(text, &cls))) SetErrorInfo(0, nullptr);
  return cls;
}

bool IsKindOf(IKXQClass* cls, std::u16string_view base) {
  VARIANT_BOOL is = VARIANT_FALSE;
  const _variant_t name{_bstr_t(base)};
  return SUCCEEDED(cls->IsKindOf(name, &is)) && is != VARIANT_FALSE;
}

// Writes `value` as the single value of `name` when the object's class has
// that attribute; others are left alone.
HRESULT PutIfDefined(IKXQObject* object, const OLECHAR* name, const _variant_t& value) {
  _com_ptr_t<IKXQAttribute> attribute;
  const _variant_t single(-1);
  if (HRESULT hr = object->get_Attribute(_bstr_t(name), single, &attribute); FAILED(hr)) return hr;
  if (!attribute) return S_OK;
  return attribute->PutValue(_variant_t(), _variant_t(), value);
}

std::u16string TextValue(IKXQObject* object, const OLECHAR* name) {
  _com_ptr_t<IKXQAttribute> attribute;
  if (FAILED(object->get_Attribute(_bstr_t(name), _variant_t(-1), &attribute)) || !attribute) {
    return {};
  }
  _variant_t value;
  if (FAILED(attribute->GetValue(_variant_t(), _variant_t(), value.GetAddress())) ||
      value.vt != VT_BSTR) {
    return {};
  }
  return std::u16string(BstrView(value.bstrVal));
}

// Every instance of `cls`, in the store's order.
std::vector<_com_ptr_t<IKXQObject>> Instances(IKXQClass* cls) {
  std::vector<_com_ptr_t<IKXQObject>> out;
  _com_ptr_t<IKXQObjectCollection> instances;
  LONG count = 0;
  if (FAILED(cls->get_Instances(&instances)) || !instances ||
      FAILED(instances->get_Count(&count))) {
    return out;
  }
  for (LONG i = 1; i <= count; ++i) {
    _com_ptr_t<IKXQObject> item;
    if (SUCCEEDED(instances->get_Item(i, &item)) && item) out.push_back(item);
  }
  return out;
}

// The workflow face of one diagram: each call goes into the service's
// record.
class DrawingDiagram final : public internal::DispatchObject<IKXDrawingDiagram> {
 public:
  DrawingDiagram(DrawingService* service, LONG id) : service_(service), id_(id) {}

  HRESULT Submit() override { return Call(u"Submit", "Submit"); }
  HRESULT Check() override { return Call(u"Check", "Check"); }
  HRESULT Issue(BSTR revision, BSTR issueReason) override {
    return Call(u"Issue " + Quoted(BstrView(revision)) + u" " + Quoted(BstrView(issueReason)),
                "Issue");
  }
  HRESULT Withdraw(VARIANT status) override {
    return Call(u"Withdraw " + ArgumentText(status), "Withdraw");
  }

 private:
  HRESULT Call(const std::u16string& what, std::string_view operation) {
    return service_->RecordDiagramCall(u"Diagram #" + kx_ltow(id_) + u" " + what, operation);
  }

  Ref<DrawingService> service_;
  LONG id_;
};

}  // namespace

std::vector<DrawingCall> DrawingService::TakeCalls() {
  std::vector<DrawingCall> taken = std::move(calls_);
  calls_.clear();
  return taken;
}

HRESULT DrawingService::Record(std::u16string text, HRESULT hr) {
  calls_.push_back({std::move(text), hr});
  return hr;
}

HRESULT DrawingService::RecordDiagramCall(std::u16string text, std::string_view operation) {
  return Record(std::move(text), failures_.Check(operation));
}

HRESULT DrawingService::Database(IKXQDatabase** database) {
  *database = nullptr;
  if (!application_) return Fail(E_UNEXPECTED, u"The drawing service's host is gone");
  if (HRESULT hr = application_->get_Database(database); FAILED(hr)) return hr;
  if (!*database) return Fail(E_FAIL, u"The drawing service has no object store");
  return S_OK;
}

HRESULT DrawingService::DiagramOf(IKXQObject* diagram, IKXDrawingDiagram** face) {
  if (!face) return E_POINTER;
  *face = nullptr;
  if (!diagram) return E_POINTER;
  VARIANT_BOOL is = VARIANT_FALSE;
  if (HRESULT hr = diagram->IsOfClass(_variant_t(kDiagramClass), &is); FAILED(hr)) return hr;
  if (is == VARIANT_FALSE) return S_OK;
  LONG id = 0;
  diagram->get_Id(&id);
  *face = MakeRef<DrawingDiagram>(this, id).Detach();
  return S_OK;
}

HRESULT DrawingService::Representation(IKXQObject* object, const std::u16string& kind,
                                       IUnknown** rep) {
  if (!rep) return E_POINTER;
  *rep = nullptr;
  if (kind != kDiagramClass) return S_OK;
  IKXDrawingDiagram* face = nullptr;
  const HRESULT hr = DiagramOf(object, &face);
  *rep = face;
  return hr;
}

HRESULT DrawingService::ChangeDimensionSet(BSTR setName) {
  const std::u16string line = u"ChangeDimensionSet " + Quoted(BstrView(setName));
  const HRESULT hr = failures_.Check("ChangeDimensionSet");
  if (SUCCEEDED(hr)) dimension_set_ = BstrView(setName);
  return Record(line, hr);
}

HRESULT DrawingService::get_DrawingTemplates(BSTR* names) {
  if (!names) return E_POINTER;
  *names = nullptr;
  if (HRESULT hr = failures_.Check("get_DrawingTemplates"); FAILED(hr)) {
    return Record(u"DrawingTemplates", hr);
  }
  std::u16string text;
  if (templates_) {
    text = *templates_;
  } else {
    _com_ptr_t<IKXQDatabase> database;
    _com_ptr_t<IKXQSchema> schema;
    HRESULT hr = Database(&database);
    if (SUCCEEDED(hr)) hr = database->get_Schema(&schema);
    if (FAILED(hr)) return Record(u"DrawingTemplates", hr);
    // A store without drawing templates has none: the text is empty.
    if (_com_ptr_t<IKXQClass> cls = FindClass(schema, kTemplateClass)) {
      for (const auto& item : Instances(cls)) {
        if (!text.empty()) text += u';';
        text += TextValue(item, u"Name");
      }
    }
  }
  *names = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (!*names && !text.empty()) return Record(u"DrawingTemplates", E_OUTOFMEMORY);
  return Record(u"DrawingTemplates -> " + Quoted(text), S_OK);
}

HRESULT DrawingService::FindSharedDocument(BSTR name, VARIANT id, IDispatch** document) {
  if (!document) return E_POINTER;
  *document = nullptr;
  std::u16string line = u"FindSharedDocument " + Quoted(BstrView(name)) + u" " + ArgumentText(id);
  if (HRESULT hr = failures_.Check("FindSharedDocument"); FAILED(hr)) return Record(line, hr);
  _com_ptr_t<IKXQDatabase> database;
  _com_ptr_t<IKXQSchema> schema;
  HRESULT hr = Database(&database);
  if (SUCCEEDED(hr)) hr = database->get_Schema(&schema);
  if (FAILED(hr)) return Record(line, hr);
  _com_ptr_t<IKXQObject> found;
  _com_ptr_t<IKXQClass> diagrams = FindClass(schema, kDiagramClass);
  // By id when the id names a live diagram, else by document name.
  if (diagrams && id.vt == VT_I4 && id.lVal > 0) {
    _com_ptr_t<IKXQObject> object;
    VARIANT_BOOL is = VARIANT_FALSE;
    if (SUCCEEDED(database->get_Object(id.lVal, &object)) &&
        SUCCEEDED(object->IsOfClass(_variant_t(kDiagramClass), &is)) && is != VARIANT_FALSE) {
      found = object;
    }
    SetErrorInfo(0, nullptr);
  }
  if (!found && diagrams) {
    for (const auto& item : Instances(diagrams)) {
      if (kx_wcsicmp(TextValue(item, u"DocumentName"), BstrView(name)) == 0) {
        found = item;
        break;
      }
    }
  }
  line += u" -> " + IdText(found);
  if (found) found->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(document));
  return Record(line, S_OK);
}

HRESULT DrawingService::CreateDiagram(BSTR nameAndClass, VARIANT caseId, VARIANT, VARIANT, VARIANT,
                                      VARIANT sharedDocument, VARIANT* result) {
  std::u16string line = u"CreateDiagram " + Quoted(BstrView(nameAndClass)) + u" case " +
                        ArgumentText(caseId) + u" shared " + ArgumentText(sharedDocument);
  if (!result) return Record(line, E_POINTER);
  VariantClear(result);
  if (HRESULT hr = failures_.Check("CreateDiagram"); FAILED(hr)) return Record(line, hr);
  const std::u16string text(BstrView(nameAndClass));
  const size_t feed = text.find(u'\n');
  const std::u16string name = text.substr(0, feed);
  const std::u16string kind = feed == std::u16string::npos ? u"" : text.substr(feed + 1);
  if (name.empty()) return Record(line, Fail(E_INVALIDARG, u"A diagram needs a name"));

  _com_ptr_t<IKXQDatabase> database;
  _com_ptr_t<IKXQSchema> schema;
  HRESULT hr = Database(&database);
  if (SUCCEEDED(hr)) hr = database->get_Schema(&schema);
  if (FAILED(hr)) return Record(line, hr);
  _com_ptr_t<IKXQClass> cls = FindClass(schema, kDiagramClass);
  if (!cls) return Record(line, Fail(E_FAIL, u"The object store has no class \"Diagram\""));
  // A class derived from "Diagram" makes the diagram of that class; any
  // other text is the drawing template it is drawn on.
  bool ownClass = false;
  if (!kind.empty()) {
    if (_com_ptr_t<IKXQClass> named = FindClass(schema, kind);
        named && IsKindOf(named, kDiagramClass)) {
      cls = named;
      ownClass = true;
    }
  }
  _com_ptr_t<IKXQObject> diagram;
  hr = cls->CreateInstance(&diagram);
  if (SUCCEEDED(hr)) hr = PutIfDefined(diagram, u"DocumentName", _variant_t(_bstr_t(name)));
  if (SUCCEEDED(hr)) hr = PutIfDefined(diagram, u"Name", _variant_t(_bstr_t(name)));
  if (SUCCEEDED(hr) && !ownClass && !kind.empty()) {
    hr = PutIfDefined(diagram, u"DrawingTemplate", _variant_t(_bstr_t(kind)));
  }
  if (SUCCEEDED(hr) && caseId.vt == VT_I4) {
    hr = PutIfDefined(diagram, u"DefaultCase", _variant_t(static_cast<int>(caseId.lVal)));
  }
  // Its current drawing: an empty schematic owned by the diagram.
  if (SUCCEEDED(hr)) {
    if (_com_ptr_t<IKXQClass> schematics = FindClass(schema, kSchematicClass)) {
      _com_ptr_t<IKXQObject> schematic;
      hr = schematics->CreateInstance(&schematic);
      if (SUCCEEDED(hr)) hr = schematic->put_Owner(diagram);
      if (SUCCEEDED(hr)) {
        hr = PutIfDefined(diagram, u"CurrentSchematic",
                          _variant_t(static_cast<IDispatch*>(schematic.GetInterfacePtr())));
      }
    }
  }
  if (FAILED(hr)) {
    // What was made stays for the host's transaction to roll back.
    return Record(line, hr);
  }
  line += u" -> " + IdText(diagram);
  result->vt = VT_DISPATCH;
  result->pdispVal = diagram.Detach();
  return Record(line, S_OK);
}

}  // namespace kx::host
