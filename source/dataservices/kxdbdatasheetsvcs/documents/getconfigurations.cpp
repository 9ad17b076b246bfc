#include "documents/getconfigurations.h"

#include <iterator>

#include "com/wstr.h"
#include "host/response.h"
#include "host/settings.h"
#include "kxcomexception.h"
#include "kxstoreptrs.h"
#include "model/maincontext.h"
#include "variantutil.h"
#include "xmlreply.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/getconfigurations";

// The privileges reported, in the order of their attributes.
struct PrivilegeFlag {
  const OLECHAR* attribute;
  const OLECHAR* privilege;
};
constexpr PrivilegeFlag kPrivileges[] = {
    {u"CanSecure", u"SecureAttribute"},
    {u"CanLock", u"LockAttribute"},
    {u"CanCheck", u"CheckDocument"},
    {u"CanIssue", u"IssueDocument"},
    {u"CanChangeUnits", u"Globally Change Display Units"},
    {u"CanModifySummary", u"Modify Non-Project Summary"},
};

// Adds a VT_BOOL attribute to the pending list of the next element.
void AddBoolAttribute(HostConnection& host, const OLECHAR* name, VARIANT_BOOL value) {
  XMLReply::EnsureAttributes(host);
  VARIANT flag;
  VariantInit(&flag);
  flag.vt = VT_BOOL;
  flag.boolVal = value;
  KXComException ctx = KXComException::Silent();
  KX_CHECK(ctx, host.m_pReplyAttributes->Add(_bstr_t(name), flag));
}

// Writes one "Filter" element per object filter of the schema, in the
// schema's order, into the element that is open.
void WriteObjectFilters(MainContext& main) {
  KXComException ctx = KXComException::Silent();
  _com_ptr_t<IKXQSettings> settings;
  KX_CHECK(ctx, main.m_pApplication->get_Settings(&settings));
  if (!settings) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  _bstr_t defaultFilter;
  KX_CHECK(ctx, settings->GetValue(_bstr_t(u"DefaultFilter"), defaultFilter.GetAddress()));
  if (main.m_pSchema == nullptr) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"Do not have access to object store");
  }
  SAFEARRAY* rawFilters = nullptr;
  KX_CHECK(ctx, main.m_pSchema->get_ObjectFilters(&rawFilters));
  if (rawFilters == nullptr) return;
  VariantUtil::SafeArrayVector filters(rawFilters, true);
  for (int32_t i = 0; i < filters.Count(); ++i) {
    IKXQObjectFilter* element = nullptr;
    KX_CHECK(ctx, filters.GetInterfaceAt(i, &element));
    IKXQObjectFilterPtr filter;
    filter.Attach(element);
    if (!filter) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
    _bstr_t name;
    _bstr_t title;
    KX_CHECK(ctx, filter->get_Name(name.GetAddress()));
    KX_CHECK(ctx, filter->get_Title(title.GetAddress()));
    XMLReply::AddStringAttribute(main, u"Name", name);
    XMLReply::AddStringAttribute(main, u"Title", title);
    if (kx_wcsicmp(defaultFilter.view(), name.view()) == 0) {
      AddBoolAttribute(main, u"Default", VARIANT_TRUE);
    }
    XMLReply::WriteElement(main, u"Filter", nullptr);
  }
}

}  // namespace

HRESULT KXDBDatasheetSvcs::GetConfigurations(MainContext& main, const OLECHAR*) {
  return ServeRequest(u"KXDBDatasheetSvcs::GetConfigurations", [&](KXComException& ctx) {
    // Added before the reply begins: it lands on "XMLMessage".
    XMLReply::AddStringAttribute(main, u"MessageOfTheDay", nullptr);
    _com_ptr_t<IKXQPrivileges> privileges;
    KX_CHECK(ctx, main.m_pApplication->get_Privileges(&privileges));
    if (!privileges) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
    VARIANT_BOOL granted[std::size(kPrivileges)] = {};
    for (size_t i = 0; i < std::size(kPrivileges); ++i) {
      granted[i] = VARIANT_FALSE;
      KX_CHECK(ctx, privileges->HasPrivilege(_bstr_t(kPrivileges[i].privilege), &granted[i]));
    }
    IKXQProjectPtr project;
    KX_CHECK(ctx, main.m_pApplication->get_ActiveProject(&project));
    if (!project) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
    LONG projectId = 0;
    KX_CHECK(ctx, project->get_Id(&projectId));

    XMLReply::BeginMessage(main, u"App", -1);
    for (size_t i = 0; i < std::size(kPrivileges); ++i) {
      // "IsRootProject" stands before the last privilege.
      if (i + 1 == std::size(kPrivileges)) {
        AddBoolAttribute(main, u"IsRootProject", projectId == 1 ? VARIANT_TRUE : VARIANT_FALSE);
      }
      AddBoolAttribute(main, kPrivileges[i].attribute, granted[i]);
    }
    XMLReply::StartElement(main, u"Configurations");
    WriteObjectFilters(main);
    XMLReply::EndElement(main, u"Configurations");
    XMLReply::EndMessage(main);
    return S_OK;
  });
}

HRESULT KXDBDatasheetSvcs::GetObjectFilters(MainContext& main, const OLECHAR*) {
  return ServeRequest(u"KXDBDatasheetSvcs::GetObjectFilters", [&](KXComException&) {
    XMLReply::BeginMessage(main, u"App", -1);
    XMLReply::StartElement(main, u"ObjectFilters");
    WriteObjectFilters(main);
    XMLReply::EndElement(main, u"ObjectFilters");
    XMLReply::EndMessage(main);
    return S_OK;
  });
}
