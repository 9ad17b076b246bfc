// Files a module asks the host to send: only regular files inside the
// folders of the host's settings and template library, by their path text
// and after symbolic links are followed; refused paths send nothing.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

#include "host/errors.h"
#include "host/host.h"
#include "host/internal/xml_text.h"
#include "host/reply.h"
#include "host/template_library.h"
#include "host/utf.h"
#include "test_util.h"

namespace kx::host::test {
namespace {

namespace fs = std::filesystem;
using test::Bstr;
using test::U8;
using test::Var;

std::u16string U16(const std::string& text) { return *internal::Utf8ToUtf16(text); }

// root/templates/{a.txt, sub/b.bmp, in-link -> a.txt, out-link ->
// ../secret.txt, up-link -> ..}, root/templates-old/c.txt, root/secret.txt.
class SendFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::path(::testing::TempDir()) /
            ("kxhost_sendfile_" +
             std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "templates" / "sub");
    fs::create_directories(root_ / "templates-old");
    std::ofstream(root_ / "templates" / "a.txt") << "alpha";
    std::ofstream(root_ / "templates" / "sub" / "b.bmp", std::ios::binary)
        << std::string("BM\0\1", 4);
    std::ofstream(root_ / "templates-old" / "c.txt") << "old";
    std::ofstream(root_ / "secret.txt") << "secret";
    fs::create_symlink("a.txt", root_ / "templates" / "in-link");
    fs::create_symlink("../secret.txt", root_ / "templates" / "out-link");
    fs::create_symlink("..", root_ / "templates" / "up-link");
    folder_ = U16((root_ / "templates").string());
    response_->SetFileFolders({folder_});
  }
  void TearDown() override { fs::remove_all(root_); }

  // Sends `path` as a binary file; the error description goes to error_.
  HRESULT Send(std::u16string_view path) {
    Var binary = Var::Bool(true);
    const HRESULT hr = response_->SendFile(Bstr(path), *binary);
    error_ = U8(internal::TakeErrorDescription());
    return hr;
  }

  fs::path root_;
  std::u16string folder_;
  std::string error_;
  Ref<Response> response_ = MakeRef<Response>();
};

TEST_F(SendFileTest, SendsFilesInsideItsFoldersWithTheirBytes) {
  ASSERT_EQ(S_OK, Send(folder_ + u"\\a.txt"));
  ASSERT_EQ(S_OK, Send(folder_ + u"\\sub\\b.bmp"));
  ASSERT_EQ(S_OK, Send(folder_ + u"/in-link"));
  ASSERT_EQ(3u, response_->files().size());
  EXPECT_EQ("alpha", response_->files()[0].content);
  EXPECT_EQ(folder_ + u"/sub/b.bmp", response_->files()[1].path);
  EXPECT_EQ(std::string("BM\0\1", 4), response_->files()[1].content);
  EXPECT_EQ("alpha", response_->files()[2].content);
}

TEST_F(SendFileTest, RefusesEveryDotDotStep) {
  EXPECT_EQ(E_ACCESSDENIED, Send(folder_ + u"\\..\\..\\etc\\passwd"));
  EXPECT_NE(error_.find("\"..\""), std::string::npos) << error_;
  EXPECT_EQ(E_ACCESSDENIED, Send(folder_ + u"\\..\\secret.txt"));
  // Even one that would come back inside.
  EXPECT_EQ(E_ACCESSDENIED, Send(folder_ + u"\\sub\\..\\a.txt"));
  EXPECT_TRUE(response_->files().empty());
}

TEST_F(SendFileTest, RefusesPathsOutsideItsFolders) {
  EXPECT_EQ(E_ACCESSDENIED, Send(u"/etc/passwd"));
  EXPECT_NE(error_.find("\"/etc/passwd\": it lies outside"), std::string::npos) << error_;
  EXPECT_EQ(E_ACCESSDENIED, Send(U16((root_ / "secret.txt").string())));
  // A folder whose name merely starts like the allowed one.
  EXPECT_EQ(E_ACCESSDENIED, Send(U16((root_ / "templates-old" / "c.txt").string())));
  // The folder itself is no file to send.
  EXPECT_EQ(E_ACCESSDENIED, Send(folder_));
  EXPECT_TRUE(response_->files().empty());
}

TEST_F(SendFileTest, RefusesSymbolicLinksOutOfItsFolder) {
  EXPECT_EQ(E_ACCESSDENIED, Send(folder_ + u"\\out-link"));
  EXPECT_NE(error_.find("symbolic link"), std::string::npos) << error_;
  EXPECT_EQ(E_ACCESSDENIED, Send(folder_ + u"\\up-link\\secret.txt"));
  EXPECT_TRUE(response_->files().empty());
}

TEST_F(SendFileTest, MissingFilesDirectoriesAndNoFolders) {
  EXPECT_EQ(STG_E_FILENOTFOUND, Send(folder_ + u"\\none.bmp"));
  EXPECT_NE(error_.find("no such file"), std::string::npos) << error_;
  EXPECT_EQ(E_ACCESSDENIED, Send(folder_ + u"\\sub"));
  EXPECT_NE(error_.find("not a file"), std::string::npos) << error_;
  response_->SetFileFolders({});
  EXPECT_EQ(E_ACCESSDENIED, Send(folder_ + u"\\a.txt"));
  response_->SetFileFolders({u""});
  EXPECT_EQ(E_ACCESSDENIED, Send(folder_ + u"\\a.txt"));
  EXPECT_TRUE(response_->files().empty());
}

// A library that knows only its two folders.
class FolderLibrary final : public internal::DispatchObject<IKXQTemplateLibrary> {
 public:
  HRESULT GetTemplate(BSTR, VARIANT, IKXQTemplate**) override { return E_NOTIMPL; }
  HRESULT GetTemplateByName(BSTR, VARIANT, IKXQTemplate**) override { return E_NOTIMPL; }
  HRESULT get_Count(LONG*) override { return E_NOTIMPL; }
  HRESULT get_Item(LONG, IKXQTemplate**) override { return E_NOTIMPL; }
  HRESULT get_TemplatesFolder(BSTR* path) override { return Text(u"Store\\Templates", path); }
  HRESULT get_BitmapFolder(BSTR* path) override { return Text(u"Store\\Bitmaps", path); }
  HRESULT GetCachedTemplateData(BSTR, BSTR, BSTR*) override { return E_NOTIMPL; }
  HRESULT GetCachedWorkbookSource(BSTR, BSTR, BSTR*) override { return E_NOTIMPL; }
  HRESULT NotifyTemplateUse(BSTR, BSTR) override { return E_NOTIMPL; }

 private:
  static HRESULT Text(std::u16string_view text, BSTR* out) {
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return S_OK;
  }
};

std::string Folder(IKXQTemplateLibrary* library, bool bitmaps) {
  BSTR path = nullptr;
  EXPECT_EQ(S_OK, bitmaps ? library->get_BitmapFolder(&path) : library->get_TemplatesFolder(&path));
  const std::string text = U8(internal::BstrView(path));
  SysFreeString(path);
  return text;
}

TEST(HostFolders, LibraryFoldersComeFromTheSettingsElseFromTheStore) {
  Host host;
  Ref<FolderLibrary> store_library = MakeRef<FolderLibrary>();
  host.application().SetStore(nullptr, nullptr, store_library.get());
  IKXQTemplateLibrary* raw = nullptr;
  ASSERT_EQ(S_OK, host.application().get_TemplateLibrary(&raw));
  Ref<IKXQTemplateLibrary> library = Ref<IKXQTemplateLibrary>::Adopt(raw);
  EXPECT_EQ("Store\\Templates", Folder(library.get(), false));
  EXPECT_EQ("Store\\Bitmaps", Folder(library.get(), true));

  std::string error;
  ASSERT_TRUE(host.settings().Override("Folder::TemplateLibrary=/plant/library/", &error)) << error;
  ASSERT_TRUE(host.settings().Override("folder::bitmaps=C:\\plant\\bitmaps", &error)) << error;
  host.settings().SetFolder(u"Templates", u"/plant/sources");
  EXPECT_EQ("/plant/library", Folder(library.get(), false));
  EXPECT_EQ("C:/plant/bitmaps", Folder(library.get(), true));

  const auto folders = host.FileFolders();
  EXPECT_EQ(3u + 2u, folders.size());
  for (const char16_t* expected : {u"/plant/library", u"C:/plant/bitmaps", u"/plant/sources"}) {
    EXPECT_NE(std::find(folders.begin(), folders.end(), expected), folders.end()) << U8(expected);
  }
}

TEST(HostFolders, WithoutStoreOnlyTheSettingsFoldersCount) {
  Host host;
  host.settings().SetFolder(u"Datasheets", u"/plant/datasheets//");
  host.settings().SetFolder(u"Empty", u"");
  EXPECT_EQ(std::vector<std::u16string>{u"/plant/datasheets"}, host.FileFolders());
}

}  // namespace
}  // namespace kx::host::test
