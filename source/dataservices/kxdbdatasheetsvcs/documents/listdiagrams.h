// "ListDiagrams" and "ListSharedDiagrams", neither reading its request text.
// "ListDiagrams" offers "New NAME Diagram" per drawing template of the
// host's drawing service ("DrawingServices") and "Shared Diagram", then
// every diagram with its versions, in "Documents". "ListSharedDiagrams"
// lists every diagram once by its name with drawing template and case, in
// "SharedDiagrams". Both reply also when nothing is listed.
#pragma once

#include <string>
#include <vector>

#include "model/kxinfoclasses.h"
#include "model/maincontext.h"

namespace KXDBDatasheetSvcs {

// The entries of a drawing-templates text, appended to `names`: "New " + p
// + " Diagram" for each part p. A part ends at a ";" that follows at least
// one character; a rest that begins with ";" is the last part, taken whole;
// an empty last part offers nothing. An empty text offers "New PFD Diagram"
// and "New PPID Diagram".
void DrawingTemplateEntries(const OLECHAR* text, std::vector<std::u16string>& names);

// The listings' workers; they raise `KXComException`.
void ListAllDiagrams(MainContext& main, KXDiagramInfoList& list);
void ListSharedDiagramsOf(MainContext& main, KXDiagramInfoList& list);

}  // namespace KXDBDatasheetSvcs

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT ListDiagrams(MainContext& main, const OLECHAR* request);
HRESULT ListSharedDiagrams(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
