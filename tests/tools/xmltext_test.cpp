// The text forms of kxqhost's XML in-process: indenting what is not plain
// (markup inside attribute values, CDATA, comments, mixed text) and leaving
// alone what is not XML; reading an envelope that is odd or broken.
#include "xmltext.h"

#include <gtest/gtest.h>

namespace kx::kxqhost {
namespace {

TEST(IndentXmlTest, KeepsTextAndMarkupInsideValuesAsTheyAre) {
  EXPECT_EQ(
      IndentXml("<?xml version=\"1.0\"?><a x=\"1>2\" y='/>'><!-- n --><b>t<![CDATA[<c/>]]></b>"
                "<d>  </d>mixed<e/></a>"),
      "<?xml version=\"1.0\"?>\n"
      "<a x=\"1>2\" y='/>'>\n"
      "  <!-- n -->\n"
      "  <b>t<![CDATA[<c/>]]></b>\n"
      "  <d>  </d>\n"
      "  mixed\n"
      "  <e/>\n"
      "</a>\n");
}

TEST(IndentXmlTest, WhatIsNotBalancedXmlComesBackUnchanged) {
  for (const char* text : {"", "HX-DS version 3", "<a><b></a>", "</a>", "<a>", "<a x=\"1/>",
                           "<!-- open", "text <a/>x</b>"}) {
    EXPECT_EQ(IndentXml(text), text);
  }
}

TEST(RequestShapeTest, ReadsTheRootItsStatusAndTheFirstElementInside) {
  RequestShape shape = ReadRequestShape(
      "\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<!-- c -->\n<XMLMessage TargetId = 'a>b' Status= \" "
      "0\">"
      "<!-- d --><SetRealField/></XMLMessage>");
  EXPECT_TRUE(shape.xml);
  EXPECT_EQ(shape.root, "XMLMessage");
  EXPECT_TRUE(shape.has_status);
  EXPECT_EQ(shape.status, " 0");
  EXPECT_EQ(shape.message, "SetRealField");
  EXPECT_EQ(
      NothingDoneNotice("setrealfield", "<XMLMessage Status=\" 0\"><SetRealField/></XMLMessage>"),
      "the request changed nothing and wrote no reply: its \"Status\" is 0 (the value setters act "
      "only when it is 1)");
  // Broken texts give what could be read, and never more.
  for (const char* text : {"<", "<XMLMessage Status", "<XMLMessage Status=\"1", "<XMLMessage/>",
                           "<XMLMessage x=y Status=\"1\">"}) {
    shape = ReadRequestShape(text);
    EXPECT_EQ(shape.message, "") << text;
    EXPECT_FALSE(shape.has_status) << text;
  }
  shape = ReadRequestShape("<XMLMessage Status=\"1\">");
  EXPECT_TRUE(shape.has_status);
  EXPECT_EQ(shape.message, "");
  EXPECT_FALSE(ReadRequestShape("1012\n").xml);
}

}  // namespace
}  // namespace kx::kxqhost
