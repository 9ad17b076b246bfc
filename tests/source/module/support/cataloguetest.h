// The fixture of the document catalogue's tests, end to end on the sample
// plant: the host sends a message, the module reads (and for renaming,
// recasing and closing, changes) the store, and the tests check the reply,
// the events, the store and the calls that reached the drawing service.
#pragma once

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "com/comutil.h"
#include "host/host.h"
#include "kxattributeutils.h"
#include "kxstoreptrs.h"
#include "main/mainworkers.h"
#include "store/admin.h"
#include "support/moduletestsupport.h"

namespace kx::test::inprocess {

// Records the store's workflow log (open and close of versions).
class WorkflowLog final : public kx::store::StoreObserver {
 public:
  void WorkflowRecorded(LONG id, LONG code, const std::u16string& text) override {
    steps.push_back(std::to_string(id) + " " + std::to_string(code) + " " + Narrow(text));
  }
  std::vector<std::string> steps;
};

// One record of a listing reply: its attributes as written.
struct Record {
  std::string element;
  std::map<std::string, std::string> attributes;
  std::string operator[](const std::string& name) const {
    const auto found = attributes.find(name);
    return found == attributes.end() ? "<none>" : found->second;
  }
};

inline std::vector<Record> Records(const std::string& reply) {
  std::vector<Record> records;
  static const std::regex element(R"(<(Datasheet|Diagram|Filter) ([^>]*)/>)");
  static const std::regex attribute(R"#((\w+)="([^"]*)")#");
  for (auto it = std::sregex_iterator(reply.begin(), reply.end(), element);
       it != std::sregex_iterator(); ++it) {
    Record record{(*it)[1], {}};
    const std::string text = (*it)[2];
    for (auto a = std::sregex_iterator(text.begin(), text.end(), attribute);
         a != std::sregex_iterator(); ++a) {
      record.attributes[(*a)[1]] = (*a)[2];
    }
    records.push_back(std::move(record));
  }
  return records;
}

class CatalogueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kx::store::Store::Open(":memory:", kx::store::OpenMode::kCreate, &store_).ok());
    const kx::store::Status imported = Import();
    ASSERT_TRUE(imported.ok()) << imported.message;
    store_->SetObserver(&workflow_);
    IKXQDatabase* database = store_->Database();
    IKXQSchemaPtr schema;
    IKXQTemplateLibraryPtr library;
    database->get_Schema(&schema);
    database->get_TemplateLibrary(&library);
    database->get_RootProject(&root_);
    host_.application().SetStore(database, schema, library);
    host_.application().SetProjects(root_, root_);
    for (const char16_t* privilege :
         {u"SecureAttribute", u"LockAttribute", u"CheckDocument", u"IssueDocument",
          u"Globally Change Display Units", u"Modify Non-Project Summary"}) {
      host_.privileges().Grant(privilege);
    }
    service_ = CreateInProcessMain(&MainWorkers::Defaults());
    ASSERT_TRUE(service_);
    ASSERT_EQ(host_.Attach(service_.get()), S_OK);
  }
  // The store's contents: the sample plant, or a variant of it.
  virtual kx::store::Status Import() {
    return store_->ImportFixtureFile(std::string(KX_EXAMPLES_DIR) + "/plant.xml");
  }
  void TearDown() override {
    host_.Detach();
    if (store_) store_->SetObserver(nullptr);
  }

  kx::host::RequestResult Request(std::u16string_view name, std::u16string_view text) {
    return host_.Request(name, text);
  }
  std::string Reply(std::u16string_view name, std::u16string_view text) {
    const kx::host::RequestResult result = Request(name, text);
    EXPECT_TRUE(result.succeeded()) << Narrow(result.error);
    return Narrow(result.reply);
  }
  IKXQObjectPtr Object(LONG id) {
    IKXQObjectPtr object;
    EXPECT_EQ(store_->Database()->get_Object(id, &object), S_OK);
    return object;
  }
  std::string Text(LONG id, const OLECHAR* attribute) {
    _bstr_t text;
    KXDBDatasheetSvcs::GetAttributeString(Object(id), text, attribute, -1);
    return Narrow(text);
  }

  std::unique_ptr<kx::store::Store> store_;
  WorkflowLog workflow_;
  IKXQProjectPtr root_;
  kx::host::Host host_;
  kx::host::Ref<IKXQDataService> service_;
};

// Status ascending, then titles in natural order, then document ids: each
// adjacent pair in order, no version twice.
inline void ExpectListingOrder(const std::vector<Record>& records) {
  for (size_t i = 1; i < records.size(); ++i) {
    const Record& a = records[i - 1];
    const Record& b = records[i];
    SCOPED_TRACE(a["Title"] + " / " + b["Title"]);
    const int byStatus = std::stoi(a["Status"]) - std::stoi(b["Status"]);
    ASSERT_LE(byStatus, 0);
    if (byStatus < 0) continue;
    const int byTitle =
        KXDBDatasheetSvcs::CompareNatural(_bstr_t(a["Title"].c_str()), _bstr_t(b["Title"].c_str()));
    ASSERT_LE(byTitle, 0);
    if (byTitle < 0 || a["Status"] == "0") continue;
    EXPECT_LT(std::stoi(a["DocumentId"]), std::stoi(b["DocumentId"])) << "a version listed twice";
  }
}

}  // namespace kx::test::inprocess
