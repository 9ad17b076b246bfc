// `init` of fixtures the import must read properly or refuse whole: a
// fixture in UTF-16, ids at the end of the id range, and a fixture on
// standard input.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/host_fixture.h"

namespace kx::test::tools {
namespace {

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// UTF-8 text as UTF-16 bytes, each character's units in the byte order
// asked; `mark`: a byte-order mark first.
std::string Utf16(const std::string& utf8, bool big, bool mark) {
  std::u16string units;
  for (size_t k = 0; k < utf8.size();) {
    const auto c = static_cast<unsigned char>(utf8[k]);
    const int more = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
    char32_t code = more == 0 ? c : c & (0x3F >> more);
    for (int i = 1; i <= more; ++i) code = code << 6 | (utf8[k + i] & 0x3F);
    k += 1 + more;
    if (code >= 0x10000) {
      units += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
      units += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      units += static_cast<char16_t>(code);
    }
  }
  if (mark) units.insert(units.begin(), u'\uFEFF');
  std::string bytes;
  for (const char16_t u : units) {
    const char high = static_cast<char>(u >> 8), low = static_cast<char>(u & 0xFF);
    bytes += big ? high : low;
    bytes += big ? low : high;
  }
  return bytes;
}

class KxqhostInitTest : public KxqhostTest {
 protected:
  // The files in the test folder but the fixtures (".xml") and hidden ones,
  // in name order.
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
      const std::string name = entry.path().filename().string();
      if (name[0] != '.' && !name.ends_with(".xml")) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  // What a store shows: objects, a datasheet's name and its real fields,
  // which the module reads through the page templates.
  std::string Shown(const std::string& store) {
    std::string shown;
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"dump", "101", "1001", "1011"},
          {"service", "10", "1001", "DatasheetName"},
          {"service", "10", "1001", "GetRealFieldsWithUOM"}}) {
      std::vector<std::string> arguments{"--store", store};
      arguments.insert(arguments.end(), command.begin(), command.end());
      const Outcome outcome = Bare(arguments);
      EXPECT_EQ(outcome.status, 0) << store << ": " << outcome.err;
      shown += outcome.out;
    }
    return shown;
  }
};

// A UTF-16 fixture, with a byte-order mark or only its declaration, makes
// the store its UTF-8 text makes: templates included (each was kept as the
// document's bytes, in UTF-16, and read back as "<"). Text that is not
// UTF-16, or a document in another encoding, is refused with its line, and
// no store is left.
TEST_F(KxqhostInitTest, AUtf16FixtureMakesTheStoreOfItsUtf8TextOrNone) {
  std::string plant = ReadText(std::string(KXQHOST_SOURCE_DIR) + "/examples/plant.xml");
  const std::string name = "<value attribute=\"Name\">P-101A</value>";
  ASSERT_TRUE(Has(plant, name));
  // A character beyond the first 65,536 (two UTF-16 units) and one of two bytes.
  plant.replace(plant.find(name), name.size(),
                "<value attribute=\"Name\">P-101A \xF0\x9D\x84\x9E \xC3\xA9</value>");
  WriteText(dir_ / "plant.xml", plant);
  ASSERT_EQ(Bare({"--store", dir_ / "utf8.db", "init", "--fixture", dir_ / "plant.xml"}).status, 0);
  const std::string expected = Shown(dir_ / "utf8.db");
  EXPECT_TRUE(Has(expected, "Name = \"P-101A \xF0\x9D\x84\x9E \xC3\xA9\"")) << expected;

  std::string declared = plant;
  declared.replace(declared.find("encoding=\"UTF-8\""), 16, "encoding=\"UTF-16\"");
  WriteText(dir_ / "le.xml", Utf16(plant, false, true));
  WriteText(dir_ / "be.xml", Utf16(declared, true, false));
  for (const char* fixture : {"le", "be"}) {
    const std::string store = dir_ / (std::string(fixture) + ".db");
    const Outcome made =
        Bare({"--store", store, "init", "--fixture", dir_ / (fixture + std::string(".xml"))});
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_EQ(Shown(store), expected) << fixture;
  }

  const std::vector<std::string> stores = Files();
  // A lone half of a pair on line 3, and a last character cut in half.
  const std::string text = "<store>\n<schema/>\n<objects/>\n</store>\n";
  std::string lone = Utf16(text, false, true);
  lone.insert(lone.find(std::string("<\0o", 3)), std::string("\x00\xD8", 2));
  WriteText(dir_ / "lone.xml", lone);
  WriteText(dir_ / "cut.xml", Utf16(text, true, true).substr(0, 11));
  // Letters of another encoding would be read as UTF-8: refused by name,
  // even where the text holds none.
  WriteText(dir_ / "latin.xml", "<?xml version='1.0' encoding='ISO-8859-1'?>\n" + text);
  std::string utf32;
  for (const char c : text) utf32 += std::string(1, c) + std::string(3, '\0');
  WriteText(dir_ / "utf32.xml", utf32);
  for (const auto& [fixture, message] :
       {std::pair<std::string, std::string>{"lone.xml", "lone.xml:3: text that is not UTF-16"},
        {"cut.xml", "cut.xml:1: the text ends inside a character"},
        {"latin.xml", "latin.xml:1: the document is declared in \"ISO-8859-1\", which is not read"},
        {"utf32.xml", "utf32.xml:1: the document is in UTF-32, which is not read"}}) {
    const Outcome refused = Bare({"--store", dir_ / "bad.db", "init", "--fixture", dir_ / fixture});
    EXPECT_EQ(refused.status, 1) << fixture;
    EXPECT_TRUE(Has(refused.err, message)) << refused.err;
    EXPECT_EQ(Files(), stores) << fixture;
  }
}

// The largest id a fixture may give is 2147483646: the store can give the
// one after it, and refuses to give any once that is taken. A larger one
// is refused and leaves no store (it overflowed the next id), and so is 0.
TEST_F(KxqhostInitTest, IdsStopWhereTheStoreCanStillGiveTheNextOne) {
  const std::string plant = ReadText(TinyPlant());
  const auto with = [&](const std::string& id) {
    std::string text = plant;
    text.insert(text.rfind("</objects>"), "<object id=\"" + id + "\" class=\"Pump\"/>\n");
    return text;
  };
  // An id given as 0 (or -0) is refused as a negative one is, not taken
  // for the next free id.
  for (const auto& [id, message] :
       {std::pair<std::string, std::string>{
            "2147483647", "Object id 2147483647 is beyond the largest object id, 2147483646"},
        {"0", "over.xml:66: Object ids are positive"},
        {"-0", "over.xml:66: Object ids are positive"}}) {
    WriteText(dir_ / "over.xml", with(id));
    const Outcome refused =
        Bare({"--store", dir_ / "over.db", "init", "--fixture", dir_ / "over.xml"});
    EXPECT_EQ(refused.status, 1) << id;
    EXPECT_TRUE(Has(refused.err, message)) << refused.err;
    EXPECT_TRUE(Files().empty()) << id;
  }

  WriteText(dir_ / "last.xml", with("2147483646"));
  const std::string store = dir_ / "last.db";
  ASSERT_EQ(Bare({"--store", store, "init", "--fixture", dir_ / "last.xml"}).status, 0);
  WriteText(dir_ / "create.txt", "create Pump\n");
  const Outcome created = Bare({"--store", store, "run", dir_ / "create.txt"});
  EXPECT_EQ(created.status, 1) << created.out;
  EXPECT_TRUE(Has(created.err, "No object id is left: 2147483646, the largest, is given"))
      << created.err;
  const Outcome dumped = Bare({"--store", store, "dump", "2147483646", "2147483647"});
  EXPECT_TRUE(Has(dumped.out, "object 2147483646 Pump\n")) << dumped.out;
  EXPECT_FALSE(Has(dumped.out, "object 2147483647")) << dumped.out;
}

// `init --fixture -` reads the fixture from standard input, as `request`
// reads "-", and names it so in what it says: from where it stands, not
// the whole of the file a shell gave (the file named /dev/stdin).
TEST_F(KxqhostInitTest, TheFixtureComesOnStandardInputAfterADash) {
  const std::string plant = ReadText(TinyPlant());
  const std::string read = "a line another program read first\n";
  ChildSetup after;
  after.input_offset = static_cast<long>(read.size());
  const Outcome made = RunHostWith({"--store", Store(), "init", "--fixture", "-"}, dir_.path(),
                                   {"KXQ_REGISTRY=" + Registry()}, read + plant, after);
  ASSERT_EQ(made.status, 0) << made.err;
  EXPECT_EQ(made.out, "created " + Store() + " from standard input (5 objects)\n");
  ASSERT_EQ(Bare({"--store", dir_ / "file.db", "init", "--fixture", TinyPlant()}).status, 0);
  const Outcome fromFile = Bare({"--store", dir_ / "file.db", "dump", "10", "11", "20"});
  EXPECT_EQ(Dump({"10", "11", "20"}), fromFile.out);

  const Outcome refused =
      Bare({"--store", dir_ / "bad.db", "init", "--fixture", "-"}, "<store>\n<schema>\n");
  EXPECT_EQ(refused.status, 1);
  EXPECT_TRUE(Has(refused.err, "from standard input: standard input:3: no element found"))
      << refused.err;
  EXPECT_FALSE(std::filesystem::exists(dir_ / "bad.db"));
}

// A store asked for in a folder that is missing, or that this user cannot
// write, is refused naming the folder and why, not the temporary file the
// store would have been made in; nothing is left behind.
TEST_F(KxqhostInitTest, AFolderThatIsMissingOrCannotBeWrittenIsNamed) {
  namespace fs = std::filesystem;
  const Outcome missing =
      Bare({"--store", dir_ / "none/plant.db", "init", "--fixture", TinyPlant()});
  EXPECT_EQ(missing.status, 1);
  EXPECT_TRUE(Has(missing.err, "cannot create " + dir_ / "none/plant.db" + " from " + TinyPlant() +
                                   ": the folder " + dir_ / "none" + " does not exist"))
      << missing.err;
  EXPECT_FALSE(Has(missing.err, ".init-")) << missing.err;

  const std::string locked = dir_ / "locked";
  fs::create_directory(locked);
  fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                              fs::perms::group_exec | fs::perms::others_read |
                              fs::perms::others_exec);
  fs::permissions(dir_.path(),
                  fs::perms::all & ~(fs::perms::group_write | fs::perms::others_write));
  struct Restore {
    std::string folder;
    ~Restore() { fs::permissions(folder, fs::perms::owner_all); }
  } restore{locked};
  const Outcome refused =
      RunHostWith({"--store", locked + "/plant.db", "init", "--fixture", TinyPlant()}, dir_.path(),
                  {"KXQ_REGISTRY=" + Registry()}, "", {.unprivileged = true});
  EXPECT_EQ(refused.status, 1);
  EXPECT_TRUE(Has(refused.err, ": the folder " + locked + " cannot be written (Permission denied)"))
      << refused.err;
  EXPECT_FALSE(Has(refused.err, ".init-")) << refused.err;
  EXPECT_TRUE(fs::is_empty(locked));
}

}  // namespace
}  // namespace kx::test::tools
