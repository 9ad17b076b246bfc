// The document listings: what "ListDatasheetsByObject", "...ByTemplate",
// "...ByStatus", "ListDiagrams", "ListSharedDiagrams" and
// "ListDiagramsByObject" gather into their record lists, and the replies
// written from them.
//
// Every routine raises `KXComException`.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kxinfoclasses.h"
#include "main.h"

// "ListDatasheetsByObject": any number of "ObjectId" text elements; the
// records of all of them form one reply.
class ListDatasheetsByObjectSchema : public MessageParser {
 public:
  enum Id : uint32_t { ObjectId = 4 };  // 2, 3: the envelope
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class ListDatasheetsByObjectMessageParser final : public ListDatasheetsByObjectSchema {
 public:
  using ListDatasheetsByObjectSchema::ListDatasheetsByObjectSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return ListDatasheets(); }
  // The worker: lists every object's datasheets and writes the reply.
  HRESULT ListDatasheets();

  std::vector<int32_t> m_objectIds;  // in request order
  KXDatasheetInfoList m_list;
};

// "ListDatasheetsByTemplate": any number of "TemplateId" text elements.
class ListDatasheetsByTemplateSchema : public MessageParser {
 public:
  enum Id : uint32_t { TemplateId = 4 };
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class ListDatasheetsByTemplateMessageParser final : public ListDatasheetsByTemplateSchema {
 public:
  using ListDatasheetsByTemplateSchema::ListDatasheetsByTemplateSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return ListDatasheets(); }
  HRESULT ListDatasheets();

  std::vector<std::u16string> m_templateIds;
  KXDatasheetInfoList m_list;
};

// "ListDiagramsByObject": the case "CaseId" and any number of "ObjectId"
// text elements.
class ListDiagramsByObjectSchema : public MessageParser {
 public:
  enum Id : uint32_t { CaseId = 4, ObjectId };
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class ListDiagramsByObjectMessageParser final : public ListDiagramsByObjectSchema {
 public:
  using ListDiagramsByObjectSchema::ListDiagramsByObjectSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return ListDiagrams(); }
  HRESULT ListDiagrams();

  int32_t m_caseId = -1;
  std::vector<int32_t> m_objectIds;
  KXDiagramInfoList m_list;
};

namespace KXDBDatasheetSvcs {

// Creation entries for the object (one per datasheet template taking its
// class, one per summary template), and every stored datasheet with a page
// showing it. An id below 1 adds nothing.
void ListDatasheetsForObject(Main& main, KXDatasheetInfoList& list, int32_t objectId);
// The template's own entry, one creation entry per instance of its classes
// (not for summary templates), and the stored datasheets made from it. An
// unknown template id adds nothing.
void ListDatasheetsForTemplate(Main& main, KXDatasheetInfoList& list, const OLECHAR* templateId);
// Every datasheet with pages of that status (1-4), each with all its
// versions; the list's CurrentPage becomes `status`. Other statuses add
// nothing.
void ListDatasheetsWithStatus(Main& main, KXDatasheetInfoList& list, int32_t status);
// The "Documents" reply of a datasheet listing; an empty list writes no
// reply at all.
void WriteDatasheetList(Main& main, const KXDatasheetInfoList& list);

// The creation entries offered by the drawing service and every diagram.
void ListAllDiagrams(Main& main, KXDiagramInfoList& list);
// Every diagram once, by its decorated name, for the shared-diagram list.
void ListSharedDiagramsOf(Main& main, KXDiagramInfoList& list);
// The diagrams the object's representations name for the case (-1: none).
void ListDiagramsForObject(Main& main, KXDiagramInfoList& list, int32_t objectId, int32_t caseId);
// The reply of a diagram listing: "Documents" with "CurrentPage", or
// "SharedDiagrams" without; written also when the list is empty.
void WriteDiagramList(Main& main, const KXDiagramInfoList& list, bool shared);

// The entries "New NAME Diagram" of a drawing-templates text: one per name
// separated by ";" ("PFD" and "PPID" when the text is empty); appended to
// `names`.
void DrawingTemplateEntries(const OLECHAR* text, std::vector<std::u16string>& names);

}  // namespace KXDBDatasheetSvcs
