// The page messages end to end: kxqhost sends each message to the module
// over a store made from data/pages-plant.xml; the reply, the change events
// (--events) and the store (dump) are checked. Datasheet 1000 has pages
// 1001-1005 numbered 1-5 and the issued page 1006; alice holds it at
// status 1.
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

#include "support/host_fixture.h"

namespace {

using kx::test::tools::Outcome;

// The last line of every request with --events when no datasheet or page
// is current before or after it.
constexpr char kNothingCurrent[] = "== current datasheet none, page none\n";

class PagesTest : public kx::test::tools::KxqhostTest {
 protected:
  void SetUp() override {
    const Outcome made =
        Host({"init", "--fixture", std::string(KXQHOST_TEST_DATA) + "/pages-plant.xml"});
    ASSERT_EQ(made.status, 0) << made.err;
  }

  Outcome Send(const std::string& message, const std::string& text) {
    return Host({"--events", "request", message, "-"}, text);
  }

  static std::string Envelope(const std::string& target, const std::string& body) {
    return "<XMLMessage TargetId=\"" + target + "\" Status=\"1\">" + body + "</XMLMessage>";
  }

  // The ids of the datasheet's current pages, in order.
  std::vector<std::string> Pages(const std::string& datasheet = "1000") {
    std::vector<std::string> ids;
    const std::string dumped = Dump({datasheet});
    const std::string key = "CurrentPages[";
    for (size_t at = dumped.find(key); at != std::string::npos; at = dumped.find(key, at + 1)) {
      const size_t hash = dumped.find('#', at);
      ids.push_back(dumped.substr(hash + 1, dumped.find('\n', hash) - hash - 1));
    }
    return ids;
  }

  std::string Value(const std::string& id, const std::string& attribute) {
    const std::string dumped = Dump({id});
    const std::string key = "\n" + attribute + " = ";
    const size_t at = dumped.find(key);
    if (at == std::string::npos) return "(none)";
    const size_t start = at + key.size();
    return dumped.substr(start, dumped.find('\n', start) - start);
  }

  std::vector<std::string> Numbers(const std::vector<std::string>& pages) {
    std::vector<std::string> numbers;
    for (const auto& page : pages) numbers.push_back(Value(page, "PageNumber"));
    return numbers;
  }

  Outcome RunScript(const std::string& script) {
    kx::test::tools::WriteText(dir_ / "steps.kxq", script);
    return Host({"--events", "run", dir_ / "steps.kxq"});
  }

  static std::string Rename(const std::string& page, const std::string& name) {
    return "request RenamePage <<END\n" +
           Envelope("1000", "<RenamePage PageId=\"" + page + "\" Name=\"" + name + "\"/>") +
           "\nEND\n";
  }

  static int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }
};

using Ids = std::vector<std::string>;

constexpr char kDatasheetEvent[] = "== event Datasheet [D1 1000] to alice\n";

TEST_F(PagesTest, InsertPagesAfterAnAnchorKeepsRequestOrderAndRenumbers) {
  const Outcome done = Send(
      "InsertPages", Envelope("1000",
                              "<InsertPages PageId=\"1002\">"
                              "<Page TemplateId=\"TDS\" TemplatePageId=\"P2\"/>"
                              "<Page TemplateId=\"TDS\" TemplatePageId=\"P1\" ObjectId=\"101\"/>"
                              "<Page TemplateId=\"TDS\" TemplatePageId=\"P2\"/></InsertPages>"));
  ASSERT_EQ(done.status, 0) << done.err;
  // One datasheet event, after the last page.
  EXPECT_EQ(Count(done.out, "== event"), 1) << done.out;
  EXPECT_NE(done.out.find(kDatasheetEvent), std::string::npos) << done.out;
  const Ids pages = Pages();
  ASSERT_EQ(pages.size(), 8u);
  EXPECT_EQ((Ids{pages[0], pages[1], pages[5], pages[6], pages[7]}),
            (Ids{"1001", "1002", "1003", "1004", "1005"}));
  EXPECT_EQ(Numbers(pages), (Ids{"1", "2", "3", "4", "5", "6", "7", "8"}));
  EXPECT_EQ(Value("1000", "NumberOfPages"), "8");
  // The new pages come from their template pages, in request order.
  EXPECT_EQ(Value(pages[2], "PageId"), "\"P2\"");
  EXPECT_EQ(Value(pages[3], "PageId"), "\"P1\"");
  EXPECT_EQ(Value(pages[3], "NodeObjects[1]"), "#101");
  EXPECT_EQ(Value(pages[3], "Cases[1]"), "1");  // the datasheet's default case
}

TEST_F(PagesTest, InsertPagesBeforeAnAnchorAndWithoutOne) {
  Outcome done = Send("InsertPages",
                      Envelope("1000",
                               "<InsertPages PageId=\"1002\" Before=\"1\">"
                               "<Page TemplateId=\"TDS\" TemplatePageId=\"P2\"/>"
                               "<Page TemplateId=\"TDS\" TemplatePageId=\"P2\"/></InsertPages>"));
  ASSERT_EQ(done.status, 0) << done.err;
  Ids pages = Pages();
  ASSERT_EQ(pages.size(), 7u);
  EXPECT_EQ((Ids{pages[0], pages[3], pages[4]}), (Ids{"1001", "1002", "1003"}));
  EXPECT_EQ(Numbers(pages), (Ids{"1", "2", "3", "4", "5", "6", "7"}));
  const std::string second = pages[1];

  // An anchor that is no current page (the issued 1006, a pump) or no
  // anchor at all: appended with the next number.
  for (const std::string anchor : {"1006", "100", "-1"}) {
    done = Send(
        "InsertPages",
        Envelope("1000", "<InsertPages PageId=\"" + anchor +
                             "\"><Page TemplateId=\"TDS\" TemplatePageId=\"P2\"/></InsertPages>"));
    ASSERT_EQ(done.status, 0) << done.err;
  }
  pages = Pages();
  ASSERT_EQ(pages.size(), 10u);
  EXPECT_EQ(pages[1], second);
  EXPECT_EQ(Numbers(pages), (Ids{"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}));
  EXPECT_EQ(Value("1000", "NumberOfPages"), "10");
}

// An anchor id that names no object is the store's failure, not "the end".
TEST_F(PagesTest, AnAnchorThatNamesNoObjectFailsAndChangesNothing) {
  const std::string before = Dump({"1000", "1001", "1002", "1003", "1004", "1005"});
  for (const std::string& body :
       {std::string("<InsertPages PageId=\"99999\"><Page TemplateId=\"TDS\" "
                    "TemplatePageId=\"P2\"/></InsertPages>"),
        std::string("<InsertPages PageId=\"99999\" Before=\"1\"><Page TemplateId=\"TDS\" "
                    "TemplatePageId=\"P2\"/><Page TemplateId=\"TDS\" "
                    "TemplatePageId=\"P2\"/></InsertPages>")}) {
    const Outcome failed = Send("InsertPages", Envelope("1000", body));
    EXPECT_EQ(failed.status, 1) << body;
    EXPECT_EQ(failed.err.rfind("<KXError ", 0), 0u) << failed.err;
    EXPECT_NE(failed.err.find("No object with id 99999"), std::string::npos) << failed.err;
    EXPECT_NE(failed.err.find(" (0x8004B001)\n"), std::string::npos) << failed.err;
    EXPECT_EQ(failed.out.find("== event"), std::string::npos) << failed.out;
  }
  const Outcome failed =
      Send("MovePage", Envelope("1000", "<MovePage MovePageId=\"1002\" PageId=\"99999\"/>"));
  EXPECT_EQ(failed.status, 1);
  EXPECT_NE(failed.err.find("No object with id 99999"), std::string::npos) << failed.err;
  EXPECT_NE(failed.err.find(" (0x8004B001)\n"), std::string::npos) << failed.err;
  EXPECT_EQ(failed.out.find("== event"), std::string::npos) << failed.out;
  EXPECT_EQ(Dump({"1000", "1001", "1002", "1003", "1004", "1005"}), before);

  // An object that is no current page still sends the page to the end.
  const Outcome moved =
      Send("MovePage", Envelope("1000", "<MovePage MovePageId=\"1002\" PageId=\"1006\"/>"));
  ASSERT_EQ(moved.status, 0) << moved.err;
  EXPECT_NE(moved.out.find(kDatasheetEvent), std::string::npos) << moved.out;
  EXPECT_EQ(Pages(), (Ids{"1001", "1003", "1004", "1005", "1002"}));
  EXPECT_EQ(Numbers(Pages()), (Ids{"1", "2", "3", "4", "5"}));
}

// Each "InsertPages" element looks its anchor up when its first page is
// made: an anchor that names no object stops the request at that "Page"
// with the store's failure, and nothing done after it replaces that.
TEST_F(PagesTest, AnElementsAnchorFailsAtItsFirstPage) {
  const std::string before = Dump({"1000", "1001", "1002", "1003", "1004", "1005"});
  const std::string request = Envelope(
      "1000",
      "<InsertPages PageId=\"1002\"><Page TemplateId=\"TDS\" TemplatePageId=\"P2\"/>"
      "</InsertPages><InsertPages PageId=\"99999\"><Page TemplateId=\"TDS\" "
      "TemplatePageId=\"P2\"/><Page TemplateId=\"NOPE\" TemplatePageId=\"P2\"/></InsertPages>");
  const Outcome failed = Send("InsertPages", request);
  EXPECT_EQ(failed.status, 1);
  const size_t column = request.find("/>", request.find("PageId=\"99999\"")) + 3;
  EXPECT_NE(failed.err.find("<KXError Desc=\"No object with id 99999\" Activity=\"Parsing "
                            "element Page(Ln 1, Col " +
                            std::to_string(column) + ")\" HR=\"0x8004b001\""),
            std::string::npos)
      << failed.err;
  EXPECT_NE(failed.err.find(" (0x8004B001)\n"), std::string::npos) << failed.err;
  EXPECT_EQ(failed.out.find("== event"), std::string::npos) << failed.out;
  EXPECT_EQ(Dump({"1000", "1001", "1002", "1003", "1004", "1005"}), before);
}

// An anchor that names the page being made (its id guessed from the pages
// made before) sends that page to the end of the list, not out of it,
// whether it is the request's first page or a later one.
TEST_F(PagesTest, ANewPageAnchoredToItselfGoesToTheEnd) {
  const std::string two =
      "<Page TemplateId=\"TDS\" TemplatePageId=\"P2\"/><Page TemplateId=\"TDS\" "
      "TemplatePageId=\"P1\"/></InsertPages>";
  ASSERT_EQ(Send("InsertPages", Envelope("1000", "<InsertPages PageId=\"1001\">" + two)).status, 0);
  const Ids made = Pages();
  ASSERT_EQ(made.size(), 7u);
  const int first = std::stoi(made[1]);
  const auto id = [&](int k) { return std::to_string(first + k); };
  ASSERT_EQ(made[2], id(1));

  Outcome done =
      Send("InsertPages", Envelope("1000", "<InsertPages PageId=\"" + id(2) + "\">" + two));
  ASSERT_EQ(done.status, 0) << done.err;
  EXPECT_EQ(Pages(), (Ids{"1001", id(0), id(1), "1002", "1003", "1004", "1005", id(2), id(3)}));
  done = Send("InsertPages", Envelope("1000", "<InsertPages PageId=\"1003\">" + two +
                                                  "<InsertPages PageId=\"" + id(6) + "\">" + two));
  ASSERT_EQ(done.status, 0) << done.err;
  EXPECT_EQ(Pages(), (Ids{"1001", id(0), id(1), "1002", "1003", id(4), id(5), "1004", "1005", id(2),
                          id(3), id(6), id(7)}));
  EXPECT_EQ(Value("1000", "NumberOfPages"), "13");
  EXPECT_EQ(Numbers(Pages()),
            (Ids{"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13"}));
}

// A page that stands twice in the list takes the new pages anchored to it
// next to each of its entries, the later pages of the request as the first.
TEST_F(PagesTest, PagesAnchoredToAPageThatStandsTwiceGoNextToEachEntry) {
  ASSERT_EQ(RunScript("set 1000 CurrentPages[6] #1002\n").status, 0);
  const Outcome done =
      Send("InsertPages", Envelope("1000",
                                   "<InsertPages PageId=\"1002\"><Page TemplateId=\"TDS\" "
                                   "TemplatePageId=\"P2\"/><Page TemplateId=\"TDS\" "
                                   "TemplatePageId=\"P1\"/></InsertPages><InsertPages "
                                   "PageId=\"1003\"><Page TemplateId=\"TDS\" "
                                   "TemplatePageId=\"P2\"/></InsertPages>"));
  ASSERT_EQ(done.status, 0) << done.err;
  const Ids pages = Pages();
  ASSERT_EQ(pages.size(), 11u) << Dump({"1000"});
  const std::string first = pages[2], second = pages[3], third = pages[5];
  EXPECT_EQ(pages, (Ids{"1001", "1002", first, second, "1003", third, "1004", "1005", "1002", first,
                        second}));
  EXPECT_EQ(Value(first, "PageId"), "\"P2\"");
  EXPECT_EQ(Value(second, "PageId"), "\"P1\"");
  EXPECT_EQ(Value(third, "PageId"), "\"P2\"");
  EXPECT_EQ(Value("1000", "NumberOfPages"), "8");
}

// A datasheet whose template the library no longer holds: the page
// messages that stand on it fail as a missing template (E_POINTER) instead
// of answering without it, and a summary sheet so left takes no page.
TEST_F(PagesTest, ADatasheetWhoseTemplateLeftTheLibraryFailsThePageMessages) {
  ASSERT_EQ(RunScript("set 1000 TemplateId GONE\nset 2000 TemplateId GONE\n").status, 0);
  const std::string before = Dump({"1000", "1001", "2000"});
  const struct {
    const char* message;
    std::string text;
    const char* datasheet;
  } requests[] = {
      {"InsertPages",
       Envelope("1000",
                "<InsertPages PageId=\"1001\"><Page TemplateId=\"TDS\" TemplatePageId=\"P2\"/>"
                "</InsertPages>"),
       "1000"},
      {"InsertPages",
       Envelope("2000",
                "<InsertPages><Page TemplateId=\"TDS\" TemplatePageId=\"P2\"/></InsertPages>"),
       "2000"},
      {"ListPageObjects", "1001\n", "1000"},
      {"ListTemplatePages", "1000\n", "1000"},
  };
  for (const auto& request : requests) {
    const Outcome failed = Send(request.message, request.text);
    EXPECT_EQ(failed.status, 1) << request.message << " " << request.text << "\n" << failed.out;
    EXPECT_EQ(failed.out.find("<XMLMessage"), std::string::npos) << failed.out;
    EXPECT_EQ(failed.err.rfind(std::string("<KXError Desc=\"The template GONE of datasheet ") +
                                   request.datasheet +
                                   " is not in the template library\" HR=\"E_POINTER\"",
                               0),
              0u)
        << request.message << "\n"
        << failed.err;
  }
  EXPECT_EQ(Dump({"1000", "1001", "2000"}), before);
}

TEST_F(PagesTest, AContinuousListPageTakesTheTemplatesMembersAndIgnoresObjectId) {
  const Outcome done =
      Send("InsertPages", Envelope("1000",
                                   "<InsertPages PageId=\"1005\"><Page TemplateId=\"TDS\" "
                                   "TemplatePageId=\"PL\" ObjectId=\"110\"/></InsertPages>"));
  ASSERT_EQ(done.status, 0) << done.err;
  const Ids pages = Pages();
  ASSERT_EQ(pages.size(), 6u);
  EXPECT_EQ(Value(pages[5], "PageId"), "\"PL\"");
  EXPECT_EQ(Value(pages[5], "PageNumber"), "6");
  EXPECT_EQ(Value(pages[5], "NodeObjects[1]"), "#100");  // a pump of the template, not the motor
  // Placed by page PL's own layout: the pumps are the rows of its "Row"
  // node, none stands on its "Sheet" node (a document's).
  EXPECT_EQ(Value(pages[5], "NodeIndices[1]"), "(empty)");
  EXPECT_EQ(Value(pages[5], "NodeIndices[2]"), "1");
  EXPECT_EQ(Value(pages[5], "NodeObjects[4]"), "#103");
  EXPECT_EQ(Value("1000", "HasSummary"), "1");
}

// A list page made from a template's third page takes its rows by that
// page's layout, as it would were the page the template's first: the
// sample plant's pump datasheet with a list page P3 after P1 and P2 (the
// globals object in its header, the pumps as rows).
TEST_F(PagesTest, AListPageFromALaterTemplatePageTakesItsRows) {
  std::ifstream file(std::string(KXQHOST_SOURCE_DIR) + "/examples/plant.xml");
  std::stringstream text;
  text << file.rdbuf();
  std::string plant = text.str();
  const size_t end = plant.find("    </template>", plant.find("<template id=\"PUMP-DS\""));
  ASSERT_NE(end, std::string::npos);
  plant.insert(end,
               "      <page id=\"P3\" name=\"Pump list\" continuous=\"rows=25\">\n"
               "        <node name=\"Header\" index=\"0\" classes=\"GlobalsClass\">\n"
               "          <field id=\"301\" type=\"String\" attribute=\"Name\" case=\"0\"/>\n"
               "        </node>\n"
               "        <node name=\"Pumps\" index=\"1\" classes=\"Pump\" repeats=\"true\">\n"
               "          <field id=\"302\" type=\"String\" attribute=\"Name\" case=\"0\"/>\n"
               "        </node>\n"
               "      </page>\n");
  std::remove(Store().c_str());
  const Outcome made = Host({"init", "--fixture", "-"}, plant);
  ASSERT_EQ(made.status, 0) << made.err;
  const Outcome done = Send("InsertPages", Envelope("1001",
                                                    "<InsertPages PageId=\"1012\"><Page "
                                                    "TemplateId=\"PUMP-DS\" TemplatePageId=\"P3\"/>"
                                                    "</InsertPages>"));
  ASSERT_EQ(done.status, 0) << done.err;
  const std::vector<std::string> pages = Pages("1001");
  ASSERT_EQ(pages.size(), 3u);
  EXPECT_EQ(Value(pages[2], "PageId"), "\"P3\"");
  EXPECT_EQ(Value(pages[2], "NodeObjects[1]"), "#1");
  EXPECT_EQ(Value(pages[2], "NodeIndices[2]"), "2");
  EXPECT_EQ(Value(pages[2], "NodeObjects[7]"), "#106");
  const Outcome page = Host({"request", "OpenPage", "-"}, pages[2]);
  ASSERT_EQ(page.status, 0) << page.err;
  EXPECT_NE(page.out.find("FieldId=\"302\" Alignment=\"0\" VerticalAlignment=\"0\" "
                          "State=\"256\" Value=\"P-101A\" Index=\"0\"/>"),
            std::string::npos)
      << page.out;
  EXPECT_NE(page.out.find("Value=\"P-104\" Index=\"5\"/>"), std::string::npos) << page.out;
}

// One alert for the whole request, however many "InsertPages" elements and
// pages it holds.
TEST_F(PagesTest, ASummarySheetRefusesPagesWithOneAlert) {
  const Outcome done =
      Send("InsertPages", Envelope("2000",
                                   "<InsertPages><Page TemplateId=\"TDS\" TemplatePageId=\"P2\"/>"
                                   "<Page TemplateId=\"TDS\" TemplatePageId=\"P1\"/></InsertPages>"
                                   "<InsertPages><Page TemplateId=\"TDS\" TemplatePageId=\"P2\"/>"
                                   "</InsertPages>"));
  ASSERT_EQ(done.status, 0) << done.err;
  EXPECT_EQ(done.out.rfind(
                "<XMLMessage TargetId=\"App\"><Message MessageType=\"ALERT\">Pages cannot be added "
                "to summary sheets.</Message></XMLMessage>\n",
                0),
            0u)
      << done.out;
  // One reply; the other "XMLMessage" is the datasheet event's.
  EXPECT_EQ(Count(done.out, "<XMLMessage"), 2) << done.out;
  EXPECT_NE(done.out.find("== event Datasheet [D1 2000] to alice\n<?xml version=\"1.0\"?>"
                          "<XMLMessage TargetId=\"2000\" Status=\"1\"><Datasheet "),
            std::string::npos)
      << done.out;
  EXPECT_TRUE(Pages("2000").empty());
  EXPECT_EQ(Value("2000", "NumberOfPages"), "0");
}

TEST_F(PagesTest, DeletePageClosesUpTheNumbers) {
  const Outcome done = Send("DeletePage", "  1002");
  ASSERT_EQ(done.status, 0) << done.err;
  EXPECT_NE(done.out.find(kDatasheetEvent), std::string::npos) << done.out;
  const Ids pages = Pages();
  EXPECT_EQ(pages, (Ids{"1001", "1003", "1004", "1005"}));
  EXPECT_EQ(Numbers(pages), (Ids{"1", "2", "3", "4"}));
  EXPECT_EQ(Value("1000", "NumberOfPages"), "4");
}

TEST_F(PagesTest, DeletePageRefusesAnythingButACurrentPage) {
  const std::string before = Dump({"1000", "1001", "1006", "100"});
  for (const std::string request : {"1006", "100", "1000", "99999", "abc", "", "-1001"}) {
    const Outcome refused = Send("DeletePage", request);
    EXPECT_EQ(refused.status, 1) << request;
    EXPECT_EQ(refused.err.rfind("<KXError ", 0), 0u) << refused.err;
    EXPECT_EQ(refused.out, kNothingCurrent) << request;
  }
  const Outcome issued = Send("DeletePage", "1006");
  EXPECT_NE(issued.err.find("Object 1006 is not a current page of a datasheet"), std::string::npos)
      << issued.err;
  EXPECT_EQ(Dump({"1000", "1001", "1006", "100"}), before);
}

TEST_F(PagesTest, MovePageBeforeAfterAtTheEndsAndOntoItself) {
  auto move = [&](const std::string& page, const std::string& anchor, bool before) {
    const Outcome done = Send(
        "MovePage", Envelope("1000", "<MovePage MovePageId=\"" + page + "\" PageId=\"" + anchor +
                                         "\" Before=\"" + (before ? "1" : "0") + "\"/>"));
    EXPECT_EQ(done.status, 0) << done.err;
    EXPECT_NE(done.out.find(kDatasheetEvent), std::string::npos) << done.out;
  };
  move("1002", "1004", false);
  EXPECT_EQ(Pages(), (Ids{"1001", "1003", "1004", "1002", "1005"}));
  EXPECT_EQ(Numbers(Pages()), (Ids{"1", "2", "3", "4", "5"}));
  move("1004", "1003", true);
  EXPECT_EQ(Pages(), (Ids{"1001", "1004", "1003", "1002", "1005"}));
  move("1005", "1001", true);
  EXPECT_EQ(Pages(), (Ids{"1005", "1001", "1004", "1003", "1002"}));
  move("1005", "1002", false);
  EXPECT_EQ(Pages(), (Ids{"1001", "1004", "1003", "1002", "1005"}));
  EXPECT_EQ(Numbers(Pages()), (Ids{"1", "2", "3", "4", "5"}));
  // Onto itself: nothing moves, the event still goes out.
  move("1003", "1003", false);
  EXPECT_EQ(Pages(), (Ids{"1001", "1004", "1003", "1002", "1005"}));
  EXPECT_EQ(Numbers(Pages()), (Ids{"1", "2", "3", "4", "5"}));
}

// A page may stand in another page list too ("IssuedPages" here, written
// there last). Moving pages takes them out of the current pages only: the
// other list keeps its page.
TEST_F(PagesTest, MovingPagesLeavesTheOtherListsOfAPageAsTheyWere) {
  std::ifstream file(std::string(KXQHOST_TEST_DATA) + "/pages-plant.xml");
  std::stringstream text;
  text << file.rdbuf();
  std::string fixture = text.str();
  const std::string issued = "<value attribute=\"IssuedPages\" ref=\"1006\"/>";
  const size_t at = fixture.find(issued);
  ASSERT_NE(at, std::string::npos);
  fixture.insert(at + issued.size(), "<value attribute=\"IssuedPages\" ref=\"1003\"/>");
  const std::string path = Store() + ".xml";
  std::ofstream(path) << fixture;
  for (const char* end : {"", "-wal", "-shm"}) std::remove((Store() + end).c_str());
  const Outcome made = Host({"init", "--fixture", path});
  ASSERT_EQ(made.status, 0) << made.err;

  const Outcome moved =
      Send("MovePage", Envelope("1000", "<MovePage MovePageId=\"1001\" PageId=\"1005\"/>"));
  ASSERT_EQ(moved.status, 0) << moved.err;
  EXPECT_EQ(Pages(), (Ids{"1002", "1003", "1004", "1005", "1001"}));
  EXPECT_EQ(Numbers(Pages()), (Ids{"1", "2", "3", "4", "5"}));
  const std::string datasheet = Dump({"1000"});
  EXPECT_NE(datasheet.find("IssuedPages[1] = #1006\nIssuedPages[2] = #1003\n"), std::string::npos)
      << datasheet;
  const Outcome inserted = Send(
      "InsertPages", Envelope("1000",
                              "<InsertPages PageId=\"1002\" Before=\"1\">"
                              "<Page TemplateId=\"TDS\" TemplatePageId=\"P2\"/></InsertPages>"));
  ASSERT_EQ(inserted.status, 0) << inserted.err;
  EXPECT_EQ(Numbers(Pages()), (Ids{"1", "2", "3", "4", "5", "6"}));
  EXPECT_NE(Dump({"1000"}).find("IssuedPages[2] = #1003\n"), std::string::npos);
}

TEST_F(PagesTest, MovePageRefusesAPageOfAnotherList) {
  const std::string before = Dump({"1000", "3000"});
  for (const std::string body : {"<MovePage MovePageId=\"1006\" PageId=\"1001\"/>",
                                 "<MovePage MovePageId=\"3001\" PageId=\"1001\"/>",
                                 "<MovePage MovePageId=\"100\" PageId=\"1001\"/>"}) {
    const Outcome refused = Send("MovePage", Envelope("1000", body));
    EXPECT_EQ(refused.status, 1) << body;
    EXPECT_EQ(refused.err.rfind("<KXError ", 0), 0u) << refused.err;
  }
  EXPECT_EQ(Dump({"1000", "3000"}), before);
}

TEST_F(PagesTest, RenamePageStoresTheNameAsGiven) {
  const Outcome done = Send(
      "RenamePage", Envelope("1000", "<RenamePage PageId=\"1002\" Name=\" Sheet %d of %s%n \"/>"));
  ASSERT_EQ(done.status, 0) << done.err;
  EXPECT_NE(done.out.find(kDatasheetEvent), std::string::npos) << done.out;
  EXPECT_EQ(Value("1002", "Name"), "\" Sheet %d of %s%n \"");
  const Outcome refused =
      Send("RenamePage", Envelope("1000", "<RenamePage PageId=\"100\" Name=\"x\"/>"));
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(Value("100", "Name"), "(none)");
}

// The page names of the datasheet event: an unset "PageNumber" reads as 0,
// "Unnamed" is only for -1.
TEST_F(PagesTest, APageWithoutNameOrNumberShowsZeroAndOnlyMinusOneIsUnnamed) {
  const Outcome done = RunScript(
      "set 1002 PageNumber\n"
      "set 1003 PageNumber\n"
      "set 1004 PageNumber -1\n" +
      Rename("1002", "Sheet %d"));
  ASSERT_EQ(done.status, 0) << done.err;
  EXPECT_NE(done.out.find("<Page PageId=\"1002\" Name=\"Sheet 0\" "), std::string::npos)
      << done.out;
  EXPECT_NE(done.out.find("<Page PageId=\"1003\" Name=\"0\" "), std::string::npos) << done.out;
  EXPECT_NE(done.out.find("<Page PageId=\"1004\" Name=\"Unnamed\" "), std::string::npos)
      << done.out;
}

// A formatted name fits a buffer of the name's length plus 8 characters,
// its terminator included: at most length + 7 characters are shown.
TEST_F(PagesTest, AFormattedPageNameShowsAtMostItsLengthAndSevenCharacters) {
  const Outcome done = RunScript(
      "set 1004 PageNumber 1234567890\n"
      "set 1005 PageNumber 1234567890\n" +
      Rename("1002", "Page %d") + Rename("1004", "Sheet %12d") + Rename("1005", "%d"));
  ASSERT_EQ(done.status, 0) << done.err;
  const size_t last = done.out.rfind("== event Datasheet");
  ASSERT_NE(last, std::string::npos) << done.out;
  const std::string event = done.out.substr(last);
  EXPECT_NE(event.find("<Page PageId=\"1002\" Name=\"Page 2\" "), std::string::npos) << event;
  EXPECT_NE(event.find("<Page PageId=\"1004\" Name=\"Sheet   123456789\" "), std::string::npos)
      << event;
  EXPECT_NE(event.find("<Page PageId=\"1005\" Name=\"123456789\" "), std::string::npos) << event;
}

TEST_F(PagesTest, SetPageCaseWritesOnceAndThenDoesNothing) {
  Outcome done = Send("SetPageCase", Envelope("", "<SetPageCase PageId=\"1003\" CaseId=\"2\"/>"));
  ASSERT_EQ(done.status, 0) << done.err;
  EXPECT_NE(done.out.find("== store changed #1003: Cases"), std::string::npos) << done.out;
  EXPECT_NE(done.out.find("== event Datasheet [P1 1003] to alice"), std::string::npos) << done.out;
  EXPECT_EQ(Value("1003", "Cases[1]"), "2");
  done = Send("SetPageCase", Envelope("", "<SetPageCase PageId=\"1003\" CaseId=\"2\"/>"));
  ASSERT_EQ(done.status, 0) << done.err;
  EXPECT_EQ(done.out, kNothingCurrent);
}

TEST_F(PagesTest, PageLayoutWritesEachValueWithItsType) {
  const Outcome done = Send(
      "PageLayout",
      Envelope("1000",
               "<PageLayout Orientation=\"2\" PageId=\"1001\" ScaleMode=\"1\" ScaleFactor=\"1.25\" "
               "CenterHorizontal=\"1\" CenterVertical=\"false\" TopMargin=\"10\" LeftMargin=\"11\" "
               "BottomMargin=\"12\" RightMargin=\"13\" PaperSize=\"9\" PaperWidth=\"210\" "
               "PaperLength=\"297\" PaperSource=\"7\"/>"));
  ASSERT_EQ(done.status, 0) << done.err;
  EXPECT_EQ(Count(done.out, "== event"), 1);
  EXPECT_NE(done.out.find(kDatasheetEvent), std::string::npos) << done.out;
  EXPECT_EQ(Value("1001", "Orientation"), "(none)");  // it came before "PageId"
  EXPECT_EQ(Value("1001", "ScaleMode"), "1");
  EXPECT_EQ(Value("1001", "ScaleFactor"), "1.25");
  EXPECT_EQ(Value("1001", "CenterHorizontal"), "true");
  EXPECT_EQ(Value("1001", "CenterVertical"), "false");
  EXPECT_EQ(Value("1001", "RightMargin"), "13");
  EXPECT_EQ(Value("1001", "PaperSource"), "7");
}

TEST_F(PagesTest, AFailedRequestChangesNothingAndRaisesNoEvent) {
  const std::string before = Dump({"1000", "1001", "1002", "1003"});
  // The second page names no template: the first page goes with it.
  const Outcome failed =
      Send("InsertPages",
           Envelope("1000",
                    "<InsertPages PageId=\"1001\"><Page TemplateId=\"TDS\" TemplatePageId=\"P2\"/>"
                    "<Page TemplateId=\"NOPE\" TemplatePageId=\"P2\"/></InsertPages>"));
  EXPECT_EQ(failed.status, 1);
  EXPECT_NE(failed.err.find("Unable to find template NOPE"), std::string::npos) << failed.err;
  EXPECT_EQ(failed.out.find("== event"), std::string::npos) << failed.out;
  EXPECT_EQ(Dump({"1000", "1001", "1002", "1003"}), before);
}

TEST_F(PagesTest, MalformedAndHostileRequestsFailAndChangeNothing) {
  const std::string before = Dump({"1000", "1001", "1002", "1003", "1004", "1005"});
  const struct {
    const char* message;
    std::string text;
  } requests[] = {
      {"InsertPages",
       "<XMLMessage TargetId=\"1000\"><InsertPages PageId=\"1001\"><Page TemplateId=\"TDS\""},
      {"InsertPages",
       Envelope(
           "1000",
           "<InsertPages><Page TemplateId=\"TDS\" TemplatePageId=\"P2\"></Pages></InsertPages>")},
      {"InsertPages",
       Envelope("1000",
                "<InsertPages><Page TemplateId=\"TDS\" TemplateId=\"TDS\"/></InsertPages>")},
      {"InsertPages",
       Envelope("1000",
                "<InsertPages><Page TemplateId=\"TDS\" TemplatePageId=\"P9\"/></InsertPages>")},
      {"InsertPages",
       Envelope("abc",
                "<InsertPages><Page TemplateId=\"TDS\" TemplatePageId=\"P2\"/></InsertPages>")},
      {"InsertPages", "<!DOCTYPE x [<!ENTITY a \"b\">]><XMLMessage/>"},
      {"MovePage",
       Envelope("1000", "<MovePage MovePageId=\"1002\" PageId=\"1003\">&bogus;</MovePage>")},
      {"MovePage", Envelope("1001", "<MovePage MovePageId=\"1002\" PageId=\"1003\"/>")},
      {"RenamePage", "<XMLMessage><RenamePage PageId=\"1002\" Name=\"x\""},
      {"RenamePage", Envelope("1000", "<RenamePage PageId=\"99999\" Name=\"x\"/>")},
      {"SetPageCase", Envelope("", "<SetPageCase PageId=\"1000\" CaseId=\"2\"/>")},
      {"PageLayout",
       Envelope("1000", "<PageLayout PageId=\"1001\" PaperSize=\"9\" ScaleFactor=\"big\"/>")},
      {"PageLayout", Envelope("1000", "<PageLayout PageId=\"100\" PaperSize=\"9\"/>")},
      {"DeletePage", "<XMLMessage/>"},
  };
  for (const auto& request : requests) {
    const Outcome failed = Send(request.message, request.text);
    EXPECT_EQ(failed.status, 1) << request.message << " " << request.text << "\n" << failed.out;
    EXPECT_EQ(failed.err.rfind("<KXError ", 0), 0u) << request.text << "\n" << failed.err;
  }
  EXPECT_EQ(Dump({"1000", "1001", "1002", "1003", "1004", "1005"}), before);
}

TEST_F(PagesTest, ProcessSummarySheetFillsBothKindsOfSummarySheet) {
  // Page per member: one page for each pump the root project claims.
  Outcome done =
      Host({"--events", "service", "10", "2000", "ProcessSummarySheet", "template:TSUM", "#2000"});
  ASSERT_EQ(done.status, 0) << done.err;
  EXPECT_EQ(Count(done.out, "== event Datasheet [D1 2000] to alice"), 1) << done.out;
  const Ids pages = Pages("2000");
  ASSERT_EQ(pages.size(), 3u);
  EXPECT_EQ(Value("2000", "NumberOfPages"), "3");
  EXPECT_EQ(Value(pages[0], "NodeObjects[1]"), "#100");
  EXPECT_EQ(Value(pages[2], "NodeObjects[1]"), "#102");
  EXPECT_EQ(Numbers(pages), (Ids{"1", "2", "3"}));

  // Continuous list: the members become rows of the first page.
  done = Host({"service", "10", "2000", "ProcessSummarySheet", "template:TLIST", "#3000"});
  ASSERT_EQ(done.status, 0) << done.err;
  EXPECT_EQ(Value("3001", "NodeIndices[2]"), "2");
  EXPECT_EQ(Value("3001", "NodeObjects[4]"), "#102");
  EXPECT_EQ(Value("3001", "NodeObjects[5]"), "(none)");
  EXPECT_EQ(Value("3001", "Fields[7]"), "(empty)");  // 3 template fields + 2 per further row
  EXPECT_EQ(Value("3001", "Fields[8]"), "(none)");
  EXPECT_EQ(Value("3001", "Revisions[7]"), "(empty)");
  EXPECT_EQ(Value("3001", "Revisions[8]"), "(none)");

  const Outcome bad = Host({"service", "10", "2000", "ProcessSummarySheet", "1", "2"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("<KXError "), std::string::npos) << bad.err;
}

}  // namespace
