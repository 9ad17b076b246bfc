// The document listings: what "ListDatasheetsByObject", "...ByTemplate",
// "...ByStatus", "ListDiagrams", "ListSharedDiagrams" and
// "ListDiagramsByObject" gather into their record lists, and the replies
// written from them.
//
// Every routine raises `KXComException`.
#pragma once

#include <cstdint>

#include "kxinfoclasses.h"

class Main;

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
