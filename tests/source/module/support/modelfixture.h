// Small stores for the datasheet model's tests.
//
// ModelStore opens an in-memory object store, imports a fixture text into
// it and wires a real host application object to it (database, schema,
// template library, root and active project, settings, privileges). The
// fixture `kPlantFixture` describes a small plant: the classes the model
// reads, three projects, two cases, a plain datasheet template, a
// continuous-list template and a summary template, and datasheets with
// their pages. Object ids of that fixture are the constants below.
#pragma once

#include <memory>
#include <string>

#include "com/comutil.h"
#include "host/host_application.h"
#include "kxstoreptrs.h"
#include "store/admin.h"

namespace kx::test::model {

extern const char* const kPlantFixture;

// Ids in kPlantFixture.
enum : LONG {
  kPump1 = 100,
  kPump2 = 101,
  kPump3 = 102,
  kMotor1 = 110,
  kSheet = 200,  // plain datasheet, template "TDS", two current pages
  kSheetPage1 = 201,
  kSheetPage2 = 202,
  kSheetSubmitted = 203,  // submitted copy of page 1, checknum "7" (gone)
  kSheetIssued = 204,     // issued copy of page 1
  kList = 300,            // continuous-list datasheet, template "TLIST"
  kListPage = 301,        // NodeIndices[2] = 5, seven NodeObjects: three rows
  kSummary = 400,         // summary sheet of project 4, template "TSUM"
  kSummaryPage = 401,
  kNamed = 500,       // datasheet with "DatasheetSheetName"
  kNoTemplate = 600,  // datasheet of an unknown template, no name
  kDiagram = 700,     // diagram with a current schematic (701) only
};

class ModelStore {
 public:
  // Imports `fixture` (kPlantFixture by default); fails the test on error.
  explicit ModelStore(const char* fixture = kPlantFixture);
  ~ModelStore();

  IKXQDatabase* database() const { return store_->Database(); }
  kx::host::Application& app() const { return *app_; }
  IKXQApplication* application() const { return app_.get(); }
  kx::store::Store& store() const { return *store_; }

  IKXQObjectPtr Object(LONG id) const;
  IKXQTemplatePagePtr TemplatePage(const char16_t* templateId, const char16_t* pageId) const;
  // Sets the project that claims and scope are judged against.
  void SetActiveProject(LONG id);
  static void ClearThreadErrorInfoForTests();

 private:
  std::unique_ptr<kx::store::Store> store_;
  kx::host::Ref<kx::host::Application> app_;
};

std::string Narrow(const _bstr_t& text);
std::string Narrow(const OLECHAR* text);
// The description of the thread's error information ("" when none); the
// information is taken off the thread.
std::string ThreadErrorDescription();

}  // namespace kx::test::model

class KXComException;

namespace kx::test::model {

// The first "Desc" of the exception's error description ("" when none).
std::string FirstDesc(const KXComException& error);

}  // namespace kx::test::model
