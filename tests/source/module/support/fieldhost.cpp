#include "fieldhost.h"

#include <gtest/gtest.h>

#include "setterhost.h"

namespace kx::test::fields {

namespace {

void ReplaceOnce(std::string& text, const std::string& what, const std::string& with) {
  const size_t at = text.find(what);
  if (at == std::string::npos) {
    ADD_FAILURE() << "the setters' plant has no " << what;
    return;
  }
  text.replace(at, what.size(), with);
}

std::string Build() {
  std::string text = kx::test::setters::kSetterFixture;
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
  ReplaceOnce(text, "     <field id=\"9\" type=\"String\" attribute=\"Tag\"/>\n",
              "     <field id=\"9\" type=\"String\" attribute=\"Tag\"/>\n"
              "     <field id=\"10\" type=\"String\" attribute=\"Tag\" case=\"1\"/>\n");
  ReplaceOnce(text, "<case id=\"1\" name=\"Design\"/>",
              "<case id=\"1\" name=\"Design\"/><case id=\"2\" name=\"Upset\"/>");
  ReplaceOnce(text, "   <attribute name=\"TemplateId\"/>\n   <attribute name=\"ObjectFilter\"/>\n",
              "   <attribute name=\"TemplateId\"/>\n   <attribute name=\"ObjectFilter\"/>\n"
              "   <attribute name=\"DefaultCase\" type=\"integer\"/>\n"
              "   <attribute name=\"CaseName\"/>\n");
  ReplaceOnce(text, "<node name=\"Pump\" index=\"0\" classes=\"Pump\">",
              "<node name=\"Pump\" index=\"0\" classes=\"Pump\" caseSlot=\"0\">");
  ReplaceOnce(text, "<node name=\"Row\" index=\"1\" classes=\"Pump\" repeats=\"true\">",
              "<node name=\"Row\" index=\"1\" classes=\"Pump\" repeats=\"true\" caseSlot=\"0\">");
  // The pump's nozzles: a list the page shows on a child node.
  ReplaceOnce(text, "   <attribute name=\"Drawing\"/>\n  </class>",
              "   <attribute name=\"Drawing\"/>\n"
              "   <attribute name=\"Nozzles\" type=\"object\" list=\"true\" collection=\"true\" "
              "class=\"Nozzle\"/>\n  </class>\n"
              "  <class name=\"Nozzle\" base=\"GenericClass\"/>");
  ReplaceOnce(text, "     <field id=\"10\" type=\"String\" attribute=\"Tag\" case=\"1\"/>\n",
              "     <field id=\"10\" type=\"String\" attribute=\"Tag\" case=\"1\"/>\n"
              "     <node name=\"Nozzles(1)\" index=\"1\" classes=\"Nozzle\">\n"
              "      <field id=\"20\" type=\"String\" attribute=\"Tag\"/>\n"
              "     </node>\n");
  ReplaceOnce(
      text, "   <value attribute=\"BEDDInitialized\">true</value>\n  </object>",
      "   <value attribute=\"BEDDInitialized\">true</value>\n"
      "   <value attribute=\"Nozzles\" ref=\"70\"/><value attribute=\"Nozzles\" ref=\"71\"/>\n"
      "  </object>\n"
      "  <object id=\"70\" class=\"Nozzle\" owner=\"10\"><value "
      "attribute=\"Tag\">N1</value></object>\n"
      "  <object id=\"71\" class=\"Nozzle\" owner=\"10\"><value "
      "attribute=\"Tag\">N2</value></object>");
  return text;
}

}  // namespace

const char* FieldFixture() {
  static const std::string text = Build();
  return text.c_str();
}

}  // namespace kx::test::fields
