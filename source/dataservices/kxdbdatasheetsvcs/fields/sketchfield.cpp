#include "fields/sketchfield.h"

#include <string>

#include "com/wstr.h"
#include "fieldmodel/fieldutils.h"
#include "sketchdataparser.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/sketchfield";
// A field worker answers a failure it returns as it is.
constexpr FrameOptions kFrame{.file = kFile, .passReturnedFailure = true};
// What the permanent-filter alert shows in place of the sketch.
constexpr OLECHAR kPlaceholder[] =
    u"sketch field placeholder; sketch field usually is is too long to use in the message";

int32_t TextLength(const OLECHAR* text) {
  return text == nullptr ? 0 : static_cast<int32_t>(std::u16string_view(text).size());
}

// A sketch text and its parsed header.
struct Sketch {
  explicit Sketch(const OLECHAR* text) : text(text), parsed(text, TextLength(text)) {}
  std::u16string_view Block(int block) const {
    return std::u16string_view(text).substr(parsed.BlockOffset(block), parsed.BlockLength(block));
  }
  const OLECHAR* text;
  SketchDataParser parsed;
};

}  // namespace

std::u16string ComposeSketchText(const OLECHAR* incoming, const OLECHAR* stored) {
  KXComException ctx = KXComException::Silent(u"ComposeSketchText");
  if (incoming == nullptr || incoming[0] != u'!') return incoming != nullptr ? incoming : u"";
  const Sketch in(incoming);
  const Sketch old(stored != nullptr ? stored : u"");
  const SketchDataParser& head = in.parsed;
  std::u16string out;
  if (head.Code1 == u'R' && head.Code2 == u'R' && head.Length1 == 0 && head.Length2 == 0) {
    out = (head.Code3 == u'R' ? in : old).Block(3);
  } else {
    const Sketch* source[3];
    for (int block = 1; block <= 3; ++block)
      source[block - 1] = head.Code(block) == u'R' ? &in : &old;
    const SketchDataParser& one = source[0]->parsed;
    const SketchDataParser& two = source[1]->parsed;
    out = kx_format(u"!P%d:", static_cast<int>(one.Label1.size())) + one.Label1 +
          kx_format(u"%dP%d:", static_cast<int>(one.Length1), static_cast<int>(two.Label2.size())) +
          two.Label2 +
          kx_format(u"%dP%d!", static_cast<int>(two.Length2),
                    static_cast<int>(source[2]->parsed.Length3));
    // A closing mark further out would read back as no header at all, and
    // the next partial update would lose every stored block.
    if (static_cast<int32_t>(out.size()) - 1 > kSketchHeaderLimit) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_INVALIDARG,
                              u"The sketch header is longer than %d characters",
                              static_cast<int>(kSketchHeaderLimit + 1));
    }
    for (int block = 1; block <= 3; ++block) out += source[block - 1]->Block(block);
  }
  return out.empty() ? std::u16string(incoming) : out;
}

const GrammarRecord* SetSketchFieldSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Message(
      u"SetSketchField",
      {Grammar::Integer(u"PageId", PageId), Grammar::Integer(u"FieldId", FieldId),
       Grammar::Integer(u"TLX", TLX), Grammar::Integer(u"TLY", TLY), Grammar::Integer(u"BRX", BRX),
       Grammar::Integer(u"BRY", BRY), Grammar::Integer(u"Index", Index),
       Grammar::String(u"Value", Value), Grammar::String(u"ConfirmedClass", ConfirmedClass)});
  return kGrammar.data();
}

HRESULT SetSketchFieldMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case TLX: return Store(m_tlx, value);
    case TLY: return Store(m_tly, value);
    case BRX: return Store(m_brx, value);
    case BRY: return Store(m_bry, value);
    default: return StoreFieldValue<SetSketchFieldSchema>(*this, id, value);
  }
}

HRESULT SetSketchFieldMessageParser::SetSketchFieldValue() {
  return ServeRequest(u"KXDBDatasheetSvcs::SetSketchFieldValue", kFrame, [&](KXComException&) {
    const FieldRequest request = Request(m_status);
    FieldWrite write(*m_pMain, request);
    if (!write.Prepare()) return S_OK;
    _bstr_t stored;
    if (!m_value.IsEmpty() && m_value.str()[0] == u'!') {
      FieldUtils::GetAttributeValueText(write.field.holder, write.field.position, stored, nullptr);
    }
    const std::u16string text = ComposeSketchText(m_value.c_str(), stored);
    const HRESULT result = write.Store(text.c_str(), nullptr, kPlaceholder);
    if (result != S_OK) return result;
    write.Fields();
    _bstr_t entry;
    if (!text.empty()) {
      KXFieldData record;
      write.ReadRecord(write.field.fieldNumber, kFieldSketch, record);
      record.tlx = m_tlx;
      record.tly = m_tly;
      record.brx = m_brx;
      record.bry = m_bry;
      // The message sets the rectangle only: a "State" or "Value" the record
      // was stored with stays; a record without them is written plain.
      const bool keeps = record.state != 0 || !record.value.IsEmpty();
      entry = write.WriteRecord(record, keeps ? kFieldDataFull : kFieldDataDefinition);
    }
    write.PutRecord(write.field.fieldNumber, entry);
    return S_OK;
  });
}

HRESULT KXDBDatasheetSvcs::SetSketchField(MainContext& main, const OLECHAR* request) {
  return ServeMessage<SetSketchFieldMessageParser>(main, u"KXDBDatasheetSvcs::SetSketchField",
                                                   request);
}
