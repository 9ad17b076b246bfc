// Creating the reader by class id, as the service does, and the library's
// server entry points.
#include "com/activation.h"

#include <dlfcn.h>

#include "com/clsids.h"
#include "recorder.h"

namespace kx::msxml::test {
namespace {

// The entry points of the reader's library, once activation has loaded it.
struct Server {
  LPFNGETCLASSOBJECT get_class_object = nullptr;
  LPFNCANUNLOADNOW can_unload_now = nullptr;
};

Server Entries() {
  Server s;
  void* lib = dlopen((kx_platform_library_dir() + kx_library_SAXXMLReader60).c_str(),
                     RTLD_NOW | RTLD_NOLOAD);
  if (lib == nullptr) return s;
  s.get_class_object = reinterpret_cast<LPFNGETCLASSOBJECT>(dlsym(lib, "DllGetClassObject"));
  s.can_unload_now = reinterpret_cast<LPFNCANUNLOADNOW>(dlsym(lib, "DllCanUnloadNow"));
  dlclose(lib);
  return s;
}

TEST(ActivationTest, CreatesTheReaderByClassIdAndParses) {
  ISAXXMLReader* reader = nullptr;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SAXXMLReader60, nullptr, CLSCTX_ALL, IID_ISAXXMLReader,
                                   reinterpret_cast<void**>(&reader)));
  ASSERT_NE(reader, nullptr);
  Recorder* rec = new Recorder;
  reader->putContentHandler(rec);
  EXPECT_EQ(S_OK, ParseText(reader, u"<a/>"));
  EXPECT_EQ(rec->events[2], "start(a)");
  reader->putContentHandler(nullptr);
  EXPECT_EQ(0u, reader->Release());
  EXPECT_EQ(1u, rec->refs());
  rec->Release();
}

TEST(ActivationTest, AnswersOnlyItsOwnInterfaces) {
  IUnknown* unknown = nullptr;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SAXXMLReader60, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IUnknown, reinterpret_cast<void**>(&unknown)));
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(E_NOINTERFACE, unknown->QueryInterface(IID_ISAXContentHandler, &p));
  EXPECT_EQ(p, nullptr);
  ISAXXMLReader* reader = nullptr;
  ASSERT_EQ(S_OK, unknown->QueryInterface(IID_ISAXXMLReader, reinterpret_cast<void**>(&reader)));
  IUnknown* again = nullptr;
  ASSERT_EQ(S_OK, reader->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&again)));
  EXPECT_EQ(again, unknown);
  again->Release();
  reader->Release();
  EXPECT_EQ(0u, unknown->Release());
}

TEST(ActivationTest, FactoryRefusesAggregationAndOtherClasses) {
  IClassFactory* factory = nullptr;
  ASSERT_EQ(S_OK, CoGetClassObject(CLSID_SAXXMLReader60, CLSCTX_INPROC_SERVER, nullptr,
                                   IID_IClassFactory, reinterpret_cast<void**>(&factory)));
  void* p = nullptr;
  IUnknown* outer = factory;
  EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(outer, IID_IUnknown, &p));
  EXPECT_EQ(p, nullptr);
  factory->Release();

  Server server = Entries();
  ASSERT_NE(server.get_class_object, nullptr);
  EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE,
            server.get_class_object(IID_ISAXXMLReader, IID_IClassFactory, &p));
  EXPECT_EQ(p, nullptr);
}

TEST(ActivationTest, LibraryReportsWhenItCanBeUnloaded) {
  ISAXXMLReader* reader = nullptr;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SAXXMLReader60, nullptr, CLSCTX_ALL, IID_ISAXXMLReader,
                                   reinterpret_cast<void**>(&reader)));
  Server server = Entries();
  ASSERT_NE(server.can_unload_now, nullptr);
  EXPECT_EQ(S_FALSE, server.can_unload_now());
  reader->Release();
  EXPECT_EQ(S_OK, server.can_unload_now());

  IClassFactory* factory = nullptr;
  ASSERT_EQ(S_OK, server.get_class_object(CLSID_SAXXMLReader60, IID_IClassFactory,
                                          reinterpret_cast<void**>(&factory)));
  factory->LockServer(TRUE);
  factory->Release();
  EXPECT_EQ(S_FALSE, server.can_unload_now());  // the lock alone keeps it
  ASSERT_EQ(S_OK, server.get_class_object(CLSID_SAXXMLReader60, IID_IClassFactory,
                                          reinterpret_cast<void**>(&factory)));
  factory->LockServer(FALSE);
  factory->Release();
  EXPECT_EQ(S_OK, server.can_unload_now());
}

}  // namespace
}  // namespace kx::msxml::test
