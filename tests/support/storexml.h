// Pieces of the store descriptions (fixture texts) that the tests import.
//
// Every test store declares its documents and pages with the same
// attributes, and holds pages and datasheets of the same make: these
// pieces write them one way, so that a fixture names only what is its own.
// Each piece is one or more whole lines, indented as a store description's
// classes and objects are ("  <class>", "   <attribute>", "  <object>",
// "   <value>").
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace kx::test::xml {

// Attribute declarations of the space-separated `names`. The names of
// documents and pages have the types every test store gives them:
// "NodeObjects" is a list of objects, "NodeIndices", "HiddenObjects",
// "Cases" and "Qualifiers" lists of integers, "Fields", "Units",
// "Revisions", "Annotations" and "Sketches" lists of texts, the four page
// lists ("CurrentPages" ...) collections of pages, "PageNumber",
// "DefaultCase" and the print set-up integers, and so on. Any other name
// declares a single text.
std::string Attributes(std::string_view names);

// A class with the attributes `names` (as Attributes declares them), then
// the declarations `more` as written; no base when `base` is empty.
std::string Class(std::string_view name, std::string_view base = {}, std::string_view names = {},
                  std::string_view more = {});

// A store description: <store> whose <schema> holds `classes` (classes,
// definitions, filters and sorts), then `sections` (units, projects,
// cases, templates) as written, then <objects> holding `objects` in order.
std::string StoreText(std::string_view classes, std::string_view sections,
                      std::initializer_list<std::string> objects);

// Dimensions, inside <units>: "Length" in metres ("m", "metre", its base)
// and millimetres ("mm", "millimetre"); "Flow" in "m3/h" (its base) and
// "l/s" (3.6 m3/h), named "cubic metres per hour" and "litres per second"
// when `named`; "Temperature" in "C" (its base) and "K".
std::string LengthDimension();
std::string FlowDimension(bool named);
std::string TemperatureDimension();

// One value of `attribute`; `text` is escaped. An empty text leaves the
// slot empty.
std::string Value(std::string_view attribute, std::string_view text);
// A value of `attribute` for each text, in order (see Value).
std::string Values(std::string_view attribute, std::initializer_list<std::string_view> texts);
// A value of `attribute` referring to each object, in order.
std::string Refs(std::string_view attribute, std::initializer_list<long> ids);
// Any other element of an object (a user, a claim, a trigger, a value with
// a unit or a position), written as given.
std::string Child(std::string_view element);

// An object of class `cls` holding `body`.
std::string Object(long id, std::string_view cls, std::string_view body = {});
// The same, owned by object `owner`.
std::string Owned(long id, std::string_view cls, long owner, std::string_view body = {});
// A page of document `owner` made from page `page` of template `tmpl` at
// `checknum`: its "TemplateId", "PageId", "Checknum" (unless empty) and
// "PageNumber" (unless 0), then `body`.
std::string Page(long id, long owner, std::string_view tmpl, std::string_view page,
                 std::string_view checknum, long number = 0, std::string_view body = {});
// A datasheet of template `tmpl` whose current pages are `pages`, then
// `body`.
std::string Datasheet(long id, std::string_view tmpl, std::initializer_list<long> pages,
                      std::string_view body = {});
// `object` (one of the above) marked as a status copy.
std::string StatusCopy(std::string object);

}  // namespace kx::test::xml
