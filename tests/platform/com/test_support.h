// Helpers shared by the COM layer's tests.
//
// Tracked: an IUnknown/IDispatch object that counts live instances, so a
// test can see that every reference handed out was released.
// TempRegistry: points KXQ_REGISTRY at a fresh file in a private temporary
// directory for the life of the fixture (tests run in parallel processes,
// each must have its own store).
#pragma once

#include <atomic>
#include <filesystem>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string>
#include <unistd.h>

#include "com/comutil.h"
#include "com/object.h"

struct ITracked : IUnknown {
  virtual LONG STDMETHODCALLTYPE Id() = 0;

 protected:
  ~ITracked() = default;
};
KX_DEFINE_IID(ITracked, 0x7a1b0c01, 0x1111, 0x4222, 0x83, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x66)

namespace kx::com::test {

inline std::atomic<int> g_tracked_live{0};

class Tracked final : public kx::com::Object<Tracked, ITracked> {
 public:
  explicit Tracked(LONG id = 0) : id_(id) { ++g_tracked_live; }
  ~Tracked() override { --g_tracked_live; }
  LONG STDMETHODCALLTYPE Id() override { return id_; }
  // Current count (AddRef + Release round trip).
  ULONG refs() {
    AddRef();
    return Release();
  }

 private:
  LONG id_;
};

class TempRegistry {
 public:
  TempRegistry() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kxcom-test-XXXXXX").string();
    const char* dir = ::mkdtemp(pattern.data());
    EXPECT_NE(dir, nullptr);
    dir_ = dir;
    if (const char* old = std::getenv("KXQ_REGISTRY")) {
      had_old_ = true;
      old_ = old;
    }
    file_ = dir_ + "/registry.xml";
    ::setenv("KXQ_REGISTRY", file_.c_str(), 1);
  }
  ~TempRegistry() {
    if (had_old_)
      ::setenv("KXQ_REGISTRY", old_.c_str(), 1);
    else
      ::unsetenv("KXQ_REGISTRY");
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  TempRegistry(const TempRegistry&) = delete;
  TempRegistry& operator=(const TempRegistry&) = delete;

  const std::string& file() const { return file_; }
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_, file_, old_;
  bool had_old_ = false;
};

// The characters of a BSTR (null = empty).
inline std::u16string text_of(BSTR s) { return std::u16string(s ? s : u"", SysStringLen(s)); }

}  // namespace kx::com::test
