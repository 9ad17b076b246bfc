// Holders for the object store's interfaces: `IKXQObjectPtr` and friends
// own one reference and release it on every path, exceptions included.
#pragma once

#include "com/comutil.h"
#include "store/database.h"
#include "store/object.h"
#include "store/templates.h"
#include "store/view.h"

KX_SMARTPTR_TYPEDEF(IKXQDatabase);
KX_SMARTPTR_TYPEDEF(IKXQSchema);
KX_SMARTPTR_TYPEDEF(IKXQProject);
KX_SMARTPTR_TYPEDEF(IKXQObjectFilter);
KX_SMARTPTR_TYPEDEF(IKXQObject);
KX_SMARTPTR_TYPEDEF(IKXQAttribute);
KX_SMARTPTR_TYPEDEF(IKXQClass);
KX_SMARTPTR_TYPEDEF(IKXQEvaluationContext);
KX_SMARTPTR_TYPEDEF(IKXQTemplateLibrary);
KX_SMARTPTR_TYPEDEF(IKXQTemplate);
KX_SMARTPTR_TYPEDEF(IKXQTemplatePage);
KX_SMARTPTR_TYPEDEF(IKXQClassView);
KX_SMARTPTR_TYPEDEF(IKXQViewDefinition);
KX_SMARTPTR_TYPEDEF(IKXQTemplateNode);
KX_SMARTPTR_TYPEDEF(IKXQTemplateField);
KX_SMARTPTR_TYPEDEF(IKXQView);
KX_SMARTPTR_TYPEDEF(IKXQFieldValue);
KX_SMARTPTR_TYPEDEF(IKXQValueItem);
