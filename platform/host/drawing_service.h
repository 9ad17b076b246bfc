// The host's drawing service, offered to modules under the service name
// "DrawingServices" (IKXQApplication::GetService). It keeps its diagrams in
// the object store, as objects of the schema class "Diagram" (or a class
// derived from it), and its drawing templates as objects of the class
// "DrawingTemplate" with a "Name", so a store fixture describes both. Every
// call is recorded in order (the host program prints them), and any
// operation can be made to fail (failures(), by method name).
//
// A diagram's workflow face (IKXDrawingDiagram, the representation "Diagram"
// of a diagram object) comes from DiagramOf; its calls go into the same
// record.
//
// Threading: the host's one thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/com_object.h"
#include "host/drawing.h"
#include "host/failure_points.h"
#include "host/store_fwd.h"

namespace kx::host {

class Application;

// One call that reached the drawing service, as a line of text
// ("CreateDiagram \"P-1\\nPFD\" case 1 shared none -> #1201") and its result.
struct DrawingCall {
  std::u16string text;
  HRESULT hr = S_OK;
};

class DrawingService final : public internal::DispatchObject<IKXDrawingServices> {
 public:
  // The store is reached through `application` (not owned) on each call.
  explicit DrawingService(Application* application) : application_(application) {}

  // Cuts the link to the application: later calls fail with E_UNEXPECTED
  // (a module may hold the service longer than its host).
  void Disconnect() { application_ = nullptr; }

  // Drawing templates given here take the place of those in the store
  // (nullopt: read the store again).
  void SetDrawingTemplates(std::optional<std::u16string> names) { templates_ = std::move(names); }
  // The dimension set last made current (empty: none yet).
  const std::u16string& dimension_set() const { return dimension_set_; }

  // The calls recorded so far, and taking them (the record is empty after).
  const std::vector<DrawingCall>& calls() const { return calls_; }
  std::vector<DrawingCall> TakeCalls();

  // The workflow face of `diagram` (a "Diagram" object; anything else gives
  // null with S_OK). AddRef'd into *face.
  HRESULT DiagramOf(IKXQObject* diagram, IKXDrawingDiagram** face);
  // The same in the shape of the store's representation provider
  // (kx::store::Store::SetRepresentationProvider): the kind "Diagram" gives
  // the workflow face, any other kind nothing.
  HRESULT Representation(IKXQObject* object, const std::u16string& kind, IUnknown** rep);

  // Injected failures, by method name: "ChangeDimensionSet",
  // "get_DrawingTemplates", "FindSharedDocument", "CreateDiagram", and for
  // diagrams "Submit", "Check", "Issue", "Withdraw".
  FailurePoints& failures() { return failures_; }

  // ---- IKXDrawingServices ----
  HRESULT ChangeDimensionSet(BSTR setName) override;
  HRESULT get_DrawingTemplates(BSTR* names) override;
  HRESULT FindSharedDocument(BSTR name, VARIANT id, IDispatch** document) override;
  HRESULT CreateDiagram(BSTR nameAndClass, VARIANT caseId, VARIANT reserved1, VARIANT reserved2,
                        VARIANT reserved3, VARIANT sharedDocument, VARIANT* result) override;

  // Records a call of a diagram's workflow face; `hr` is what it answers.
  HRESULT RecordDiagramCall(std::u16string text, std::string_view operation);

 private:
  ~DrawingService() override = default;
  HRESULT Record(std::u16string text, HRESULT hr);
  HRESULT Database(IKXQDatabase** database);

  Application* application_;
  FailurePoints failures_;
  std::optional<std::u16string> templates_;
  std::u16string dimension_set_;
  std::vector<DrawingCall> calls_;
};

}  // namespace kx::host
