// Template listings: "ListTemplates", the datasheet and summary templates
// of the host's template library sorted by name, and "ListCachedTemplates",
// the template records of the object store (class "Template") that carry a
// template id and a checknum. Both ignore their request text and reply
// with an "XMLMessage" whose "TargetId" is "App". The handlers are the
// functions KXDBDatasheetSvcs::<message name> (listtemplates.cpp); what is declared here
// is shared with the file messages and the template-page listings.
#pragma once

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "com/comutil.h"
#include "kxstoreptrs.h"
#include "loader/templatelibrary.h"
#include "model/maincontext.h"

class HostConnection;
class KXComException;
struct IKXQApplication;
struct SourceLocation;

// One template as "ListTemplates" lists it.
struct TemplateListEntry {
  std::u16string name;
  std::u16string templateId;
  std::u16string className;
  std::u16string category;
};

// The templates of a listing, kept sorted by name without regard to ASCII
// letter case; names that compare equal keep the order they came in. A
// template whose id is already listed is dropped (the same template read
// twice), whatever its name.
class TemplateList {
 public:
  // Copies the four texts into a record at its sorted place. False (and
  // nothing kept) when a record of that template id is held.
  bool InsertSorted(std::u16string_view name, std::u16string_view templateId,
                    std::u16string_view className, std::u16string_view category);
  size_t Count() const { return m_records.size(); }
  const TemplateListEntry& At(size_t index) const { return *m_records[index]; }
  void Clear();

 private:
  std::vector<std::unique_ptr<TemplateListEntry>> m_records;
  std::set<std::u16string> m_ids;
};

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT ListTemplates(MainContext& main, const OLECHAR* request);
HRESULT ListCachedTemplates(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
