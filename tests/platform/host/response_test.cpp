// The response as modules drive it: the reply text for the protocol's
// awkward cases, value rendering and escaping.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>

#include "host/reply.h"
#include "test_util.h"

namespace kx::host::test {
namespace {

using test::Bstr;
using test::U8;
using test::Var;

class ResponseTest : public ::testing::Test {
 protected:
  Ref<IKXQXMLAttributes> NewList(IKXQResponse* from) {
    IKXQXMLAttributes* raw = nullptr;
    EXPECT_EQ(S_OK, from->NewAttributes(&raw));
    return Ref<IKXQXMLAttributes>::Adopt(raw);
  }
  std::string Text() const { return U8(response_->text()); }
  // A folder of the test's own in the temporary folder, made empty; removed
  // when the test ends, however it ends.
  std::string Folder() {
    folder_ = std::filesystem::path(::testing::TempDir()) /
              ("kxhost_response_" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
    return folder_.string();
  }
  void TearDown() override {
    if (!folder_.empty()) std::filesystem::remove_all(folder_);
  }

  Ref<Response> response_ = MakeRef<Response>();
  std::filesystem::path folder_;
};

TEST_F(ResponseTest, ReplyStartsAtFirstElementWithoutBegin) {
  auto list = NewList(response_.get());
  Var target = Var::Str(u"App");
  ASSERT_EQ(S_OK, list->Add(Bstr(u"TargetId"), *target));
  ASSERT_EQ(S_OK, response_->StartElement(Bstr(u"XMLMessage"), list.get()));
  ASSERT_EQ(S_OK, list->Clear());
  ASSERT_EQ(S_OK, response_->WriteElement(Bstr(u"Message"), list.get(), Bstr(u"Hi")));
  ASSERT_EQ(S_OK, response_->EndElement(Bstr(u"XMLMessage")));
  ASSERT_EQ(S_OK, response_->EndReply());
  EXPECT_FALSE(response_->begun());
  EXPECT_EQ(R"(<XMLMessage TargetId="App"><Message>Hi</Message></XMLMessage>)", Text());
}

TEST_F(ResponseTest, BeginChangesNothingInTheText) {
  Ref<Response> other = MakeRef<Response>();
  ASSERT_EQ(S_OK, other->BeginXMLReply());
  ASSERT_EQ(S_OK, other->BeginXMLReply());
  ASSERT_EQ(S_OK, other->WriteElement(Bstr(u"A"), nullptr, nullptr));
  ASSERT_EQ(S_OK, response_->WriteElement(Bstr(u"A"), nullptr, nullptr));
  EXPECT_EQ(other->text(), response_->text());
  EXPECT_EQ("<A/>", Text());
}

TEST_F(ResponseTest, EndReplyTwiceIsHarmlessAndClosesOpenElements) {
  ASSERT_EQ(S_OK, response_->StartElement(Bstr(u"XMLMessage"), nullptr));
  ASSERT_EQ(S_OK, response_->StartElement(Bstr(u"Datasheet"), nullptr));
  ASSERT_EQ(S_OK, response_->EndReply());
  ASSERT_EQ(S_OK, response_->EndReply());
  EXPECT_EQ("<XMLMessage><Datasheet></Datasheet></XMLMessage>", Text());
  EXPECT_EQ(2, response_->end_calls());
}

TEST_F(ResponseTest, EndReplyWithNothingWrittenLeavesAnEmptyReply) {
  ASSERT_EQ(S_OK, response_->EndReply());
  EXPECT_EQ("", Text());
}

TEST_F(ResponseTest, AttributeListOfAnEarlierResponseWorksWithALaterOne) {
  Ref<Response> first = MakeRef<Response>();
  auto list = NewList(first.get());
  first->Finish(true);
  first = nullptr;  // the list outlives the response that made it
  Var id = Var::I4(42);
  ASSERT_EQ(S_OK, list->Add(Bstr(u"DocumentId"), *id));
  ASSERT_EQ(S_OK, response_->WriteElement(Bstr(u"Page"), list.get(), nullptr));
  EXPECT_EQ(R"(<Page DocumentId="42"/>)", Text());
}

TEST_F(ResponseTest, SendTextIsSplicedBetweenElementsUnescaped) {
  ASSERT_EQ(S_OK, response_->StartElement(Bstr(u"XMLMessage"), nullptr));
  ASSERT_EQ(S_OK, response_->WriteElement(Bstr(u"Before"), nullptr, nullptr));
  ASSERT_EQ(S_OK, response_->SendText(Bstr(u"<Page Name=\"P&amp;1\"/>")));
  ASSERT_EQ(S_OK, response_->WriteElement(Bstr(u"After"), nullptr, nullptr));
  ASSERT_EQ(S_OK, response_->EndReply());
  EXPECT_EQ(R"(<XMLMessage><Before/><Page Name="P&amp;1"/><After/></XMLMessage>)", Text());
}

TEST_F(ResponseTest, AttributeValuesOfEveryType) {
  auto list = NewList(response_.get());
  Var yes = Var::Bool(true), no = Var::Bool(false), count = Var::I4(-7), real = Var::R8(0.1),
      big = Var::R8(1e21), text = Var::Str(u"x");
  ASSERT_EQ(S_OK, list->Add(Bstr(u"Yes"), *yes));
  ASSERT_EQ(S_OK, list->Add(Bstr(u"No"), *no));
  ASSERT_EQ(S_OK, list->Add(Bstr(u"Count"), *count));
  ASSERT_EQ(S_OK, list->Add(Bstr(u"Real"), *real));
  ASSERT_EQ(S_OK, list->Add(Bstr(u"Big"), *big));
  ASSERT_EQ(S_OK, list->Add(Bstr(u"Text"), *text));
  ASSERT_EQ(S_OK, response_->WriteElement(Bstr(u"E"), list.get(), nullptr));
  EXPECT_EQ(R"(<E Yes="1" No="0" Count="-7" Real="0.1" Big="1e+21" Text="x"/>)", Text());
}

TEST_F(ResponseTest, ValueHeldByReferenceIsWrittenAsItsValue) {
  auto list = NewList(response_.get());
  LONG number = 12;
  VARIANT by_ref;
  VariantInit(&by_ref);
  by_ref.vt = VT_BYREF | VT_I4;
  by_ref.plVal = &number;
  ASSERT_EQ(S_OK, list->Add(Bstr(u"N"), by_ref));
  ASSERT_EQ(S_OK, response_->WriteElement(Bstr(u"E"), list.get(), nullptr));
  EXPECT_EQ(R"(<E N="12"/>)", Text());
}

TEST_F(ResponseTest, RealsUseAPointWhateverTheLocale) {
  const char* previous = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = previous ? previous : "C";
  if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) GTEST_SKIP() << "no German locale here";
  auto list = NewList(response_.get());
  Var real = Var::R8(2.5);
  ASSERT_EQ(S_OK, list->Add(Bstr(u"V"), *real));
  ASSERT_EQ(S_OK, response_->WriteElement(Bstr(u"E"), list.get(), nullptr));
  std::setlocale(LC_NUMERIC, saved.c_str());
  EXPECT_EQ(R"(<E V="2.5"/>)", Text());
}

TEST_F(ResponseTest, NullBstrValueIsEmptyAndUnsupportedTypeIsRefused) {
  auto list = NewList(response_.get());
  Var null_text;
  (*null_text).vt = VT_BSTR;
  (*null_text).bstrVal = nullptr;
  ASSERT_EQ(S_OK, list->Add(Bstr(u"TargetId"), *null_text));
  Var date;
  (*date).vt = VT_DATE;
  (*date).date = 1.0;
  EXPECT_EQ(DISP_E_BADVARTYPE, list->Add(Bstr(u"When"), *date));
  ASSERT_EQ(S_OK, response_->StartElement(Bstr(u"XMLMessage"), list.get()));
  EXPECT_EQ(R"(<XMLMessage TargetId="">)", Text());
}

TEST_F(ResponseTest, EscapesAttributeValuesAndText) {
  auto list = NewList(response_.get());
  Var value = Var::Str(u"a\"b<c>&d\te\nf");
  ASSERT_EQ(S_OK, list->Add(Bstr(u"Text"), *value));
  ASSERT_EQ(S_OK, response_->WriteElement(Bstr(u"Message"), list.get(),
                                          Bstr(u"Is \"x\" < 3 & y > 2?\n")));
  EXPECT_EQ(
      "<Message Text=\"a&quot;b&lt;c&gt;&amp;d&#9;e&#10;f\">Is \"x\" &lt; 3 &amp; y &gt; 2?\n"
      "</Message>",
      Text());
}

TEST_F(ResponseTest, CharactersXmlCannotCarryBecomeReplacementCharacters) {
  const char16_t text[] = {u'a', 0x0001, 0xD800, u'b', 0xFFFF, 0};
  ASSERT_EQ(S_OK, response_->WriteElement(Bstr(u"T"), nullptr, Bstr(text)));
  EXPECT_EQ(u"<T>a\uFFFD\uFFFDb\uFFFD</T>", response_->text());
}

TEST_F(ResponseTest, ElementTextGoesIntoTheOpenElementEscaped) {
  ASSERT_EQ(S_OK, response_->StartElement(Bstr(u"Message"), nullptr));
  ASSERT_EQ(S_OK, response_->ElementText(Bstr(u"1 < 2")));
  ASSERT_EQ(S_OK, response_->EndElement(Bstr(u"Message")));
  EXPECT_EQ("<Message>1 &lt; 2</Message>", Text());
}

TEST_F(ResponseTest, ElementIsStartedWithTheListAsItStandsAndTheListIsKept) {
  auto list = NewList(response_.get());
  Var a = Var::I4(1);
  ASSERT_EQ(S_OK, list->Add(Bstr(u"A"), *a));
  ASSERT_EQ(S_OK, response_->WriteElement(Bstr(u"X"), list.get(), nullptr));
  ASSERT_EQ(S_OK, response_->WriteElement(Bstr(u"Y"), list.get(), nullptr));
  EXPECT_EQ(R"(<X A="1"/><Y A="1"/>)", Text());
}

TEST_F(ResponseTest, SameAttributeAddedTwiceIsWrittenOnceWithTheLaterValue) {
  auto list = NewList(response_.get());
  Var first = Var::I4(1), second = Var::I4(2);
  ASSERT_EQ(S_OK, list->Add(Bstr(u"Status"), *first));
  ASSERT_EQ(S_OK, list->Add(Bstr(u"Status"), *second));
  ASSERT_EQ(S_OK, response_->WriteElement(Bstr(u"X"), list.get(), nullptr));
  EXPECT_EQ(R"(<X Status="2"/>)", Text());
}

TEST_F(ResponseTest, BadNamesAndMismatchedEndsAreRefused) {
  auto list = NewList(response_.get());
  Var v = Var::I4(1);
  EXPECT_EQ(E_INVALIDARG, list->Add(Bstr(u"a b"), *v));
  EXPECT_EQ(E_INVALIDARG, list->Add(Bstr(u""), *v));
  EXPECT_EQ(E_INVALIDARG, response_->StartElement(Bstr(u"1st"), nullptr));
  EXPECT_EQ(E_INVALIDARG, response_->WriteElement(Bstr(u"<x"), nullptr, nullptr));
  EXPECT_EQ(E_INVALIDARG, response_->EndElement(Bstr(u"Open")));
  ASSERT_EQ(S_OK, response_->StartElement(Bstr(u"Open"), nullptr));
  EXPECT_EQ(E_INVALIDARG, response_->EndElement(Bstr(u"Other")));
  EXPECT_EQ("<Open>", Text());
}

TEST_F(ResponseTest, ListReusedForManyElementsKeepsOrderEscapingAndReplacedValues) {
  auto list = NewList(response_.get());
  Var one = Var::I4(1), odd = Var::Str(u"x<\"y\">&z"), three = Var::R8(2.5), flag = Var::Bool(true),
      longer = Var::Str(u"a much longer value"), hi = Var::Str(u"\U0001F600\uFFFE");
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(S_OK, list->Clear());
    ASSERT_EQ(S_OK, list->Add(Bstr(u"A"), *one));
    ASSERT_EQ(S_OK, list->Add(Bstr(u"B"), *odd));
    ASSERT_EQ(S_OK, list->Add(Bstr(u"C"), *three));
    ASSERT_EQ(S_OK, list->Add(Bstr(u"D"), *hi));
    ASSERT_EQ(S_OK, list->Add(Bstr(u"A"), *longer));  // replaced in place, later ones move
    ASSERT_EQ(S_OK, list->Add(Bstr(u"C"), *flag));
    ASSERT_EQ(S_OK, response_->WriteElement(Bstr(u"E"), list.get(), nullptr));
  }
  const std::u16string element =
      u"<E A=\"a much longer value\" B=\"x&lt;&quot;y&quot;&gt;&amp;z\" C=\"1\" "
      u"D=\"\U0001F600\uFFFD\"/>";
  EXPECT_EQ(element + element, response_->text());
  BSTR name = nullptr;
  Var value;
  ASSERT_EQ(S_OK, list->GetAttribute(1, &name, value.get()));
  EXPECT_EQ(u"B", std::u16string(name));
  SysFreeString(name);
  EXPECT_EQ(u"x<\"y\">&z", std::u16string((*value).bstrVal));
}

TEST_F(ResponseTest, NamesAreCheckedByWhatTheySayNotWhereTheyStand) {
  auto list = NewList(response_.get());
  Var v = Var::I4(1);
  ASSERT_EQ(S_OK, list->Add(Bstr(u"Status"), *v));
  ASSERT_EQ(S_OK, list->Add(Bstr(u"Name"), *v));
  ASSERT_EQ(S_OK, response_->WriteElement(Bstr(u"Datasheet"), list.get(), nullptr));
  ASSERT_EQ(S_OK, list->Clear());
  // Same lengths, same places, not valid names.
  EXPECT_EQ(E_INVALIDARG, list->Add(Bstr(u"Stat s"), *v));
  ASSERT_EQ(S_OK, list->Add(Bstr(u"Status"), *v));
  EXPECT_EQ(E_INVALIDARG, list->Add(Bstr(u"Na e"), *v));
  EXPECT_EQ(E_INVALIDARG, response_->WriteElement(Bstr(u"Data heet"), list.get(), nullptr));
  ASSERT_EQ(S_OK, response_->WriteElement(Bstr(u"Datasheet"), list.get(), nullptr));
  EXPECT_EQ(R"(<Datasheet Status="1" Name="1"/><Datasheet Status="1"/>)", Text());
}

TEST_F(ResponseTest, EverySpecialCharacterIsFoundWhateverTheLengthAndPlace) {
  auto list = NewList(response_.get());
  for (size_t length = 1; length <= 19; ++length) {
    for (size_t at = 0; at < length; ++at) {
      std::u16string text(length, u'v');
      text[at] = u'<';
      std::u16string name(length, u'n');
      ASSERT_EQ(S_OK, list->Clear());
      Var value = Var::Str(text), plain = Var::Str(u"\uE000" + std::u16string(length, u'p'));
      ASSERT_EQ(S_OK, list->Add(Bstr(name), *plain));
      // A name that differs in one place is another attribute, and one with
      // a space there is no name at all.
      name[at] = u'm';
      ASSERT_EQ(S_OK, list->Add(Bstr(name), *value));
      name[at] = u' ';
      EXPECT_EQ(E_INVALIDARG, list->Add(Bstr(name), *value)) << length << " " << at;
      const size_t before = response_->text().size();
      ASSERT_EQ(S_OK, response_->WriteElement(Bstr(u"E"), list.get(), nullptr));
      std::u16string expected_name(length, u'n');
      std::u16string other_name = expected_name;
      other_name[at] = u'm';
      std::u16string escaped = text;
      escaped.replace(at, 1, u"&lt;");
      EXPECT_EQ(u"<E " + expected_name + u"=\"\uE000" + std::u16string(length, u'p') + u"\" " +
                    other_name + u"=\"" + escaped + u"\"/>",
                response_->text().substr(before))
          << length << " " << at;
    }
  }
}

// A list of another implementation holding given texts: the host formats
// and escapes each of them as it reads it.
class TextList final : public internal::DispatchObject<IKXQXMLAttributes> {
 public:
  std::vector<std::pair<std::u16string, std::u16string>> items;
  // As a list takes a name again: the value replaced in its place.
  void Set(const std::u16string& name, const std::u16string& text) {
    auto same = std::find_if(items.begin(), items.end(),
                             [&](const auto& item) { return item.first == name; });
    if (same != items.end()) {
      same->second = text;
    } else {
      items.emplace_back(name, text);
    }
  }
  HRESULT Add(BSTR, VARIANT) override { return E_NOTIMPL; }
  HRESULT Clear() override { return S_OK; }
  HRESULT get_Count(LONG* count) override {
    *count = static_cast<LONG>(items.size());
    return S_OK;
  }
  HRESULT GetAttribute(LONG index, BSTR* name, VARIANT* value) override {
    const auto& [key, text] = items[static_cast<size_t>(index)];
    *name = SysAllocStringLen(key.data(), static_cast<UINT>(key.size()));
    value->vt = VT_BSTR;
    value->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return S_OK;
  }
};

TEST_F(ResponseTest, OwnListIsWrittenAsAListReadThroughItsInterface) {
  const char16_t alphabet[] = {u'a',   u'Z',   u'0',   u' ',   u'&',   u'<',  u'>',
                               u'"',   u'\t',  u'\n',  u'\r',  0x01,   0x7F,  0xE9,
                               0xD7FF, 0xD800, 0xDC00, 0xE000, 0xFFFE, 0xFFFF};
  const std::u16string names[] = {u"A", u"Status", u"Name", u"Case", u"DatasheetCategory"};
  std::mt19937 random(5);
  auto list = NewList(response_.get());
  Ref<Response> reference = MakeRef<Response>();
  for (int element = 0; element < 300; ++element) {
    ASSERT_EQ(S_OK, list->Clear());
    Ref<TextList> expected = MakeRef<TextList>();
    const int count = static_cast<int>(random() % 7);
    for (int i = 0; i < count; ++i) {
      const std::u16string& name = names[random() % std::size(names)];
      std::u16string text(random() % 20, u'x');
      // Mostly plain, so that one character written otherwise stands out.
      for (char16_t& c : text) {
        if (random() % 8 == 0) c = alphabet[random() % std::size(alphabet)];
      }
      Var value = Var::Str(text);
      ASSERT_EQ(S_OK, list->Add(Bstr(name), *value));
      expected->Set(name, text);
    }
    ASSERT_EQ(S_OK, response_->WriteElement(Bstr(u"E"), list.get(), nullptr));
    ASSERT_EQ(S_OK, reference->WriteElement(Bstr(u"E"), expected.get(), nullptr));
    ASSERT_EQ(reference->text(), response_->text()) << element;
  }
}

TEST_F(ResponseTest, ListWithMoreNamesThanItRemembersStillReplacesAndRefuses) {
  std::mt19937 random(11);
  const auto wide = [](const std::string& text) {
    return std::u16string(text.begin(), text.end());
  };
  auto list = NewList(response_.get());
  Ref<Response> reference = MakeRef<Response>();
  for (int element = 0; element < 40; ++element) {
    ASSERT_EQ(S_OK, list->Clear());
    Ref<TextList> expected = MakeRef<TextList>();
    for (int i = 0; i < 30; ++i) {
      // A hundred names, more than a list remembers as checked.
      const std::u16string name = u"N" + wide(std::to_string(random() % 100));
      const LONG number = static_cast<LONG>(random() % 1000) - 500;
      Var value = random() % 2 ? Var::I4(number) : Var::Str(u"<" + name + u">");
      const std::u16string text =
          (*value).vt == VT_I4 ? wide(std::to_string(number)) : u"<" + name + u">";
      ASSERT_EQ(S_OK, list->Add(Bstr(name), *value));
      EXPECT_EQ(E_INVALIDARG, list->Add(Bstr(name + u" "), *value));
      expected->Set(name, text);
    }
    LONG count = 0;
    ASSERT_EQ(S_OK, list->get_Count(&count));
    EXPECT_EQ(static_cast<LONG>(expected->items.size()), count);
    ASSERT_EQ(S_OK, response_->WriteElement(Bstr(u"E"), list.get(), nullptr));
    ASSERT_EQ(S_OK, reference->WriteElement(Bstr(u"E"), expected.get(), nullptr));
    ASSERT_EQ(reference->text(), response_->text()) << element;
  }
}

TEST_F(ResponseTest, SendFileRecordsPathWithHostSeparatorsAndKind) {
  const std::string folder = Folder();
  std::ofstream(folder + "/Pump.bmp", std::ios::binary) << "BM\x01";
  std::ofstream(folder + "/Pump.xml") << "<Template/>";
  const std::u16string base = *internal::Utf8ToUtf16(folder);
  response_->SetFileFolders({base});
  Var binary = Var::Bool(true), text = Var::Bool(false);
  ASSERT_EQ(S_OK, response_->SendFile(Bstr(base + u"\\Pump.bmp"), *binary));
  ASSERT_EQ(S_OK, response_->SendFile(Bstr(base + u"\\Pump.xml"), *text));
  ASSERT_EQ(2u, response_->files().size());
  EXPECT_EQ((SentFile{base + u"/Pump.bmp", true, "BM\x01"}), response_->files()[0]);
  EXPECT_EQ((SentFile{base + u"/Pump.xml", false, "<Template/>"}), response_->files()[1]);
  Var not_bool = Var::I4(1);
  EXPECT_EQ(DISP_E_TYPEMISMATCH, response_->SendFile(Bstr(base + u"/Pump.bmp"), *not_bool));
}

TEST_F(ResponseTest, FailedRequestDiscardsThePartialReplyAndLaterWritesFail) {
  ASSERT_EQ(S_OK, response_->StartElement(Bstr(u"XMLMessage"), nullptr));
  ASSERT_EQ(S_OK, response_->WriteElement(Bstr(u"Half"), nullptr, nullptr));
  const std::string folder = Folder();
  std::ofstream(folder + "/x.bmp") << "x";
  response_->SetFileFolders({*internal::Utf8ToUtf16(folder)});
  Var binary = Var::Bool(true);
  ASSERT_EQ(S_OK, response_->SendFile(Bstr(*internal::Utf8ToUtf16(folder + "/x.bmp")), *binary));
  response_->Finish(false);
  EXPECT_EQ("", Text());
  EXPECT_TRUE(response_->files().empty());
  EXPECT_EQ(E_UNEXPECTED, response_->WriteElement(Bstr(u"Late"), nullptr, nullptr));
  EXPECT_EQ(E_UNEXPECTED, response_->EndReply());
  EXPECT_EQ("", Text());
}

TEST_F(ResponseTest, ForeignAttributeListIsReadThroughItsInterface) {
  // A list implemented elsewhere: only its interface is known.
  class ForeignList final : public internal::DispatchObject<IKXQXMLAttributes> {
   public:
    HRESULT Add(BSTR, VARIANT) override { return E_NOTIMPL; }
    HRESULT Clear() override { return S_OK; }
    HRESULT get_Count(LONG* count) override {
      *count = 1;
      return S_OK;
    }
    HRESULT GetAttribute(LONG, BSTR* name, VARIANT* value) override {
      *name = SysAllocString(u"Ok");
      value->vt = VT_BOOL;
      value->boolVal = VARIANT_TRUE;
      return S_OK;
    }
  };
  Ref<ForeignList> list = MakeRef<ForeignList>();
  ASSERT_EQ(S_OK, response_->WriteElement(Bstr(u"E"), list.get(), Bstr(u"")));
  EXPECT_EQ(R"(<E Ok="1"></E>)", Text());
}

TEST_F(ResponseTest, GetAttributeGivesNameAndRenderedText) {
  auto list = NewList(response_.get());
  Var v = Var::Bool(false);
  ASSERT_EQ(S_OK, list->Add(Bstr(u"Flag"), *v));
  LONG count = 0;
  ASSERT_EQ(S_OK, list->get_Count(&count));
  ASSERT_EQ(1, count);
  BSTR name = nullptr;
  Var value;
  ASSERT_EQ(S_OK, list->GetAttribute(0, &name, value.get()));
  EXPECT_EQ(u"Flag", std::u16string(name));
  SysFreeString(name);
  ASSERT_EQ(VT_BSTR, (*value).vt);
  EXPECT_EQ(u"0", std::u16string((*value).bstrVal));
  EXPECT_EQ(E_INVALIDARG, list->GetAttribute(1, &name, value.get()));
  EXPECT_EQ(nullptr, name);
}

TEST(RequestContextTest, GivesItsResponseAndCollectsReports) {
  Ref<Response> response = MakeRef<Response>();
  Ref<RequestContext> context = MakeRef<RequestContext>(response);
  IKXQResponse* got = nullptr;
  ASSERT_EQ(S_OK, context->get_Response(&got));
  EXPECT_EQ(static_cast<IKXQResponse*>(response.get()), got);
  got->Release();
  EXPECT_EQ(S_OK, context->NotifyFormatChange());
  int storage = 0;
  EXPECT_EQ(S_OK, context->RegisterLoadStorage(&storage));
  EXPECT_EQ(S_OK, context->Report(Bstr(u"PostIssueDocument KB failed.")));
  ASSERT_EQ(1u, context->reports().size());
  EXPECT_EQ(u"PostIssueDocument KB failed.", context->reports()[0]);
}

}  // namespace
}  // namespace kx::host::test
