// Test support for the store: a temporary folder per test, a small plant
// fixture, and short helpers around the interfaces.
//
// The fixture (kPlantFixture) models: classes GenericClass > Document >
// Datasheet / DataView, GenericClass > Page, GenericClass >
// ProcessPlantEquipment > Pump; units of Length (m, mm, ft) and Temperature
// (K, degC); projects 1 > 2; a pump template in versions 2 and 3; datasheet
// 10 with pages 11 and 12 in "CurrentPages", page 12 also in
// "SubmittedPages"; pumps 20 and 21; page 11 shows pump 20 in "NodeObjects"
// (so pump 20's computed "DataViews" lists page 11).
#pragma once

#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <string>

#include "com/comutil.h"
#include "store/admin.h"
#include "store/database.h"
#include "store/object.h"
#include "store/templates.h"
#include "store/view.h"

namespace kx::store::test {

extern const char* const kPlantFixture;

// A fresh folder removed with its content at destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Opens (creating) path and imports the plant fixture.
std::unique_ptr<Store> OpenPlant(const std::string& path);
std::unique_ptr<Store> Reopen(const std::string& path);

// A test on a fresh store of the plant fixture.
class PlantStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store = OpenPlant(dir.File("plant.kxq"));
    ASSERT_TRUE(store);
  }
  TempDir dir;
  std::unique_ptr<Store> store;
};

_com_ptr_t<IKXQObject> Obj(Store& s, LONG id);
_com_ptr_t<IKXQAttribute> Attr(IKXQObject* o, const char16_t* name);
// Value at a 1-based position (0: the single value).
_variant_t Get(IKXQAttribute* a, LONG pos = 0, const char16_t* unit = nullptr);
HRESULT Put(IKXQAttribute* a, LONG pos, const _variant_t& v, const char16_t* unit = nullptr);
LONG Count(IKXQAttribute* a);
// The id of the object a VARIANT holds, 0 when none.
LONG IdOf(const VARIANT& v);
// The description of the thread's error information (cleared), "" if none.
std::string ErrorText();
std::string IntegrityCheck(const std::string& path);

// Runs SQL on the database at `path` as another program would.
void RawSql(const std::string& path, const char* sql);
// The same, leaving what it wrote in the database's log, as a process that
// was killed leaves it, without the log's index.
void RawSqlLeavingLog(const std::string& path, const char* sql);
// Every file of a folder, by name, with its bytes.
std::map<std::string, std::string> FolderBytes(const std::string& folder);
void WriteBytes(const std::string& path, const std::string& bytes);

inline VARTYPE Vt(const VARIANT& v) { return V_VT(&v); }
inline _variant_t Pos(LONG n) { return _variant_t(static_cast<int>(n)); }

}  // namespace kx::store::test
