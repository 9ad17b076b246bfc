// Analysis of continuous-list template pages.
//
// A continuous-list template page shows fixed fields followed by a block of
// repeating fields, one repetition (row) per object that follows the list's
// root position in a page's "NodeObjects". ContinuousPageHelper analyses
// such a template page once (root node, attached classes, which fields
// repeat, how field values are laid out), keeps that analysis while the
// same template page (same template version) is asked for again, and for a
// given page works out the rows, the highest field number, the number of
// field values, and the 1-based index of any field's value in the page's
// per-field value lists ("Fields", "Revisions").
//
// Field numbers of a page: fixed fields 1..F, then row k (from 0) holds
// F + 1 + k * FieldsPerRow() ... . Value indices: fixed values 1..the fixed
// value count, then row k's values from FixedValueCount() + k *
// ValuesPerRow() + 1.
//
// One helper serves one thread. Not copyable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/application.h"
#include "kxstoreptrs.h"

class ContinuousPageHelper {
 public:
  ContinuousPageHelper() = default;
  ContinuousPageHelper(const ContinuousPageHelper&) = delete;
  ContinuousPageHelper& operator=(const ContinuousPageHelper&) = delete;
  ~ContinuousPageHelper() = default;

  // Analyses `templatePage` (unless the analysis of the same template page
  // and version is kept and `force` is false), then sets up `page`.
  // Failures are thrown as KXComException (E_FAIL with the analysis text,
  // which also goes to the application's warning operation first).
  // `application` may be null (no warnings are then sent).
  HRESULT Initialize(IKXQApplication* application, IKXQTemplatePage* templatePage, IKXQObject* page,
                     bool force);
  HRESULT InitializeTemplate(IKXQApplication* application, IKXQTemplatePage* templatePage,
                             bool force);
  // Rows and page figures of `page` for the analysed template page. A null
  // page raises E_POINTER.
  HRESULT InitializePageProperties(IKXQObject* page);
  // The 1-based value index of field number `field` on the page, or -1 when
  // the field has no value of its own (or lies outside the analysed
  // template page).
  HRESULT GetFieldValueIndex(int32_t field, int32_t* valueIndex) const;
  // The 1-based template field number that field position `position`
  // (1-based) of a page shows: fixed positions map to themselves, repeating
  // ones to their place in the repeating block. Positions below 1 fail with
  // " Invalid field index for continuous template %s. Must be greater than
  // 0. "; a repeating position without repeating fields (none per row) or
  // one outside the table fails with E_FAIL. Throws KXComException.
  HRESULT MapFieldIndex(int32_t position, int32_t* templateFieldNumber) const;
  // The revision id (a value key) and row of 0-based revision position
  // `revision` of a continuous page: positions within the value keys keep
  // their own key, later ones take the keys of the repeating block again,
  // row after row. *row is -1 for a fixed position. Positions below 0 fail
  // with " Invalid revisions index for continuous template %s. Must be
  // greater than 0. "; a repeating position without values per row fails
  // with E_FAIL. Throws KXComException.
  HRESULT MapRevisionPosition(int32_t revision, int32_t* revisionId, int32_t* row) const;

  // Frees the field tables and class names; keys and figures stay.
  void Reset();

  int32_t FirstRepeatingField() const { return m_firstRepeatingField; }
  int32_t FirstRowPosition() const { return m_firstRowPosition; }
  // The "NodeObjects" position of row `row` (from 0). A row from a request
  // may lie past the integer range: the position then saturates, beyond
  // every list.
  int32_t RowPosition(int32_t row) const {
    const int64_t position = int64_t{m_firstRowPosition} + row;
    return position > INT32_MAX ? INT32_MAX : static_cast<int32_t>(position);
  }
  // RowPosition for a row read from the page: 0 (no position) when the
  // page has no rows at all, whatever the row.
  int32_t ListRowPosition(int32_t row) const {
    return m_firstRowPosition > 0 ? RowPosition(row) : 0;
  }
  int32_t FieldCount() const { return m_fieldCount; }
  int32_t TemplateFieldCount() const { return m_templateFieldCount; }
  int32_t FieldsPerRow() const { return m_fieldsPerRow; }
  int32_t RootNodeIndex() const { return m_rootNodeIndex; }
  int32_t PageFieldCount() const { return m_pageFieldCount; }
  int32_t RowCount() const { return m_rowCount; }
  int32_t FixedValueCount() const { return m_fixedValueCount; }
  int32_t ValuesPerRow() const { return m_valuesPerRow; }
  int32_t PageValueCount() const { return m_pageValueCount; }
  const std::u16string& TemplateKey() const { return m_templateKey; }
  const _bstr_t& TemplateChecknum() const { return m_templateChecknum; }
  const _bstr_t& RootDefinitionName() const { return m_rootDefinitionName; }
  // Per helper field position (0-based here): template-node id, 1-based
  // number in the template page's field list, value key, root node index.
  const std::vector<int32_t>& FieldNodeIds() const { return m_fieldNodeIds; }
  const std::vector<int32_t>& FieldTemplateNumbers() const { return m_fieldTemplateNumbers; }
  const std::vector<int32_t>& FieldValueKeys() const { return m_fieldValueKeys; }
  const std::vector<int32_t>& FieldRootNodes() const { return m_fieldRootNodes; }
  const std::vector<int32_t>& ValueKeys() const { return m_valueKeys; }
  const std::vector<_bstr_t>& AttachedClassNames() const { return m_attachedClassNames; }
  // The ids of the page's row objects from its "NodeObjects" (0 for an
  // empty entry), filled on demand by the row keys of the page's trigger;
  // emptied whenever a page is set up.
  std::vector<int32_t>& RowObjectIds() { return m_rowObjectIds; }
  const std::vector<int32_t>& RowObjectIds() const { return m_rowObjectIds; }
  // The template page last given (not AddRef'd).
  IKXQTemplatePage* TemplatePage() const { return m_templatePage; }
  // How many times the template analysis ran (not served from the cache).
  int32_t AnalysisCount() const { return m_analysisCount; }

 private:
  [[noreturn]] void Fail(IKXQApplication* application, const char16_t* format, const char16_t* name,
                         int line);
  void Analyse(IKXQApplication* application, IKXQTemplatePage* templatePage);
  void SetNoRowFigures();

  int32_t m_firstRepeatingField = 0;
  int32_t m_firstRowPosition = 0;
  int32_t m_fieldCount = 0;
  int32_t m_templateFieldCount = 0;
  int32_t m_fieldsPerRow = 0;
  int32_t m_rootNodeIndex = 0;
  int32_t m_pageFieldCount = 0;
  int32_t m_rowCount = 0;
  std::u16string m_templateKey;
  _bstr_t m_templateChecknum;
  _bstr_t m_rootDefinitionName;
  std::vector<int32_t> m_fieldNodeIds;
  std::vector<int32_t> m_fieldTemplateNumbers;
  std::vector<int32_t> m_fieldValueKeys;
  std::vector<int32_t> m_fieldRootNodes;
  std::vector<int32_t> m_valueKeys;
  int32_t m_fixedValueCount = 0;
  int32_t m_valuesPerRow = 0;
  int32_t m_pageValueCount = 0;
  std::vector<_bstr_t> m_attachedClassNames;
  std::vector<int32_t> m_rowObjectIds;
  IKXQTemplatePagePtr m_templatePage;
  int32_t m_analysisCount = 0;
};
