// Template, source and bitmap files: the messages that hand a client the
// files behind its datasheets, from the host's folders or from the cached
// template data of the template library, and the one that stores a
// template's workbook into its record in the object store.
//
// "GetTemplateFromDB" and "GetSourceFromDB" parse a small request (below);
// "GetTemplateFile", "GetBitmapFile" and "GetSourceFile" take their request
// text as the id or name without a trailing line end (a file or a terminal
// leaves one), "SetQMFDBTemplate" as it is. None writes an
// "XMLMessage": a text goes back through the response's send-text
// operation, a file through its send-file operation (binary for bitmaps,
// source and QMF files, text for template files). Paths are a folder and a
// name joined with "\"; names taken from a request or a template must stay
// inside their folder (no "..", no root or drive), and the host refuses any
// path that leaves its folders. The handlers are the functions
// KXDBDatasheetSvcs::<message name> (files.cpp).
#pragma once

#include <cstdint>

#include "model/maincontext.h"

// "GetTemplateFromDB" and "GetSourceFromDB": the same grammar but for the
// message element's name. The envelope holds "TargetId" only, no "Status".
// The parsers keep the two texts ("" until given) and ignore other values.
class FileFromDBSchema : public MessageParser {
 public:
  enum Id : uint32_t { TargetId = 2, TemplateId, Checknum };
  explicit FileFromDBSchema(MainContext* main);
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;

  SAXText m_checknum;
  SAXText m_templateId;
};

class GetTemplateFromDBMessageParser final : public FileFromDBSchema {
 public:
  using FileFromDBSchema::FileFromDBSchema;
  const GrammarRecord* GetSchema() const override;
  HRESULT Work() override { return GetTemplateFromDB(); }
  // The worker: the cached template text of (id, checknum) when the library
  // holds one, else the template's file as "GetTemplateFile" sends it.
  HRESULT GetTemplateFromDB();
};

class GetSourceFromDBMessageParser final : public FileFromDBSchema {
 public:
  using FileFromDBSchema::FileFromDBSchema;
  const GrammarRecord* GetSchema() const override;
  HRESULT Work() override { return GetSourceFromDB(); }
  // The worker: the cached workbook source of (id, checknum), else the QMF
  // file of the template from the settings folder "Templates" when the
  // template's checknum matches (without regard to case).
  HRESULT GetSourceFromDB();
};

namespace KXDBDatasheetSvcs {

// Decodes `data` (Base64) into the "ExcelFile" of the first "Template"
// record whose "TemplateId" and "Checknum" equal the texts without regard
// to case (a missing text equals an empty one). Invalid Base64 fails with
// E_INVALIDARG and stores nothing; no matching record stores nothing, warns
// the host and succeeds. Reports its failures as the HRESULT with the
// thread's error information.
HRESULT ReplaceTemplateWithQMF(HostConnection& host, const OLECHAR* templateId,
                               const OLECHAR* checknum, const OLECHAR* data);

// True when `name` may be joined to a folder: not empty, no "\" or "/" at
// its start, no drive ("C:"), no ".." step between separators.
bool IsNameInsideFolder(const OLECHAR* name);

}  // namespace KXDBDatasheetSvcs

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT GetTemplateFile(MainContext& main, const OLECHAR* request);
HRESULT GetTemplateFromDB(MainContext& main, const OLECHAR* request);
HRESULT GetSourceFromDB(MainContext& main, const OLECHAR* request);
HRESULT SetQMFDBTemplate(MainContext& main, const OLECHAR* request);
HRESULT GetBitmapFile(MainContext& main, const OLECHAR* request);
HRESULT GetSourceFile(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
