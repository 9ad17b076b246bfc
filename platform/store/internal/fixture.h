// The XML fixture format (see ../README.md): reading a whole store's
// description and importing it in one transaction; and reading one
// template element as the library keeps it. The document is read in passes
// (fixture_reader.h): its sections, then each section of objects twice
// (fixture_objects.h).
#pragma once

#ifndef KX_STORE_INTERNAL
#error "store/internal headers are private to their library; include its public headers"
#endif

#include <memory>
#include <string>

#include "store/admin.h"
#include "store/internal/core.h"

namespace kx::store {

// Imports xml (named name in messages) in a transaction of its own. On any
// failure nothing is imported and the message reads "NAME:LINE: text".
Status ImportFixture(StoreCore& core, const std::string& xml, const std::string& name);
// The same from the file at path (named name in messages), read a piece at
// a time.
Status ImportFixtureFile(StoreCore& core, const std::string& path, const std::string& name);

// Parses one <template> element (as stored in the templates table).
Status ParseTemplateXml(StoreCore& core, const std::string& xml, std::unique_ptr<TemplateRec>* out);

}  // namespace kx::store
