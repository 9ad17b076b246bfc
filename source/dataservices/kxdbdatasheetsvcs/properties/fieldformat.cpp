#include "properties/fieldformat.h"

#include "com/wstr.h"
#include "fieldmodel/fieldutils.h"
#include "kxattributeutils.h"
#include "kxstoreutils.h"
#include "model/continuouspageadvisor.h"
#include "model/kxfielddata.h"
#include "properties/fieldpage.h"
#include "xmlreply.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/fieldformat";
constexpr FrameOptions kFrame{.file = kFile};

// The format text common to the fields of one kind met so far.
struct KindFormat {
  bool met = false;
  bool differ = false;
  _bstr_t text;
  void Add(const _bstr_t& format) {
    if (!met) {
      met = true;
      text = format;
      differ = !format;
    } else if (!differ && (!format || !text ||
                           kx_wcsicmp(static_cast<const OLECHAR*>(format),
                                      static_cast<const OLECHAR*>(text)) != 0)) {
      differ = true;
    }
  }
};

}  // namespace

const OLECHAR* FormatOfKind(int32_t kind, const SAXText& boolFormat, const SAXText& dateFormat,
                            const SAXText& integerFormat, const SAXText& realFormat) {
  switch (kind) {
    case kFieldBool: return boolFormat.c_str();
    case kFieldDate: return dateFormat.c_str();
    case kFieldInteger: return integerFormat.c_str();
    case kFieldReal: return realFormat.c_str();
    default: return nullptr;
  }
}

// ---------------------------------------------------------------------------
// "GetFieldFormat"

const GrammarRecord* GetFieldFormatSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Table(
      Grammar::Envelope(TargetId, Status),
      Grammar::Element(u"GetFieldFormat", 1,
                       {Grammar::Integer(u"PageId", PageId), Grammar::Child(FieldId)}),
      Grammar::Element(u"FieldId", FieldId,
                       {Grammar::Integer(u"ID", ID), Grammar::Integer(u"Index", Index)}));
  return kGrammar.data();
}

HRESULT GetFieldFormatMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case PageId: return Store(m_pageId, value);
    case ID: return Store(m_id, value);
    case Index: return Store(m_index, value);
    default: return E_INVALIDARG;
  }
}

HRESULT GetFieldFormatMessageParser::WorkChild(uint32_t element) {
  if (element != FieldId || m_id == -1) return E_INVALIDARG;
  m_fieldIds.push_back(m_id);
  m_rows.push_back(m_index);
  m_id = -1;
  m_index = -1;
  return S_OK;
}

HRESULT GetFieldFormatMessageParser::WritePopFormat() {
  return ServeRequest(u"KXDBDatasheetSvcs::WritePopFormat", kFrame, [&](KXComException&) {
    FieldPage work(*m_pMain, m_pageId);
    const IKXQAttributePtr fields = work.Fields();
    int32_t alignment = -1;
    int32_t verticalAlignment = -1;
    KindFormat formats[4];  // Boolean, Date, Real, Integer: the reply's order
    for (size_t i = 0; i < m_fieldIds.size(); ++i) {
      IKXQTemplateFieldPtr field;
      const int32_t number = work.FieldNumber(m_fieldIds[i], m_rows[i], field);
      _bstr_t typeName, format;
      int32_t a = -1, v = -1;
      FieldUtils::GetFieldDisplayFormat(field, fields, number, typeName, &a, &v, format);
      if (alignment == -1)
        alignment = a;
      else if (alignment != a)
        alignment = 4;
      if (verticalAlignment == -1)
        verticalAlignment = v;
      else if (verticalAlignment != v)
        verticalAlignment = 3;
      switch (FieldPresentation::KindOfType(typeName)) {
        case kFieldBool: formats[0].Add(format); break;
        case kFieldDate: formats[1].Add(format); break;
        case kFieldReal: formats[2].Add(format); break;
        case kFieldInteger: formats[3].Add(format); break;
        default: break;
      }
    }
    XMLReply::BeginMessage(Reply(), m_targetId.IsNull() ? u"" : m_targetId.c_str(), m_status);
    XMLReply::EnsureAttributes(Reply());
    XMLReply::AddLongAttribute(Reply(), u"PageId", m_pageId);
    if (alignment >= 0) XMLReply::AddLongAttribute(Reply(), u"Alignment", alignment);
    if (verticalAlignment >= 0)
      XMLReply::AddLongAttribute(Reply(), u"VerticalAlignment", verticalAlignment);
    static constexpr const OLECHAR* kNames[] = {u"BoolFormat", u"DateFormat", u"RealFormat",
                                                u"IntegerFormat"};
    for (int k = 0; k < 4; ++k) {
      if (!formats[k].met) continue;
      XMLReply::AddStringAttribute(Reply(), kNames[k],
                                   formats[k].differ ? _bstr_t(u"") : formats[k].text);
    }
    XMLReply::StartElement(Reply(), u"PopFormat");
    for (size_t i = 0; i < m_fieldIds.size(); ++i) {
      XMLReply::AddLongAttribute(Reply(), u"ID", m_fieldIds[i]);
      if (m_rows[i] >= 0) XMLReply::AddLongAttribute(Reply(), u"Index", m_rows[i]);
      XMLReply::WriteElement(Reply(), u"FieldId", nullptr);
    }
    XMLReply::EndElement(Reply(), u"PopFormat");
    XMLReply::EndMessage(Reply());
    return S_OK;
  });
}

HRESULT KXDBDatasheetSvcs::GetFieldFormat(MainContext& main, const OLECHAR* request) {
  return ServeMessage<GetFieldFormatMessageParser>(main, u"KXDBDatasheetSvcs::GetFieldFormat",
                                                   request);
}

// ---------------------------------------------------------------------------
// "SetFieldFormat"

const GrammarRecord* SetFieldFormatSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Table(
      Grammar::Envelope(TargetId, Status),
      Grammar::Element(
          u"SetFieldFormat", 1,
          {Grammar::Integer(u"PageId", PageId), Grammar::Integer(u"Alignment", Alignment),
           Grammar::Integer(u"VerticalAlignment", VerticalAlignment),
           Grammar::String(u"BoolFormat", BoolFormat), Grammar::String(u"DateFormat", DateFormat),
           Grammar::String(u"IntegerFormat", IntegerFormat),
           Grammar::String(u"RealFormat", RealFormat), Grammar::Child(FieldId)}),
      Grammar::Element(u"FieldId", FieldId,
                       {Grammar::Integer(u"ID", ID), Grammar::Integer(u"Index", Index)}));
  return kGrammar.data();
}

HRESULT SetFieldFormatMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case PageId: return Store(m_pageId, value);
    case Alignment: return Store(m_alignment, value);
    case VerticalAlignment: return Store(m_verticalAlignment, value);
    case BoolFormat: return Store(m_boolFormat, value);
    case DateFormat: return Store(m_dateFormat, value);
    case IntegerFormat: return Store(m_integerFormat, value);
    case RealFormat: return Store(m_realFormat, value);
    case ID: return Store(m_id, value);
    case Index: return Store(m_index, value);
    default: return E_INVALIDARG;
  }
}

HRESULT SetFieldFormatMessageParser::WorkChild(uint32_t element) {
  if (element != FieldId || m_id == -1) return E_INVALIDARG;
  const HRESULT hr = SetFieldFormatValue(m_id, m_index);
  m_id = -1;
  m_index = -1;
  return hr;
}

HRESULT SetFieldFormatMessageParser::SetFieldFormatValue(int32_t fieldId, int32_t row) {
  return ServeRequest(u"KXDBDatasheetSvcs::SetFieldFormatValue", kFrame, [&](KXComException& ctx) {
    MainContext& main = *m_pMain;
    FieldPage work(main, m_pageId);
    // A copy keeps the presentation it recorded.
    KXDBDatasheetSvcs::RefuseStatusCopy(work.page);
    const IKXQAttributePtr fields = work.Fields();
    // A row on a page that is no list names the one field.
    const bool continuous = row >= 0 && work.IsContinuous();
    IKXQTemplateFieldPtr field;
    const int32_t number = work.FieldNumber(fieldId, row, field);
    _bstr_t typeName;
    KX_CHECK(ctx, field->get_TypeName(typeName.GetAddress()));
    const OLECHAR* format = FormatOfKind(FieldPresentation::KindOfType(typeName), m_boolFormat,
                                         m_dateFormat, m_integerFormat, m_realFormat);
    const int32_t kind = FieldPresentation::KindOfType(typeName);
    const int32_t rows = continuous ? main.GetContinuousPageHelper().RowCount() : 1;
    // The field itself; on a list the row the request names, which is
    // stored only when it lies on the page.
    const _bstr_t text = FieldPresentation::StoreFieldFormat(
        work, fields, number, typeName, fieldId, row, m_alignment, m_verticalAlignment, format,
        !continuous || row < rows);
    if (!continuous || rows <= 1 || !FieldPresentation::HasAlignment(kind)) return S_OK;
    // Every other row of the column takes that row's presentation as it
    // now stands: its alignments and format, not only the request's.
    KXFieldData record;
    KX_CHECK(ctx, record.ParseFieldData(kind, text, -1), KX_HERE(kFile));
    for (int32_t w = 0; w < rows; ++w) {
      if (w == row) continue;
      const int32_t n = FieldUtils::GetRowFieldNumber(main.GetContinuousPageHelper(), field, w);
      FieldPresentation::StoreRowFieldFormat(work, fields, n, typeName, fieldId, w,
                                             record.alignment, record.verticalAlignment,
                                             record.format.c_str());
    }
    return S_OK;
  });
}

HRESULT KXDBDatasheetSvcs::SetFieldFormat(MainContext& main, const OLECHAR* request) {
  return ServeMessage<SetFieldFormatMessageParser>(main, u"KXDBDatasheetSvcs::SetFieldFormat",
                                                   request);
}
