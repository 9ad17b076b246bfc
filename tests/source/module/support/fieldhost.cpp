#include "fieldhost.h"

#include "setterhost.h"

namespace fieldtest {

namespace {

void ReplaceOnce(std::string& text, const std::string& what, const std::string& with) {
  const size_t at = text.find(what);
  if (at != std::string::npos) text.replace(at, what.size(), with);
}

std::string Build() {
  std::string text = settertest::kSetterFixture;
  ReplaceOnce(text, " </schema>",
              "  <class name=\"Hold\" base=\"GenericClass\">\n"
              "   <attribute name=\"Name\"/>\n"
              "   <attribute name=\"CreatedReason\"/>\n"
              "   <attribute name=\"InActive\" type=\"boolean\"/>\n"
              "  </class>\n"
              " </schema>");
  ReplaceOnce(text, "   <value attribute=\"NodeObjects\" ref=\"53\"/>\n",
              "   <value attribute=\"NodeObjects\" ref=\"53\"/>\n"
              "   <value attribute=\"NodeObjects\" ref=\"54\"/>\n"
              "   <value attribute=\"NodeObjects\" ref=\"55\"/>\n"
              "   <value attribute=\"NodeObjects\" ref=\"56\"/>\n");
  ReplaceOnce(text, " </objects>",
              "  <object id=\"54\" class=\"Pump\"><value attribute=\"Tag\">P-203</value></object>\n"
              "  <object id=\"55\" class=\"Pump\"><value attribute=\"Tag\">P-204</value></object>\n"
              "  <object id=\"56\" class=\"Pump\"><value attribute=\"Tag\">P-205</value></object>\n"
              "  <object id=\"90\" class=\"Hold\"><value attribute=\"Name\">H-1</value>"
              "<value attribute=\"CreatedReason\">vendor data</value></object>\n"
              "  <object id=\"91\" class=\"Hold\"><value attribute=\"Name\">H-2</value></object>\n"
              " </objects>");
  return text;
}

}  // namespace

const char* FieldFixture() {
  static const std::string text = Build();
  return text.c_str();
}

}  // namespace fieldtest
