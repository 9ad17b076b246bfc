#include "model/continuouspageadvisor.h"

#include <algorithm>

#include "com/wstr.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "variantutil.h"

namespace {

const OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/continuouspageadvisor";
const OLECHAR kInitialize[] = u"ContinuousPageHelper::Initialize";

struct RootCandidate {
  IKXQClassViewPtr node;
  IKXQViewDefinitionPtr definition;
};

// Owns a SAFEARRAY handed out by the store for the length of a scope and
// views it as interfaces.
class InterfaceList {
 public:
  explicit InterfaceList(SAFEARRAY* array) : m_vector(array, true) {}
  int32_t Count() const { return m_vector.Count(); }
  template <class I>
  void At(KXComException& ctx, int32_t i, _com_ptr_t<I>& out) const {
    out = nullptr;
    I* raw = nullptr;
    KX_CHECK(ctx, m_vector.GetInterfaceAt(i, &raw));
    out.Attach(raw);
  }

 private:
  VariantUtil::SafeArrayVector m_vector;
};

std::u16string Trimmed(std::u16string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && kx_iswspace(text[begin])) ++begin;
  while (end > begin && kx_iswspace(text[end - 1])) --end;
  return std::u16string(text.substr(begin, end - begin));
}

bool SameNameInsensitive(const _bstr_t& a, const _bstr_t& b) {
  const OLECHAR* pa = a;
  const OLECHAR* pb = b;
  if (pa == nullptr || pb == nullptr) return pa == nullptr && pb == nullptr;
  return _wcsicmp(pa, pb) == 0;
}

void ChildrenOf(KXComException& ctx, IKXQClassView* node, std::vector<IKXQClassViewPtr>& out) {
  SAFEARRAY* raw = nullptr;
  KX_CHECK(ctx, node->get_Children(&raw));
  InterfaceList children(raw);
  for (int32_t i = 0; i < children.Count(); ++i) {
    IKXQClassViewPtr child;
    children.At(ctx, i, child);
    if (child) out.push_back(child);
  }
}

// `node` followed by all nodes below it, each node followed by its own
// children before its next sibling.
void AppendSubtree(KXComException& ctx, IKXQClassView* node, std::vector<IKXQClassViewPtr>& out) {
  out.emplace_back(node);
  std::vector<IKXQClassViewPtr> children;
  ChildrenOf(ctx, node, children);
  for (const auto& child : children) AppendSubtree(ctx, child, out);
}

// Ids (and value keys) of the fields of a field list.
void FieldsOf(KXComException& ctx, SAFEARRAY* raw, std::vector<int32_t>& ids,
              std::vector<int32_t>* valueKeys) {
  InterfaceList fields(raw);
  for (int32_t i = 0; i < fields.Count(); ++i) {
    IKXQTemplateNodePtr field;
    fields.At(ctx, i, field);
    if (!field) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
    LONG id = 0;
    KX_CHECK(ctx, field->get_Id(&id));
    ids.push_back(id);
    if (valueKeys != nullptr) {
      LONG key = -1;
      KX_CHECK(ctx, field->get_ValueKey(&key));
      valueKeys->push_back(key);
    }
  }
}

bool Contains(const std::vector<int32_t>& values, int32_t value) {
  return std::find(values.begin(), values.end(), value) != values.end();
}

}  // namespace

HRESULT ContinuousPageHelper::Initialize(IKXQApplication* application,
                                         IKXQTemplatePage* templatePage, IKXQObject* page,
                                         bool force) {
  KXComException ctx(kInitialize, 1);
  HRESULT hr = S_OK;
  try {
    InitializeTemplate(application, templatePage, force);
    hr = InitializePageProperties(page);
  }
  KX_CATCH(ctx, KX_HERE(kFile))
  if (FAILED(ctx.hr)) throw ctx;
  return hr;
}

void ContinuousPageHelper::Fail(IKXQApplication* application, const char16_t* format,
                                const char16_t* name, int line) {
  KXComException ctx = KXComException::Silent(kInitialize);
  const OLECHAR* checknum = m_templateChecknum;
  const std::u16string text = kx_format(format, name, checknum != nullptr ? checknum : u"");
  if (application != nullptr) {
    _bstr_t warning(text);
    (void)application->LogWarning(warning);
  }
  ThrowKXComExceptionHrAt(ctx, SourceLocation{kFile, line}, E_FAIL, u"%ls", text.c_str());
}

HRESULT ContinuousPageHelper::InitializeTemplate(IKXQApplication* application,
                                                 IKXQTemplatePage* templatePage, bool force) {
  KXComException ctx(kInitialize, 1);
  // The template page is kept even when the analysis is cached or fails.
  m_templatePage = templatePage;
  if (templatePage == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  IKXQTemplatePtr tmpl;
  KX_CHECK(ctx, templatePage->get_Template(&tmpl));
  if (!tmpl) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  _bstr_t templateName;
  _bstr_t checknum;
  _bstr_t pageText;
  KX_CHECK(ctx, tmpl->get_Name(templateName.GetAddress()));
  KX_CHECK(ctx, tmpl->get_Checknum(checknum.GetAddress()));
  KX_CHECK(ctx, templatePage->get_Name(pageText.GetAddress()));
  std::u16string qualified(templateName.view());
  qualified += u":";
  qualified += pageText.view();
  const std::u16string key = Trimmed(qualified);

  _bstr_t format;
  KX_CHECK(ctx, templatePage->get_ContinuousFormat(format.GetAddress()));
  if (format.length() == 0) {
    const std::u16string text =
        kx_format(u"Template %s does not have continuous format.", qualified.c_str());
    if (application != nullptr) (void)application->LogWarning(_bstr_t(text));
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"%ls", text.c_str());
  }

  const OLECHAR* oldChecknum = m_templateChecknum;
  const OLECHAR* newChecknum = checknum;
  const bool sameChecknum = (oldChecknum == nullptr || newChecknum == nullptr)
                                ? oldChecknum == newChecknum
                                : _wcsicmp(oldChecknum, newChecknum) == 0;
  if (!force && !m_templateKey.empty() && sameChecknum && !m_fieldNodeIds.empty() &&
      !m_fieldTemplateNumbers.empty() && kx_wcsicmp(m_templateKey, key) == 0) {
    return S_OK;
  }
  m_templateKey = key;
  m_templateChecknum = checknum;
  Reset();
  Analyse(application, templatePage);
  return S_OK;
}

void ContinuousPageHelper::Analyse(IKXQApplication* application, IKXQTemplatePage* templatePage) {
  KXComException ctx = KXComException::Silent(kInitialize);
  ++m_analysisCount;
  const char16_t* key = m_templateKey.c_str();

  SAFEARRAY* rawRoots = nullptr;
  KX_CHECK(ctx, templatePage->get_RootNodes(&rawRoots));
  InterfaceList roots(rawRoots);
  if (roots.Count() == 0) {
    Fail(application, u"Unable to retrieve root nodes from continuous page template %s (%s)", key,
         __LINE__);
  }
  std::vector<RootCandidate> candidates;
  for (int32_t i = 0; i < roots.Count(); ++i) {
    RootCandidate candidate;
    roots.At(ctx, i, candidate.node);
    if (!candidate.node) continue;
    KX_CHECK(ctx, candidate.node->get_Definition(&candidate.definition));
    if (!candidate.definition) continue;
    SAFEARRAY* rawClasses = nullptr;
    KX_CHECK(ctx, candidate.definition->GetAttachedClasses(0, &rawClasses));
    InterfaceList classes(rawClasses);
    if (classes.Count() == 0) continue;
    IKXQClassPtr first;
    classes.At(ctx, 0, first);
    _bstr_t className;
    if (first) KX_CHECK(ctx, first->get_Name(className.GetAddress()));
    const std::u16string_view name = className.view();
    if (name == u"Document" || name == u"Page" || name == u"GlobalsClass") continue;
    candidates.push_back(candidate);
  }
  if (candidates.empty()) {
    Fail(application, u"Invalid Continuous List Template: No root nodes in template %s (%s)", key,
         __LINE__);
  }
  _bstr_t firstDefinitionName;
  KX_CHECK(ctx, candidates[0].definition->get_Name(firstDefinitionName.GetAddress()));
  for (size_t i = 1; i < candidates.size(); ++i) {
    _bstr_t definitionName;
    KX_CHECK(ctx, candidates[i].definition->get_Name(definitionName.GetAddress()));
    if (!SameNameInsensitive(firstDefinitionName, definitionName)) {
      Fail(application,
           u"Invalid Continuous List Template: Multiple root nodes in template %s (%s) ", key,
           __LINE__);
    }
  }
  const RootCandidate& root = candidates[0];

  SAFEARRAY* rawAttached = nullptr;
  KX_CHECK(ctx, root.definition->GetAttachedClasses(0, &rawAttached));
  InterfaceList attached(rawAttached);
  if (attached.Count() == 0) {
    Fail(application,
         u"Invalid Continuous List Template: No classes attached to root node for %s (%s)", key,
         __LINE__);
  }
  if (attached.Count() > 1 && application != nullptr) {
    const OLECHAR* checknum = m_templateChecknum;
    const std::u16string notice =
        kx_format(u"Continuous List Template: Multiple classes attached to root node for %s (%s)",
                  key, checknum != nullptr ? checknum : u"");
    (void)application->LogNotice(_bstr_t(notice));
  }
  for (int32_t i = 0; i < attached.Count(); ++i) {
    IKXQClassPtr cls;
    attached.At(ctx, i, cls);
    if (!cls) continue;
    _bstr_t name;
    KX_CHECK(ctx, cls->get_Name(name.GetAddress()));
    if (name.length() > 0) m_attachedClassNames.push_back(name);
  }
  LONG rootIndex = 0;
  KX_CHECK(ctx, root.node->get_NodeIndex(&rootIndex));
  m_rootNodeIndex = rootIndex;
  m_rootDefinitionName = firstDefinitionName;

  std::vector<IKXQClassViewPtr> nodes;
  for (const auto& candidate : candidates) AppendSubtree(ctx, candidate.node, nodes);
  std::vector<int32_t> repeatingIds;
  for (const auto& node : nodes) {
    SAFEARRAY* rawFields = nullptr;
    KX_CHECK(ctx, node->get_Fields(&rawFields));
    FieldsOf(ctx, rawFields, repeatingIds, nullptr);
  }
  m_fieldsPerRow = static_cast<int32_t>(repeatingIds.size());
  if (m_fieldsPerRow == 0) {
    Fail(application,
         u"Invalid Continuous List Template: No repeating list fields found for %s (%s)", key,
         __LINE__);
  }

  SAFEARRAY* rawTemplateFields = nullptr;
  KX_CHECK(ctx, templatePage->get_Fields(&rawTemplateFields));
  std::vector<int32_t> fieldIds;
  std::vector<int32_t> fieldKeys;
  FieldsOf(ctx, rawTemplateFields, fieldIds, &fieldKeys);
  if (static_cast<int32_t>(fieldIds.size()) < m_fieldsPerRow) {
    Fail(application,
         u"Invalid Continuous List Template: Number of repeating fields > number of fields for %s "
         u"(%s)",
         key, __LINE__);
  }

  m_fieldNodeIds.clear();
  m_fieldTemplateNumbers.clear();
  m_fieldValueKeys.clear();
  m_fieldRootNodes.clear();
  m_valueKeys.clear();
  m_fixedValueCount = 0;
  m_valuesPerRow = 0;
  auto pass = [&](bool repeating, int32_t& newKeys) {
    for (size_t i = 0; i < fieldIds.size(); ++i) {
      if (Contains(repeatingIds, fieldIds[i]) != repeating) continue;
      m_fieldNodeIds.push_back(fieldIds[i]);
      m_fieldTemplateNumbers.push_back(static_cast<int32_t>(i + 1));
      m_fieldValueKeys.push_back(fieldKeys[i]);
      if (fieldKeys[i] >= 0 && !Contains(m_valueKeys, fieldKeys[i])) {
        m_valueKeys.push_back(fieldKeys[i]);
        ++newKeys;
      }
    }
  };
  pass(false, m_fixedValueCount);
  m_firstRepeatingField = static_cast<int32_t>(m_fieldNodeIds.size()) + 1;
  pass(true, m_valuesPerRow);
  m_fieldCount = m_templateFieldCount = static_cast<int32_t>(m_fieldNodeIds.size());

  m_fieldRootNodes.assign(m_fieldNodeIds.size(), 0);
  for (int32_t i = 0; i < roots.Count(); ++i) {
    IKXQClassViewPtr top;
    roots.At(ctx, i, top);
    if (!top) continue;
    LONG topIndex = 0;
    KX_CHECK(ctx, top->get_NodeIndex(&topIndex));
    std::vector<IKXQClassViewPtr> subtree;
    AppendSubtree(ctx, top, subtree);
    for (const auto& node : subtree) {
      SAFEARRAY* rawFields = nullptr;
      KX_CHECK(ctx, node->get_Fields(&rawFields));
      std::vector<int32_t> ids;
      FieldsOf(ctx, rawFields, ids, nullptr);
      for (const int32_t id : ids) {
        for (size_t p = 0; p < m_fieldNodeIds.size(); ++p) {
          if (m_fieldNodeIds[p] == id) m_fieldRootNodes[p] = topIndex;
        }
      }
    }
  }
  SetNoRowFigures();
}

void ContinuousPageHelper::SetNoRowFigures() {
  m_rowCount = 0;
  m_pageFieldCount = m_templateFieldCount - m_fieldsPerRow;
  m_pageValueCount = m_fixedValueCount;
  m_firstRowPosition = 0;
}

HRESULT ContinuousPageHelper::InitializePageProperties(IKXQObject* page) {
  KXComException ctx(u"ContinuousPageHelper::InitializePageProperties", 1);
  if (page == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  m_rowObjectIds.clear();
  IKXQAttributePtr objects;
  IKXQAttributePtr indices;
  GetAttributeInterface(page, u"NodeObjects", objects);
  GetAttributeInterface(page, u"NodeIndices", indices);
  if (!objects || !indices) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  bool hasValue = false;
  const int32_t first =
      KXDBDatasheetSvcs::GetAttributeIntegerAt(indices, m_rootNodeIndex + 1, &hasValue);
  // A negative entry names no position either (the page-layout lookups
  // read it so); taking it as one would count rows that are not there.
  if (!hasValue || first <= 0) {
    // A page without rows: the figures of the template alone, also when the
    // analysis came from the cache and a previous page had rows.
    SetNoRowFigures();
    return S_OK;
  }
  m_firstRowPosition = first;
  LONG count = 0;
  KX_CHECK(ctx, objects->get_Count(&count));
  m_rowCount = std::max<int32_t>(0, count - first + 1);
  m_pageFieldCount = (m_rowCount - 1) * m_fieldsPerRow + m_templateFieldCount;
  m_pageValueCount = m_valuesPerRow * m_rowCount + m_fixedValueCount;
  return S_OK;
}

HRESULT ContinuousPageHelper::GetFieldValueIndex(int32_t field, int32_t* valueIndex) const {
  if (valueIndex == nullptr) return E_POINTER;
  *valueIndex = -1;
  int32_t folded = field;
  if (field > m_templateFieldCount && m_fieldsPerRow > 0) {
    folded = (field - m_firstRepeatingField) % m_fieldsPerRow + m_firstRepeatingField;
  }
  // A field outside the analysed template page has no value index.
  if (folded < 1 || folded > static_cast<int32_t>(m_fieldValueKeys.size())) return S_OK;
  const int32_t key = m_fieldValueKeys[static_cast<size_t>(folded - 1)];
  if (key < 0) return S_OK;
  const auto found = std::find(m_valueKeys.begin(), m_valueKeys.end(), key);
  if (found == m_valueKeys.end()) return S_OK;
  const int32_t j = static_cast<int32_t>(found - m_valueKeys.begin());
  if (m_fieldsPerRow != 0 && field >= m_firstRepeatingField) {
    *valueIndex = m_valuesPerRow * ((field - m_firstRepeatingField) / m_fieldsPerRow) + j + 1;
  } else {
    *valueIndex = j + 1;
  }
  return S_OK;
}

void ContinuousPageHelper::Reset() {
  m_fieldNodeIds.clear();
  m_fieldNodeIds.shrink_to_fit();
  m_fieldTemplateNumbers.clear();
  m_fieldTemplateNumbers.shrink_to_fit();
  m_fieldValueKeys.clear();
  m_fieldValueKeys.shrink_to_fit();
  m_fieldRootNodes.clear();
  m_fieldRootNodes.shrink_to_fit();
  m_valueKeys.clear();
  m_valueKeys.shrink_to_fit();
  m_attachedClassNames.clear();
}

HRESULT ContinuousPageHelper::MapFieldIndex(int32_t position, int32_t* templateFieldNumber) const {
  KXComException ctx = KXComException::Silent(u"ContinuousPageHelper::MapFieldIndex");
  CheckPointerArgument(ctx, templateFieldNumber);
  *templateFieldNumber = -1;
  if (position < 1) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                            u" Invalid field index for continuous template %s. Must be greater "
                            u"than 0. ",
                            m_templateKey.c_str());
  }
  const int32_t first = m_firstRepeatingField;
  int32_t entry = position;
  if (position >= first) {
    // Without repeating fields there is no block to map into.
    if (m_fieldsPerRow <= 0) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                              u" Field index %d has no field in continuous template %s ",
                              static_cast<int>(position), m_templateKey.c_str());
    }
    entry = first + (position - first) % m_fieldsPerRow;
  }
  if (entry < 1 || entry > static_cast<int32_t>(m_fieldTemplateNumbers.size())) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                            u" Field index %d has no field in continuous template %s ",
                            static_cast<int>(position), m_templateKey.c_str());
  }
  *templateFieldNumber = m_fieldTemplateNumbers[static_cast<size_t>(entry - 1)];
  return S_OK;
}

HRESULT ContinuousPageHelper::MapRevisionPosition(int32_t revision, int32_t* revisionId,
                                                  int32_t* row) const {
  KXComException ctx = KXComException::Silent(u"ContinuousPageHelper::MapRevisionPosition");
  CheckPointerArgument(ctx, revisionId);
  CheckPointerArgument(ctx, row);
  *revisionId = revision;
  *row = -1;
  const int32_t p = revision + 1;
  if (p < 1) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                            u" Invalid revisions index for continuous template %s. Must be "
                            u"greater than 0. ",
                            m_templateKey.c_str());
  }
  const int32_t keys = static_cast<int32_t>(m_valueKeys.size());
  const int32_t fixed = m_fixedValueCount;
  const int32_t perRow = m_valuesPerRow;
  if (perRow != 0 && fixed <= revision) *row = (p - fixed - 1) / perRow;
  int32_t keyNumber = p;
  if (p > keys) {
    // Without values per row there is no block to map into.
    if (perRow <= 0) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                              u" Revision index %d has no value in continuous template %s ",
                              static_cast<int>(revision), m_templateKey.c_str());
    }
    keyNumber = fixed + (p - fixed - 1) % perRow + 1;
  }
  if (keyNumber < 1 || keyNumber > keys) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                            u" Revision index %d has no value in continuous template %s ",
                            static_cast<int>(revision), m_templateKey.c_str());
  }
  *revisionId = m_valueKeys[static_cast<size_t>(keyNumber - 1)];
  return S_OK;
}
