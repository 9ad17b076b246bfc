#include "storexml.h"

namespace kx::test::xml {

namespace {

// What follows the name in the declaration of a document's or a page's
// attribute.
std::string_view TypeOf(std::string_view name) {
  struct Known {
    std::string_view names;
    std::string_view type;
  };
  static constexpr Known kKnown[] = {
      {" NodeObjects Folders ", R"( type="object" list="true")"},
      {" NodeIndices HiddenObjects Cases Qualifiers ", R"( type="integer" list="true")"},
      {" Fields Units Revisions Annotations Sketches ", R"( list="true")"},
      {" CurrentPages SubmittedPages CheckedPages IssuedPages ",
       R"( type="object" list="true" collection="true" class="Page")"},
      {" ActivePage OverspillTo ", R"( type="object" class="Page")"},
      {" OverspillFrom ", R"( type="object" inverse="OverspillTo")"},
      {" RevisedPages ", R"( type="object" list="true" class="Page")"},
      {" PageNumber DefaultCase NumberOfPages ProjectId Status NextAnnotationId HasSummary "
       "Orientation "
       "ScaleMode TopMargin LeftMargin BottomMargin RightMargin PaperSize PaperWidth PaperLength "
       "PaperSource ",
       R"( type="integer")"},
      {" ScaleFactor ", R"( type="real")"},
      {" CenterHorizontal CenterVertical Dirty ", R"( type="boolean")"},
  };
  const std::string key = " " + std::string(name) + " ";
  for (const Known& known : kKnown) {
    if (known.names.find(key) != std::string_view::npos) return known.type;
  }
  return {};
}

std::string Escaped(std::string_view text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string Opening(long id, std::string_view cls, long owner) {
  std::string out =
      "  <object id=\"" + std::to_string(id) + "\" class=\"" + std::string(cls) + "\"";
  if (owner != 0) out += " owner=\"" + std::to_string(owner) + "\"";
  return out;
}

std::string Closed(std::string opening, std::string_view body) {
  if (body.empty()) return opening + "/>\n";
  return opening + ">\n" + std::string(body) + "  </object>\n";
}

}  // namespace

std::string Attributes(std::string_view names) {
  std::string out;
  size_t at = 0;
  while (at < names.size()) {
    const size_t end = std::min(names.find(' ', at), names.size());
    if (end > at) {
      const std::string_view name = names.substr(at, end - at);
      out +=
          "   <attribute name=\"" + std::string(name) + "\"" + std::string(TypeOf(name)) + "/>\n";
    }
    at = end + 1;
  }
  return out;
}

std::string Class(std::string_view name, std::string_view base, std::string_view names,
                  std::string_view more) {
  std::string out = "  <class name=\"" + std::string(name) + "\"";
  if (!base.empty()) out += " base=\"" + std::string(base) + "\"";
  std::string body = Attributes(names) + std::string(more);
  if (!body.empty() && body.back() != '\n') body += '\n';
  if (body.empty()) return out + "/>\n";
  return out + ">\n" + body + "  </class>\n";
}

std::string StoreText(std::string_view classes, std::string_view sections,
                      std::initializer_list<std::string> objects) {
  std::string out = "<store>\n <schema>\n" + std::string(classes) + " </schema>\n" +
                    std::string(sections) + " <objects>\n";
  for (const std::string& object : objects) out += object;
  return out + " </objects>\n</store>\n";
}

std::string LengthDimension() {
  return R"(  <dimension name="Length" base="m">
   <unit name="m" display="metre"/>
   <unit name="mm" factor="0.001" display="millimetre"/>
  </dimension>
)";
}

std::string FlowDimension(bool named) {
  if (!named) {
    return R"(  <dimension name="Flow" base="m3/h">
   <unit name="m3/h"/>
   <unit name="l/s" factor="3.6"/>
  </dimension>
)";
  }
  return R"(  <dimension name="Flow" base="m3/h">
   <unit name="m3/h" display="cubic metres per hour"/>
   <unit name="l/s" factor="3.6" display="litres per second"/>
  </dimension>
)";
}

std::string TemperatureDimension() {
  return R"(  <dimension name="Temperature" base="C">
   <unit name="C"/>
   <unit name="K" offset="-273.15"/>
  </dimension>
)";
}

std::string Value(std::string_view attribute, std::string_view text) {
  const std::string opening = "   <value attribute=\"" + std::string(attribute) + "\"";
  if (text.empty()) return opening + " empty=\"true\"/>\n";
  return opening + ">" + Escaped(text) + "</value>\n";
}

std::string Values(std::string_view attribute, std::initializer_list<std::string_view> texts) {
  std::string out;
  for (const std::string_view text : texts) out += Value(attribute, text);
  return out;
}

std::string Refs(std::string_view attribute, std::initializer_list<long> ids) {
  std::string out;
  for (const long id : ids) {
    out += "   <value attribute=\"" + std::string(attribute) + "\" ref=\"" + std::to_string(id) +
           "\"/>\n";
  }
  return out;
}

std::string Child(std::string_view element) { return "   " + std::string(element) + "\n"; }

std::string Object(long id, std::string_view cls, std::string_view body) {
  return Closed(Opening(id, cls, 0), body);
}

std::string Owned(long id, std::string_view cls, long owner, std::string_view body) {
  return Closed(Opening(id, cls, owner), body);
}

std::string Page(long id, long owner, std::string_view tmpl, std::string_view page,
                 std::string_view checknum, long number, std::string_view body) {
  std::string values = Value("TemplateId", tmpl) + Value("PageId", page);
  if (!checknum.empty()) values += Value("Checknum", checknum);
  if (number != 0) values += Value("PageNumber", std::to_string(number));
  return Owned(id, "Page", owner, values + std::string(body));
}

std::string Datasheet(long id, std::string_view tmpl, std::initializer_list<long> pages,
                      std::string_view body) {
  return Object(id, "Datasheet",
                Value("TemplateId", tmpl) + Refs("CurrentPages", pages) + std::string(body));
}

std::string StatusCopy(std::string object) {
  const size_t end = object.find('>');
  const size_t at = end != std::string::npos && end > 0 && object[end - 1] == '/' ? end - 1 : end;
  if (at != std::string::npos) object.insert(at, " statusCopy=\"true\"");
  return object;
}

}  // namespace kx::test::xml
