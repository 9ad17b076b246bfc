// A small store for the field model's tests: one pump datasheet whose page
// reaches values through routes of one, two and three steps, list members
// named with positions, and a continuous list of pumps.
#pragma once

#include "fieldmodel/fieldutils.h"
#include "modelfixture.h"

namespace kx::test::model {

extern const char* const kFieldFixture;

// Ids in kFieldFixture.
enum : LONG {
  kFieldPump = 10,      // Tag "P-101", Flow 2 l/s
  kFieldMotor = 11,     // the pump's motor
  kFieldBearing1 = 12,  // the motor's bearings
  kFieldBearing2 = 13,
  kFieldNozzle1 = 14,  // the pump's nozzles (a collection)
  kFieldNozzle2 = 15,
  kFieldSheet = 20,   // datasheet of template "TP"
  kFieldPage = 21,    // its page: only the pump placed (node 0)
  kFieldIssued = 22,  // the page's issued copy
  kRowsSheet = 30,    // continuous-list datasheet of template "TL"
  kRowsPage = 31,     // the sheet on node 0, rows from position 2
  kRowsPump1 = 32,
  kRowsPump2 = 33,
};

// Field ids of template page "TP"/"P1" (equal to their numbers).
enum : int32_t {
  kTagField = 1,
  kFlowField = 2,
  kSpeedField = 3,
  kRunningField = 4,
  kInstalledField = 5,
  kMotorTagField = 6,
  kBearingField = 7,  // Pump / Motor / Bearings(2) / Temperature
  kNozzle1Field = 8,  // Pump / Nozzles(1) / Size
  kNozzle2Field = 9,  // Pump / Nozzles(2) / Size
  kCheckField = 10,
  kRadioField = 11,
  kDrawingField = 12,  // binary
  kNoCaseField = 13,   // a field without case position
};

// The template field of `fieldId` on `templatePage`; fails the test when
// there is none.
IKXQTemplateFieldPtr TemplateField(IKXQTemplatePage* templatePage, int32_t fieldId);

// The value holder behind a field resolved in read (or write) mode; null
// when the walk ends early. Fails the test on a raised failure.
IKXQFieldValuePtr Resolve(IKXQObject* page, IKXQTemplateField* field, bool write,
                          SAFEARRAY* shift = nullptr, _variant_t* value = nullptr);

// Texts of a page list attribute, positions 1..count ("" for no value).
std::vector<std::string> ListTexts(IKXQObject* object, const char16_t* attribute);

}  // namespace kx::test::model
