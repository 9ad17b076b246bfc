#include "main/getrealfieldswithuom.h"

#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "kxxmlutils.h"
#include "loader/loaddatasheet.h"
#include "model/kxdbdatasheetutils.h"
#include "model/scopedcurrent.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/getrealfieldswithuom";
constexpr FrameOptions kSilentFrame{.file = kFile, .silent = true};

using Writer = _com_ptr_t<ikxXMLStringWriter>;

void WriteFieldElement(KXComException& ctx, ikxXMLStringWriter* writer, int32_t oid,
                       const _bstr_t& name, const _bstr_t& value) {
  KX_CHECK(ctx, writer->StartElement(u"Field"));
  KX_CHECK(ctx, writer->WriteAttribute(u"OID", LONG{oid}));
  KX_CHECK(ctx, writer->WriteAttribute(u"Name", static_cast<const OLECHAR*>(name)));
  KX_CHECK(ctx, writer->WriteAttribute(u"Value", static_cast<const OLECHAR*>(value)));
  KX_CHECK(ctx, writer->EndElement(u"Field"));
}

// One "Field" per owner of the value behind `live`, nearest first.
void WriteOwnerChain(KXComException& ctx, ikxXMLStringWriter* writer, const LiveRealField& live) {
  IKXQValueItemPtr item;
  KX_CHECK(ctx, live.holder->GetItem(live.position, &item));
  if (!item) return;
  const _bstr_t value = live.value + _bstr_t(u" ") + live.unit;
  _bstr_t name;
  KX_CHECK(ctx, item->get_Name(name.GetAddress()));
  IKXQObjectPtr owner;
  KX_CHECK(ctx, item->get_Object(&owner));
  int32_t oid = ObjectIdOf(owner);
  while (owner) {
    IKXQObjectPtr next;
    GetOwnerObject(owner, next);
    if (!next) break;
    WriteFieldElement(ctx, writer, oid, name, value);
    oid = ObjectIdOf(next);
    name = KXDBDatasheetSvcs::GetHoldingAttributeName(owner) + _bstr_t(u".") + name;
    owner = next;
  }
  WriteFieldElement(ctx, writer, oid, name, value);
}

// The real fields of one current page.
void WritePageRealFields(KXComException& ctx, PageLoadContext& context, IKXQObject* page,
                         ikxXMLStringWriter* writer) {
  MainContext& main = *context.m_pMain;
  IKXQTemplatePagePtr templatePage;
  KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplatePage(main.m_pApplication, page, &templatePage, 1));
  CheckPointerArgument(ctx, templatePage.GetInterfacePtr());
  KX_CHECK(ctx, InitializeContinuousPage(context, templatePage, page));
  GetPageOverspillChain(context, page);
  IKXQAttributePtr fields;
  GetAttributeInterface(page, u"Fields", fields);
  if (fields) {
    // The value alone is wanted: no comparison with another version.
    const int32_t count = GetAttributeCount(fields);
    for (int32_t position = 1; position <= count; ++position) {
      LiveRealField live;
      KX_CHECK(ctx, ReadRealFieldValue(context, page, templatePage, position, fields, live));
      if (live.value.length() == 0 || live.unit.length() == 0 || !live.holder) continue;
      WriteOwnerChain(ctx, writer, live);
    }
  }
  context.m_continuousPage = false;
}

}  // namespace

namespace KXDBDatasheetSvcs {

HRESULT WriteRealFieldsWithUOM(Main& main, IKXQObject* datasheet, BSTR* xml) {
  const auto work = [&](KXComException& ctx) {
    CheckPointerArgument(ctx, xml);
    *xml = nullptr;
    CheckPointerArgument(ctx, datasheet);
    Writer writer;
    KX_CHECK(ctx, KXXMLStringWriter::CreateInstance(kx_uuidof<ikxXMLStringWriter>(),
                                                    reinterpret_cast<void**>(&writer)));
    CheckPointerArgument(ctx, writer.GetInterfacePtr());
    writer->SetOption(false);
    const ScopedCurrentDatasheet currentDatasheet(main.m_pApplication, datasheet);
    KX_CHECK(ctx, writer->StartElement(u"Fields"));
    IKXQAttributePtr pages;
    const int32_t count = GetPagesAttributeByStatus(datasheet, 1, pages);
    PageLoadContext context(&main);
    for (int32_t i = 1; i <= count; ++i) {
      IKXQObjectPtr page;
      GetAttributeAsObject(pages, i, page);
      if (!page) continue;
      const ScopedCurrentPage currentPage(main.m_pApplication, page);
      WritePageRealFields(ctx, context, page, writer);
    }
    KX_CHECK(ctx, writer->EndElement(u"Fields"));
    KX_CHECK(ctx, writer->GetString(xml));
    return S_OK;
  };
  return ServeRequest(u"KXDBDatasheetSvcs::WriteRealFieldsWithUOM", kSilentFrame, work);
}

}  // namespace KXDBDatasheetSvcs
