// Template, source and bitmap files: the messages that hand a client the
// files behind its datasheets, from the host's folders or from the cached
// template data of the template library, and the one that stores a
// template's workbook into its record in the object store.
//
// None writes an "XMLMessage": a text goes back through the response's
// send-text operation, a file through its send-file operation (binary for
// bitmaps, source and QMF files, text for template files). Paths are a
// folder and a name joined with "\"; names taken from a request or a
// template must stay inside their folder (no "..", no root or drive), and
// the host refuses any path that leaves its folders.
//
// Each function is the whole body of its message: it opens its trace scope,
// reports a failure as its HRESULT with the "<KXError" chain as the thread's
// error information, and throws nothing. `part` is the serving Main's data
// service part (application, schema, response); texts are borrowed.
#pragma once

#include "com/types.h"

class DataServicePart;

namespace KXDBDatasheetSvcs {

// "GetTemplateFile": the file of the template `templateId` (the library's
// root folder and the template's relative path).
HRESULT GetTemplateFile(DataServicePart& part, const OLECHAR* templateId);
// The worker of "GetTemplateFromDB": the cached template text of (id,
// checknum) when the library holds one, else GetTemplateFile.
HRESULT GetTemplateFromDB(DataServicePart& part, const OLECHAR* templateId, const OLECHAR* checknum);
// The worker of "GetSourceFromDB": the cached workbook source of (id,
// checknum), else the QMF file of the template from the "Templates" folder
// when the template's checknum matches (without regard to case).
HRESULT GetSourceFromDB(DataServicePart& part, const OLECHAR* templateId, const OLECHAR* checknum);
// "SetQMFDBTemplate": the request "ID!::!CHECKNUM!::!BASE64" stores the
// decoded workbook in the template record. A text of another form fails
// with E_INVALIDARG.
HRESULT SetQMFDBTemplate(DataServicePart& part, const OLECHAR* request);
// Decodes `data` (Base64) into the "ExcelFile" of the first "Template"
// record whose "TemplateId" and "Checknum" equal the texts without regard
// to case. Invalid Base64 fails with E_INVALIDARG and stores nothing; no
// matching record stores nothing, warns the host and succeeds.
HRESULT ReplaceTemplateWithQMF(DataServicePart& part, const OLECHAR* templateId,
                               const OLECHAR* checknum, const OLECHAR* data);
// "GetBitmapFile": the bitmap `name` from the library's bitmap folder (its
// root folder when it has none).
HRESULT GetBitmapFile(DataServicePart& part, const OLECHAR* name);
// "GetSourceFile": the file `name` from the settings folder "Templates"
// when it ends in ".qmf" (any case), else from "Datasheets".
HRESULT GetSourceFile(DataServicePart& part, const OLECHAR* name);

// True when `name` may be joined to a folder: not empty, no "\" or "/" at
// its start, no drive ("C:"), no ".." step between separators.
bool IsNameInsideFolder(const OLECHAR* name);

}  // namespace KXDBDatasheetSvcs
