// The table through which `Main` reaches what a test may want to observe:
// the workers of the messages, the database-event handlers, the
// summary-sheet classes of start-up and the workers of the object
// services. The defaults are the real ones; a test derives from this class,
// overrides what it records and passes it to `Main::UseWorkers`.
//
// Each operation follows the rules of the operation it stands for: objects
// are borrowed, failures come back as failed HRESULTs with the thread's
// error information, nothing is thrown.
#pragma once

#include <cstdint>

#include "main.h"

class MainWorkers {
 public:
  virtual ~MainWorkers() = default;

  // The real table, which every Main starts with.
  static MainWorkers& Defaults();

  // The worker of `element` of a message, run by the message's parser when
  // that element ends: the parser's own (`RunWork`).
  virtual HRESULT RunWorker(MessageParser& request, uint32_t element);

  // Database events: Main's handlers of the same names.
  virtual HRESULT HandleCreateEvent(Main& main, IKXQObject* object);
  virtual HRESULT HandleDeleteEvent(Main& main, IKXQObject* object);
  virtual HRESULT HandleDeleteCaseEvent(Main& main, IKXQObject* object, LONG caseNumber);
  virtual HRESULT HandleUpdateProjectEvent(Main& main, IKXQProjectUpdate* update);
  virtual HRESULT HandleDeleteProjectEvent(Main& main, IKXQProject* project);
  virtual HRESULT HandleChangeClassEvent(Main& main, IKXQObject* object, IKXQClass* newClass);
  virtual HRESULT HandleChangeClaimStatusEvent(Main& main, IKXQObject* object);

  // Start-up: KXDBDatasheetSvcs::SummarySheetClasses.
  virtual HRESULT SummarySheetClasses(Main& main, IDispatch* templates, VARIANT* classes);

  // Workers of the object services' methods, from the document catalogue
  // and the field values. *xml receives a new BSTR that the caller frees.
  virtual HRESULT ValidateDatasheetObject(Main& main, IKXQObject* datasheet);
  virtual HRESULT ValidateLabelObject(Main& main, IKXQObject* label, LONG status);
  virtual HRESULT WriteRealFieldsWithUOM(Main& main, IKXQObject* datasheet, BSTR* xml);

  // The overspill run over a new datasheet's current pages in `mode` (2:
  // "CreateDocuments", which sets up no triggers on the pages it makes).
  // Until the overspill runs are built, a datasheet whose pages need none
  // succeeds and one whose template page overspills fails as not built.
  virtual HRESULT CreateOverspillPages(Main& main, IKXQObject* datasheet, int32_t mode);
};
