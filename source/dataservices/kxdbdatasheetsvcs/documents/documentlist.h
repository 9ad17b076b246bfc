// What the messages that name documents share: "OpenDocuments" and its
// kin, "CloseDocuments", "RenameDocuments", "WithdrawDocuments" and the
// workflow messages hold any number of "Datasheet" and "Diagram" elements,
// each naming one document by "DocumentId" and, where a version matters,
// the version by "Status". Each element is worked when it ends.
#pragma once

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>

#include "model/maincontext.h"

// A schema whose document elements name a version ("Status").
template <class Schema>
concept NamesDocumentVersions = requires {
  { Schema::DocumentStatus } -> std::convertible_to<uint32_t>;
};

// The "Datasheet" and "Diagram" elements of `Schema`'s grammar, each with
// `body`.
template <class Schema, size_t N>
constexpr std::array<GrammarRecord, 2 * (N + 2)> DocumentElements(const GrammarRecord (&body)[N]) {
  const auto datasheet = Grammar::Element(u"Datasheet", Schema::Datasheet, body);
  const auto diagram = Grammar::Element(u"Diagram", Schema::Diagram, body);
  std::array<GrammarRecord, 2 * (N + 2)> out{};
  for (size_t i = 0; i < N + 2; ++i) {
    out[i] = datasheet[i];
    out[N + 2 + i] = diagram[i];
  }
  return out;
}

// The same with the body of a document version: "DocumentId" and "Status".
template <class Schema>
constexpr auto DocumentVersionElements() {
  return DocumentElements<Schema>({Grammar::Integer(u"DocumentId", Schema::DocumentId),
                                   Grammar::Integer(u"Status", Schema::DocumentStatus)});
}

// The parser part of a document list on `Schema` (which gives the ids
// `Datasheet`, `Diagram`, `DocumentId` and, for versions, `DocumentStatus`):
// the named document's values, -1 until given and again at the start of
// each document element. A parser with values of its own stores them in its
// `SetValue` and hands the other ids on to this one.
template <class Schema>
class DocumentListParser : public Schema {
 public:
  using Schema::Schema;

  static bool IsDocument(uint32_t element) {
    return element == Schema::Datasheet || element == Schema::Diagram;
  }

  HRESULT BeginElement(uint32_t id) override {
    if (IsDocument(id)) {
      m_documentId = -1;
      m_documentStatus = -1;
    }
    return S_OK;
  }

  HRESULT SetValue(uint32_t id, const SAXValue& value) override {
    if (id == Schema::DocumentId) return Store(m_documentId, value);
    if constexpr (NamesDocumentVersions<Schema>) {
      if (id == Schema::DocumentStatus) return Store(m_documentStatus, value);
    }
    return E_INVALIDARG;
  }

  int32_t m_documentId = -1;
  int32_t m_documentStatus = -1;  // the version; stays -1 where none is named
};
