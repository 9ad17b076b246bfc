// Typed attribute access and the store wrappers against a real store.
#include <gtest/gtest.h>
#include <string>
#include <utility>

#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "support/modelfixture.h"

using namespace KXDBDatasheetSvcs;
using kx::test::model::FirstDesc;
using kx::test::model::ModelStore;

namespace {

class AttributesTest : public ::testing::Test {
 protected:
  IKXQAttributePtr Attr(LONG id, const char16_t* name) {
    IKXQAttributePtr attribute;
    GetAttributeInterface(store.Object(id), name, attribute);
    EXPECT_TRUE(attribute != nullptr);
    return attribute;
  }
  ModelStore store;
};

TEST_F(AttributesTest, MissingValuesGiveDefaultsWithoutFlag) {
  bool has = true;
  EXPECT_FALSE(GetAttributeBoolean(Attr(101, u"Running"), &has));
  EXPECT_FALSE(has);
  has = true;
  EXPECT_EQ(GetAttributeIntegerAt(Attr(101, u"Ratings"), 4, &has), 0);
  EXPECT_FALSE(has);
  has = true;
  EXPECT_EQ(GetAttributeReal(Attr(101, u"Flow"), nullptr, &has), 0.0);
  EXPECT_FALSE(has);
  IKXQObjectPtr object;
  GetAttributeObjectAt(Attr(101, u"Parts"), object, 3);
  EXPECT_TRUE(object == nullptr);
  _bstr_t text(u"stale");
  has = true;
  GetAttributeValueString(Attr(101, u"CreatedReason"), text, &has);
  EXPECT_EQ(static_cast<const OLECHAR*>(text), nullptr);
  EXPECT_FALSE(has);
}

TEST_F(AttributesTest, TextValuesCoerceToBooleanIntegerAndReal) {
  IKXQAttributePtr tag = Attr(101, u"Tag");
  SetAttributeString(tag, u"Yes");
  bool has = false;
  EXPECT_TRUE(GetAttributeBoolean(tag, &has));
  EXPECT_TRUE(has);
  SetAttributeString(tag, u"7");
  EXPECT_EQ(GetAttributeAsInteger(tag, &has), 7);
  EXPECT_TRUE(has);
  SetAttributeString(tag, u"2.5");
  EXPECT_DOUBLE_EQ(GetAttributeReal(tag, nullptr, &has), 2.5);
}

TEST_F(AttributesTest, CoercionFailuresCarryTheirTexts) {
  IKXQAttributePtr tag = Attr(101, u"Tag");
  SetAttributeString(tag, u"maybe");
  try {
    (void)GetAttributeBoolean(tag);
    FAIL() << "no failure";
  } catch (const KXComException& e) {
    EXPECT_TRUE(FAILED(e.hr));
    EXPECT_EQ(FirstDesc(e), "Cannot coerce attribute to a Boolean");
  }
  try {
    (void)GetAttributeAsInteger(tag);
    FAIL() << "no failure";
  } catch (const KXComException& e) {
    EXPECT_EQ(FirstDesc(e), "Cannot coerce attribute to an integer");
  }
  try {
    (void)GetAttributeIntegerAt(tag, 1);
    FAIL() << "no failure";
  } catch (const KXComException& e) {
    EXPECT_EQ(FirstDesc(e), "Cannot coerce attribute to an integer");
  }
  try {
    IKXQObjectPtr object;
    GetAttributeObject(tag, object);
    FAIL() << "no failure";
  } catch (const KXComException& e) {
    EXPECT_EQ(e.hr, DISP_E_TYPEMISMATCH);
    EXPECT_EQ(FirstDesc(e), "Cannot coerce attribute value into an object");
  }
}

TEST_F(AttributesTest, TypedValuesRoundTrip) {
  IKXQAttributePtr running = Attr(101, u"Running");
  SetAttributeBoolean(running, true);
  EXPECT_TRUE(GetAttributeBoolean(running));
  _bstr_t text;
  GetAttributeValueString(running, text);
  EXPECT_EQ(kx::test::model::Narrow(text), "1");  // the XML form of a Boolean
  IKXQAttributePtr ratings = Attr(101, u"Ratings");
  SetAttributeIntegerAt(ratings, 3, 42);
  EXPECT_EQ(GetAttributeCount(ratings), 3);
  EXPECT_EQ(GetAttributeIntegerAt(ratings, 3), 42);
  IKXQAttributePtr flow = Attr(101, u"Flow");
  SetAttributeReal(flow, u"l/s", 1.0);
  EXPECT_NEAR(GetAttributeReal(flow, u"m3/h"), 3.6, 1e-9);
  _bstr_t unit;
  GetAttributeUnit(flow, unit);
  EXPECT_FALSE(unit.length() == 0);
}

TEST_F(AttributesTest, EmptyTextHasValueOnlyInTheSingleForm) {
  IKXQAttributePtr tag = Attr(101, u"Tag");
  SetAttributeString(tag, u"");
  _bstr_t text;
  bool has = false;
  GetAttributeValueString(tag, text, &has);
  bool hasAt = true;
  _bstr_t textAt;
  GetAttributeValueStringAt(tag, 1, textAt, &hasAt);
  EXPECT_FALSE(hasAt);
  EXPECT_EQ(textAt.length(), 0u);
  // The store may keep an empty text as a value or as no value; the single
  // form reports a present value either way only when one came back.
  if (has) {
    EXPECT_EQ(text.length(), 0u);
  }
}

TEST_F(AttributesTest, ObjectAttributeSkipsEmptyValuesAndRefusesOtherTypes) {
  IKXQAttributePtr parts = Attr(101, u"Parts");
  SetAttributeObjectAt(parts, 3, store.Object(110));
  SetAttributeObjectAt(parts, 4, store.Object(100));
  IKXQObjectPtr first;
  GetObjectAttribute(store.Object(101), first, u"Parts");
  ASSERT_TRUE(first != nullptr);
  LONG id = 0;
  first->get_Id(&id);
  EXPECT_EQ(id, 110);
  EXPECT_TRUE(AttributeContainsObject(store.Object(101), u"Parts", store.Object(100)));
  EXPECT_FALSE(AttributeContainsObject(store.Object(101), u"Parts", store.Object(102)));
  SetAttributeObjectAt(parts, 3, nullptr);  // frees the slot
  GetObjectAttribute(store.Object(101), first, u"Parts");
  first->get_Id(&id);
  EXPECT_EQ(id, 100);
  try {
    GetObjectAttribute(store.Object(101), first, u"Tag");
    FAIL() << "no failure";
  } catch (const KXComException& e) {
    EXPECT_EQ(e.hr, E_FAIL);
    EXPECT_EQ(FirstDesc(e), "Attribute Tag is not an object attribute");
  }
}

TEST_F(AttributesTest, ResizeInsertsAndRemovesAtTheEnd) {
  IKXQAttributePtr ratings = Attr(101, u"Ratings");
  SetAttributeIntegerAt(ratings, 1, 10);
  SetAttributeIntegerAt(ratings, 2, 20);
  ResizeAttributeValues(ratings, 4);
  EXPECT_EQ(GetAttributeCount(ratings), 4);
  EXPECT_EQ(GetAttributeIntegerAt(ratings, 2), 20);
  ResizeAttributeValues(ratings, 1);
  EXPECT_EQ(GetAttributeCount(ratings), 1);
  EXPECT_EQ(GetAttributeIntegerAt(ratings, 1), 10);
  ResizeAttributeValues(ratings, 0);
  EXPECT_EQ(GetAttributeCount(ratings), 0);
  InsertAttributeValue(ratings, 1);
  EXPECT_EQ(GetAttributeCount(ratings), 1);
  RemoveAttributeValue(ratings, 1);
  EXPECT_EQ(GetAttributeCount(ratings), 0);
}

// Names are passed by address; one buffer filled with one name after
// another is read as each name it holds, longer, shorter or alike at first.
TEST_F(AttributesTest, ANameBufferFilledAgainIsReadAsItsNewName) {
  IKXQObjectPtr pump = store.Object(100);
  char16_t name[16] = {};
  const std::pair<const char16_t*, bool> names[] = {
      {u"Tag", true}, {u"TagX", false},      {u"Tag", true}, {u"Ta", false},
      {u"Tag", true}, {u"ProjectId", false}, {u"Tag", true}};
  for (const auto& [text, has] : names) {
    std::char_traits<char16_t>::copy(name, text, std::char_traits<char16_t>::length(text) + 1);
    EXPECT_EQ(ClassHasAttribute(pump, name), has) << kx::test::model::Narrow(_bstr_t(text));
  }
}

// A writable buffer of the program's own image (not a literal) filled
// again is read as its new name too.
char16_t g_nameBuffer[16] = u"Tag";

TEST_F(AttributesTest, AWritableNameOfTheImageFilledAgainIsReadAsItsNewName) {
  IKXQObjectPtr pump = store.Object(100);
  const std::pair<const char16_t*, bool> names[] = {
      {u"Tag", true}, {u"TagX", false}, {u"Tag", true}, {u"ProjectId", false}, {u"Tag", true}};
  for (const auto& [text, has] : names) {
    std::char_traits<char16_t>::copy(g_nameBuffer, text,
                                     std::char_traits<char16_t>::length(text) + 1);
    EXPECT_EQ(ClassHasAttribute(pump, g_nameBuffer), has) << kx::test::model::Narrow(_bstr_t(text));
  }
}

TEST_F(AttributesTest, ClassTestsFollowInheritanceAndAbsorbNothingElse) {
  IKXQObjectPtr pump = store.Object(100);
  EXPECT_TRUE(IsObjectOfClass(pump, u"genericclass"));
  EXPECT_FALSE(IsObjectOfClass(pump, u"Motor"));
  EXPECT_FALSE(IsObjectOfClass(nullptr, u"Pump"));
  EXPECT_TRUE(ClassHasAttribute(pump, u"Tag"));
  EXPECT_FALSE(ClassHasAttribute(pump, u"ProjectId"));
  IKXQClassPtr cls;
  GetObjectClass(pump, cls);
  EXPECT_TRUE(cls != nullptr);
  GetObjectClass(nullptr, cls);
  EXPECT_TRUE(cls == nullptr);
  _bstr_t name;
  GetObjectName(pump, name, false);
  EXPECT_EQ(kx::test::model::Narrow(name), "P-101");
  IKXQAttributePtr missing;
  GetAttributeInterface(pump, u"NoSuchAttribute", missing);
  EXPECT_TRUE(missing == nullptr);
  EXPECT_THROW(GetAttributeBoolean(nullptr), KXComException);
}

TEST_F(AttributesTest, StoreObjectsAndVariantArguments) {
  IKXQObjectPtr object;
  try {
    GetStoreObject(nullptr, object, 100);
    FAIL() << "no failure";
  } catch (const KXComException& e) {
    EXPECT_EQ(e.hr, E_FAIL);
    EXPECT_EQ(FirstDesc(e), "Do not have access to object store");
  }
  EXPECT_THROW(GetStoreObject(store.database(), object, 9999), KXComException);
  GetStoreObject(store.database(), object, 201);
  IKXQObjectPtr owner;
  GetOwnerObject(object, owner);
  ASSERT_TRUE(owner != nullptr);
  EXPECT_EQ(owner.GetInterfacePtr(), store.Object(200).GetInterfacePtr());

  GetObjectFromVariant(object, _variant_t(0, VT_I4), store.database());
  EXPECT_TRUE(object == nullptr);
  GetObjectFromVariant(object, _variant_t(100, VT_I4), store.database());
  EXPECT_EQ(object.GetInterfacePtr(), store.Object(100).GetInterfacePtr());
  for (const _variant_t& bad : {_variant_t(-1, VT_I4), _variant_t(u"100")}) {
    try {
      GetObjectFromVariant(object, bad, store.database());
      FAIL() << "no failure";
    } catch (const KXComException& e) {
      EXPECT_EQ(e.hr, E_FAIL);
      EXPECT_EQ(FirstDesc(e), "Unable to coerce argument to an KXObject");
    }
  }
  try {
    GetObjectFromVariant(object, _variant_t(5, VT_I4), nullptr);
    FAIL() << "no failure";
  } catch (const KXComException& e) {
    EXPECT_EQ(FirstDesc(e), "Unable to coerce argument to an KXObject");
  }
}

TEST(CompareNatural, DigitRunsCompareByValueAndLettersIgnoreCase) {
  EXPECT_LT(CompareNatural(u"Page 9", u"page 10"), 0);
  EXPECT_GT(CompareNatural(u"page 10", u"Page 9"), 0);
  EXPECT_EQ(CompareNatural(u"", u""), 0);
  EXPECT_EQ(CompareNatural(nullptr, u""), 0);
  EXPECT_EQ(CompareNatural(u"a", u""), 1);
  EXPECT_EQ(CompareNatural(u"", u"a"), -1);
  EXPECT_EQ(CompareNatural(u"x007y", u"X7Y"), 0);
  EXPECT_LT(CompareNatural(u"a9", u"a10"), 0);
  EXPECT_LT(CompareNatural(u"a", u"b"), 0);
}

TEST(CompareNatural, LongDigitRunsDoNotOverflow) {
  // Runs far beyond 32 and 64 bits keep a consistent order.
  EXPECT_LT(CompareNatural(u"t123456789012345678901", u"t123456789012345678902"), 0);
  EXPECT_GT(CompareNatural(u"t99999999999999999999999", u"t2147483648"), 0);
  EXPECT_LT(CompareNatural(u"t2147483647", u"t2147483648"), 0);
  EXPECT_GT(CompareNatural(u"t4294967296", u"t1"), 0);
  EXPECT_EQ(CompareNatural(u"t000000000000000000000012", u"t12"), 0);
  EXPECT_LT(CompareNatural(u"t-5", u"t-6"), 0);
}

TEST(CompareNatural, KeysOrderAsTheComparison) {
  // Every pair of these texts: the keys compare with the comparison's sign.
  const char16_t* texts[] = {u"",           u"a",      u"A",
                             u"b",          u"0",      u"00",
                             u"007",        u"7",      u"x007y",
                             u"X7Y",        u"a9",     u"a10",
                             u"a09b",       u"a9c",    u"Page 9",
                             u"page 10",    u"pump-2", u"Pump-10",
                             u"1a",         u"1",      u"10",
                             u"/",          u":",      u"a:",
                             u"a/",         u"a1/",    u"a1:",
                             u"a01",        u"a1",     u"9z",
                             u"z9",         u"\u00e9", u"t99999999999999999999999",
                             u"t2147483648"};
  const auto sign = [](int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; };
  for (const char16_t* a : texts) {
    for (const char16_t* b : texts) {
      std::u16string ka;
      std::u16string kb;
      AppendNaturalKey(a, ka);
      AppendNaturalKey(b, kb);
      EXPECT_EQ(sign(ka.compare(kb)), sign(CompareNatural(a, b)))
          << std::string(a, a + std::char_traits<char16_t>::length(a)) << " / "
          << std::string(b, b + std::char_traits<char16_t>::length(b));
    }
  }
  std::u16string none;
  AppendNaturalKey(nullptr, none);
  EXPECT_TRUE(none.empty());
  // Long texts: letters, then a digit run across where the key is made in
  // pieces, appended to a key already begun.
  const std::u16string letters(254, u'Q');
  const std::u16string longer = letters + u"000" + std::u16string(70000, u'7') + u"x";
  std::u16string key = u"k";
  AppendNaturalKey(longer.c_str(), key);
  const std::u16string wanted = u"k" + std::u16string(254, u'q') + u'0' + char16_t{1} +
                                char16_t{70000 - 65536} + std::u16string(70000, u'7') + u"x";
  EXPECT_TRUE(key == wanted) << key.size() << " / " << wanted.size();
}

}  // namespace
