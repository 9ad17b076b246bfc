// The road every field-value setter walks: fetch the page and its
// datasheet, act only on the current pages ("Status" 1), make them the
// host's current datasheet and page, keep a continuous list contiguous,
// assert the field (creating the object behind it when the class is
// confirmed), store the text, check a new object against a summary
// sheet's permanent filter, rewrite the field's record in the page's
// "Fields" and raise one data-field change event.
//
// The setters of the string, real, integer, date and Boolean messages walk
// it whole through `SetFieldValue`; check, radio and sketch fields take
// the pieces of `FieldWrite` and differ where their messages say.
//
// Failures are raised as `KXComException`; a failure leaves whatever was
// written, and the host rolls the whole request back.
#pragma once

#include <cstdint>
#include <optional>

#include "kxstoreptrs.h"
#include "loader/fieldassert.h"
#include "model/kxdbdatasheetutils.h"
#include "model/kxfielddata.h"
#include "model/maincontext.h"
#include "model/scopedcurrent.h"

// The values every field message carries.
struct FieldRequest {
  int32_t status = -1;
  int32_t pageId = -1;
  int32_t fieldId = -1;
  int32_t index = -1;
  const OLECHAR* value = nullptr;           // null: absent
  const OLECHAR* confirmedClass = nullptr;  // null: absent
};

// The number texts and format of "SetIntegerField" and "SetRealField".
struct NumberTexts {
  const OLECHAR* prefix = nullptr;
  const OLECHAR* postfix = nullptr;
  const OLECHAR* substitution = nullptr;
  const OLECHAR* format = nullptr;
  bool published = true;
};

class FieldWrite {
 public:
  FieldWrite(MainContext& main, const FieldRequest& request);
  FieldWrite(const FieldWrite&) = delete;
  FieldWrite& operator=(const FieldWrite&) = delete;

  // Page, status, current objects, contiguity, assertion. False when the
  // request is not acted on or nothing stands behind the field (the answer
  // is then S_OK, with at most the contiguity alert written).
  bool Prepare();

  // Stores `text` (null or empty clears) in `unit` (null: the value's own)
  // and, for an object this request created, checks the permanent filter
  // with `filterText`: S_OK, or S_FALSE when the object left the page; no
  // client then hears of it.
  HRESULT Store(const OLECHAR* text, const OLECHAR* unit, const OLECHAR* filterText);
  // The same with the unit held as a BSTR (empty: the value's own).
  HRESULT Store(const OLECHAR* text, const _bstr_t& unit, const OLECHAR* filterText);

  // The page's "Fields" list (E_POINTER when the page has none).
  IKXQAttribute* Fields();
  // The stored record of `kind` at field number `number`, for the request's
  // row.
  void ReadRecord(int32_t number, int32_t kind, KXFieldData& record);
  // The record with the request's "FieldId", "Index" and the value's
  // attribute id, as XML text in `mode`: by default the plain form, which
  // carries no "State" and no value but a radio choice (the value lives in
  // the store).
  _bstr_t WriteRecord(KXFieldData& record, int32_t mode = kFieldDataDefinition);
  // Puts `entry` (empty: no record) at `number` and raises the data-field
  // event for it.
  void PutRecord(int32_t number, const _bstr_t& entry);

  MainContext& main;
  const FieldRequest& request;
  IKXQObjectPtr page;
  IKXQObjectPtr datasheet;
  IKXQTemplatePagePtr templatePage;
  bool continuous = false;
  AssertedField field;

 private:
  std::optional<ScopedCurrentDatasheet> m_currentDatasheet;
  std::optional<ScopedCurrentPage> m_currentPage;
  // The page's layout lists, looked up once for the assertion and the
  // record; values are still read at each use.
  std::optional<KXDBDatasheetSvcs::PageListsScope> m_pageLists;
  IKXQAttributePtr m_fields;
  // The events of the assertion (a new row), held until the new object
  // passes the permanent filter.
  std::optional<MainContext::HeldEvents> m_assertionEvents;

  // The permanent filter's check and the assertion's events after a store.
  HRESULT Stored(const OLECHAR* filterText);
};

// The whole road for "SetStringField" (kind 2), "SetRealField" (3),
// "SetIntegerField" (4), "SetBoolField" (5) and "SetDateField" (6).
// `numbers` is given for the integer and real kinds. S_OK, or S_FALSE when
// the permanent filter refused a new object.
HRESULT SetFieldValue(MainContext& main, const FieldRequest& request, int32_t kind,
                      const NumberTexts* numbers);
