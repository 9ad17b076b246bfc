// The file stream and a file read whole as Base64 text.
#include "kxfilestream.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

#include "com/bstr.h"
#include "com/wstr.h"

namespace {

class FileStreamTest : public ::testing::Test {
 protected:
  FileStreamTest() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kxfilestreamXXXXXX").string();
    root_ = mkdtemp(pattern.data());
  }
  ~FileStreamTest() override { std::filesystem::remove_all(root_); }

  std::u16string Write(const std::string& name, const std::string& bytes) {
    std::ofstream(root_ / name, std::ios::binary) << bytes;
    return kx_utf8_to_utf16_lossy((root_ / name).string());
  }
  // The Base64 text, or "!" and the HRESULT.
  std::string Encode(const std::u16string& path) {
    BSTR text = nullptr;
    const HRESULT hr = ReadFileAsBase64(path.c_str(), &text);
    if (FAILED(hr)) {
      EXPECT_EQ(text, nullptr);
      return "!" + std::to_string(static_cast<unsigned long>(hr));
    }
    const std::string out = kx_utf16_to_utf8_lossy(text);
    SysFreeString(text);
    return out;
  }

  std::filesystem::path root_;
};

TEST_F(FileStreamTest, SmallFilesArePaddedAsBase64Says) {
  EXPECT_EQ(Encode(Write("empty", "")), "");
  EXPECT_EQ(Encode(Write("one", "M")), "TQ==");
  EXPECT_EQ(Encode(Write("two", "Ma")), "TWE=");
  EXPECT_EQ(Encode(Write("three", "Man")), "TWFu");
  EXPECT_EQ(Encode(Write("binary", std::string("\xff\x00\xfe", 3))), "/wD+");
}

TEST_F(FileStreamTest, BlocksJoinWithoutPaddingInside) {
  const std::string block(KXFileStream::kBlockBytes, 'a');
  const std::string text = Encode(Write("block", block));
  EXPECT_EQ(text.size(), 2688u);
  EXPECT_EQ(text.find('='), std::string::npos);
  const std::string longer = Encode(Write("longer", block + block + "ab"));
  EXPECT_EQ(longer.size(), 2688u * 2 + 4);
  EXPECT_EQ(longer.substr(longer.size() - 4), "YWI=");
}

TEST_F(FileStreamTest, OpenAndReadFailuresAreReportedNeverATruncatedText) {
  EXPECT_EQ(Encode(u""), "!" + std::to_string(static_cast<unsigned long>(E_INVALIDARG)));
  EXPECT_EQ(Encode(kx_utf8_to_utf16_lossy((root_ / "missing").string())),
            "!" + std::to_string(static_cast<unsigned long>(E_FAIL)));
  // A folder opens but cannot be read.
  EXPECT_EQ(Encode(kx_utf8_to_utf16_lossy(root_.string())),
            "!" + std::to_string(static_cast<unsigned long>(E_FAIL)));
}

TEST_F(FileStreamTest, WritingTruncatesAndShortTransfersSayFalse) {
  const std::u16string path = Write("data", "old contents");
  KXFileStream stream;
  ASSERT_EQ(stream.Open(path.c_str(), true), S_OK);
  uint32_t done = 99;
  EXPECT_EQ(stream.Write("new", 3, &done), S_OK);
  EXPECT_EQ(done, 3u);
  EXPECT_EQ(stream.Write(nullptr, 3, &done), STG_E_INVALIDPOINTER);
  EXPECT_EQ(stream.Close(), S_OK);
  ASSERT_EQ(stream.Open(path.c_str(), false), S_OK);
  char buffer[8] = {};
  EXPECT_EQ(stream.Read(buffer, sizeof buffer, &done), S_FALSE);
  EXPECT_EQ(done, 3u);
  EXPECT_EQ(std::string(buffer, done), "new");
  EXPECT_EQ(stream.Read(buffer, 0, &done), S_OK);
}

}  // namespace
