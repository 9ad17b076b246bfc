// The page messages. So far the template-page listings, which tell a
// client which template pages it may insert: "ListTemplatePages" (request:
// a datasheet id in decimal, also the reply's "TargetId") and
// "ListTemplatePagesByObject" (request: "ObjectId" elements) collect, per
// object or class, the templates of the library valid for it and reply
// with every page of each, labelled for the user. The handlers are Main's
// methods of the messages' names (pages.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kxstoreptrs.h"
#include "main.h"

// One object or class and the templates valid for it.
struct KXClassTemplatesInfo {
  IKXQObjectPtr object;  // null: the record stands for its class alone
  IKXQClassPtr cls;      // null: the templates were given, not collected
  std::vector<IKXQTemplatePtr> templates;
};

// The collection behind both messages. Every operation throws
// KXComException; store and library failures are raised as they come.
class TemplatePageListing {
 public:
  void SetTargetId(std::u16string_view targetId) { m_targetId = targetId; }
  const std::u16string& TargetId() const { return m_targetId; }

  // The object of `id` joins the objects asked about unless it is there;
  // an id that names no object fails.
  void InternalAddObject(IKXQDatabase* database, int32_t id);
  void AddObject(IKXQObject* object);
  // One record per object asked about (with its class); without objects,
  // one per class of `tmpl` (may be null: no records) or, when it has no
  // classes, one for the schema's "GlobalsClass". Then AddValidTemplates.
  void ListTemplatePagesByObject(IKXQApplication* application, IKXQSchema* schema,
                                 IKXQTemplate* tmpl);
  // Adds to each record with a class every template of the library valid
  // for it: a "Datasheet" template attached to the class, or a
  // continuous-list "Summary" template attached to it.
  void AddValidTemplates(IKXQApplication* application);
  // One record (no object, no class) per continuous-list summary template.
  void ListContinuousDatasheets(IKXQApplication* application);
  // One record holding `tmpl` alone.
  void ListSummaryPages(IKXQTemplate* tmpl);

  const std::vector<KXClassTemplatesInfo>& Records() const { return m_records; }
  // The reply: nothing at all without records; else "XMLMessage" with
  // "TargetId", one "Pages" per record and template, one "Page" per
  // template page. The records are dropped afterwards.
  void WriteReply(DataServicePart& part);

 private:
  std::u16string m_targetId;
  std::vector<IKXQObjectPtr> m_objects;  // in the order asked, no repeats
  std::vector<KXClassTemplatesInfo> m_records;
};

// "ListTemplatePagesByObject": any number of "ObjectId" elements (integer
// text) inside the message element.
class ListTemplatePagesSchema : public MessageParser {
 public:
  enum Id : uint32_t { ObjectId = 4 };  // 2, 3: the envelope
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class ListTemplatePagesMessageParser final : public ListTemplatePagesSchema {
 public:
  using ListTemplatePagesSchema::ListTemplatePagesSchema;
  // Each "ObjectId" adds its object (InternalAddObject); an id that names
  // no object fails the request there.
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return ListTemplatePagesByObject(); }
  // The worker: the records of the objects asked about, then the reply
  // (nothing at all without objects).
  HRESULT ListTemplatePagesByObject();

  TemplatePageListing m_listing;
};

namespace KXDBDatasheetSvcs {

// The label of page `number` of `tmpl` as listed: "OBJECT: " when there
// is an object, the template's name when not empty, " - ", and the page's
// name formatted with its number (FormatPageName), or the bare number for a
// page without name.
std::u16string TemplatePageLabel(IKXQObject* object, const std::u16string& templateName,
                                 const std::u16string& pageName, int32_t number);

}  // namespace KXDBDatasheetSvcs
