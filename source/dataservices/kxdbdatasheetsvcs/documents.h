// The small document messages: "RenameDocuments", "CloseDocuments",
// "RecaseDocuments" and "ListDatasheetObjects". The workers below do one
// document each; they raise `KXComException`.
#pragma once

#include <cstdint>

#include "com/types.h"

class Main;

namespace KXDBDatasheetSvcs {

// Gives the document (a datasheet, or a diagram with `diagram`) the name
// `name` (null: empty) in "DocumentName", shared by all its versions; a
// datasheet's clients get a datasheet event (status 1).
void RenameDocument(Main& main, bool diagram, int32_t documentId, const OLECHAR* name);
// The store's close-version call for the document with the status as
// decimal text ("-1" when none was given).
void CloseDocument(Main& main, int32_t documentId, int32_t status);
// Every current page of the datasheet named by `targetId` (decimal text)
// takes case `caseId` (a page event each), and the datasheet records it as
// its default case. A missing `targetId` is refused with E_INVALIDARG.
void RecaseDocument(Main& main, const OLECHAR* targetId, int32_t caseId);

}  // namespace KXDBDatasheetSvcs
