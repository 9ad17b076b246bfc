// The host's template library and the store's template records, visited
// one by one: shared by the template listings, the file messages and the
// document listings.
#pragma once

#include <functional>

#include "com/comutil.h"
#include "kxstoreptrs.h"

class KXComException;
struct IKXQApplication;
struct SourceLocation;

namespace KXDBDatasheetSvcs {

// Calls `visit` with each instance of the schema's class "Template", in
// the store's order, with its "TemplateId" and "Checknum" texts, until it
// returns false. A schema without that class raises E_FAIL
// `missingClassText`. Its own failures are located at `caller`, the place
// of the call. Throws KXComException.
void VisitTemplateRecords(KXComException& ctx, const SourceLocation& caller, IKXQSchema* schema,
                          const OLECHAR* missingClassText,
                          const std::function<bool(IKXQObject* record, const _bstr_t& templateId,
                                                   const _bstr_t& checknum)>& visit);

// The template library of `application`: E_FAIL when the host gives none.
// Throws KXComException.
void GetTemplateLibrary(KXComException& ctx, IKXQApplication* application,
                        IKXQTemplateLibraryPtr& library);

// Calls `visit` with each template of the application's library, by
// position (1-based). Throws KXComException; a missing template raises
// E_POINTER.
void VisitLibraryTemplates(KXComException& ctx, IKXQApplication* application,
                           const std::function<void(IKXQTemplate* tmpl)>& visit);

}  // namespace KXDBDatasheetSvcs
