// Memory stream, IEnumVARIANT, the QueryInterface table and table dispatch.
#include "com/stream.h"

#include <cstring>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

#include "com/dispatch_impl.h"
#include "com/enumvariant.h"
#include "test_support.h"

namespace {

using kx::com::test::text_of;

LARGE_INTEGER offset(long long v) {
  LARGE_INTEGER li;
  li.QuadPart = v;
  return li;
}

TEST(MemoryStream, WriteSeekReadStat) {
  IStream* stream = nullptr;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
  const char16_t text[] = u"<doc/>";
  ULONG written = 0;
  ASSERT_EQ(stream->Write(text, 12, &written), S_OK);
  EXPECT_EQ(written, 12u);
  ULARGE_INTEGER pos;
  ASSERT_EQ(stream->Seek(offset(0), STREAM_SEEK_SET, &pos), S_OK);  // rewind
  EXPECT_EQ(pos.QuadPart, 0u);
  char16_t back[8] = {};
  ULONG read = 0;
  ASSERT_EQ(stream->Read(back, 12, &read), S_OK);
  EXPECT_EQ(read, 12u);
  EXPECT_EQ(std::memcmp(back, text, 12), 0);
  EXPECT_EQ(stream->Read(back, 4, &read), S_FALSE);
  EXPECT_EQ(read, 0u);
  STATSTG stat;
  ASSERT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
  EXPECT_EQ(stat.cbSize.QuadPart, 12u);
  EXPECT_EQ(stat.type, STGTY_STREAM);
  EXPECT_EQ(stream->Seek(offset(-13), STREAM_SEEK_END, &pos), STG_E_INVALIDFUNCTION);
  ASSERT_EQ(stream->Seek(offset(-2), STREAM_SEEK_END, &pos), S_OK);
  EXPECT_EQ(pos.QuadPart, 10u);
  EXPECT_EQ(stream->Release(), 0u);
}

TEST(MemoryStream, WritingPastTheEndFillsWithZeros) {
  IStream* stream = nullptr;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
  ASSERT_EQ(stream->Seek(offset(4), STREAM_SEEK_SET, nullptr), S_OK);
  ASSERT_EQ(stream->Write("x", 1, nullptr), S_OK);
  ASSERT_EQ(stream->Seek(offset(0), STREAM_SEEK_SET, nullptr), S_OK);
  char buf[5] = {1, 1, 1, 1, 1};
  ULONG read = 0;
  ASSERT_EQ(stream->Read(buf, 5, &read), S_OK);
  EXPECT_EQ(std::memcmp(buf, "\0\0\0\0x", 5), 0);
  ULARGE_INTEGER size;
  size.QuadPart = 2;
  ASSERT_EQ(stream->SetSize(size), S_OK);
  STATSTG stat;
  stream->Stat(&stat, STATFLAG_NONAME);
  EXPECT_EQ(stat.cbSize.QuadPart, 2u);
  EXPECT_EQ(stream->Write(nullptr, 1, nullptr), STG_E_INVALIDPOINTER);
  stream->Release();
  IStream* refused = reinterpret_cast<IStream*>(1);
  EXPECT_EQ(CreateStreamOnHGlobal(reinterpret_cast<HGLOBAL>(1), TRUE, &refused), E_INVALIDARG);
  EXPECT_EQ(refused, nullptr);
}

TEST(MemoryStream, CloneSharesBytesNotPosition) {
  IStream* stream = nullptr;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
  stream->Write("abcdef", 6, nullptr);
  IStream* clone = nullptr;
  ASSERT_EQ(stream->Clone(&clone), S_OK);
  stream->Release();  // the bytes live on with the clone
  char c = 0;
  ULONG read = 0;
  EXPECT_EQ(clone->Read(&c, 1, &read), S_FALSE);  // clone starts at the original's position
  clone->Seek(offset(1), STREAM_SEEK_SET, nullptr);
  ASSERT_EQ(clone->Read(&c, 1, &read), S_OK);
  EXPECT_EQ(c, 'b');
  IStream* target = nullptr;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &target), S_OK);
  ULARGE_INTEGER cb, r, w;
  cb.QuadPart = 100;
  ASSERT_EQ(clone->CopyTo(target, cb, &r, &w), S_OK);
  EXPECT_EQ(r.QuadPart, 4u);
  EXPECT_EQ(w.QuadPart, 4u);
  target->Release();
  clone->Release();
}

TEST(MemoryStream, WritingNothingPastTheEndLeavesTheSize) {
  IStream* stream = nullptr;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
  ASSERT_EQ(stream->Write("ab", 2, nullptr), S_OK);
  ASSERT_EQ(stream->Seek(offset(100), STREAM_SEEK_SET, nullptr), S_OK);
  ULONG written = 7;
  EXPECT_EQ(stream->Write("", 0, &written), S_OK);
  EXPECT_EQ(written, 0u);
  STATSTG stat;
  ASSERT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
  EXPECT_EQ(stat.cbSize.QuadPart, 2u);
  stream->Release();
}

TEST(MemoryStream, CopyToFromPastTheEndCopiesNothing) {
  // An empty stream has no storage at all: the position past its end must
  // not be applied to it.
  IStream* source = nullptr;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &source), S_OK);
  ASSERT_EQ(source->Seek(offset(10), STREAM_SEEK_SET, nullptr), S_OK);
  IStream* target = nullptr;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &target), S_OK);
  ULARGE_INTEGER cb, r, w;
  cb.QuadPart = 4;
  r.QuadPart = w.QuadPart = 99;
  EXPECT_EQ(source->CopyTo(target, cb, &r, &w), S_OK);
  EXPECT_EQ(r.QuadPart, 0u);
  EXPECT_EQ(w.QuadPart, 0u);
  // The same past the end of a stream that has bytes.
  ASSERT_EQ(source->Write("abc", 3, nullptr), S_OK);
  ASSERT_EQ(source->Seek(offset(20), STREAM_SEEK_SET, nullptr), S_OK);
  EXPECT_EQ(source->CopyTo(target, cb, &r, &w), S_OK);
  EXPECT_EQ(r.QuadPart, 0u);
  STATSTG stat;
  ASSERT_EQ(target->Stat(&stat, STATFLAG_NONAME), S_OK);
  EXPECT_EQ(stat.cbSize.QuadPart, 0u);
  target->Release();
  source->Release();
}

TEST(MemoryStream, AnswersSequentialStreamAndIdentity) {
  IStream* stream = nullptr;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
  ISequentialStream* seq = nullptr;
  ASSERT_EQ(stream->QueryInterface(IID_ISequentialStream, reinterpret_cast<void**>(&seq)), S_OK);
  IUnknown* a = nullptr;
  IUnknown* b = nullptr;
  stream->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&a));
  seq->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&b));
  EXPECT_EQ(a, b);
  void* none = reinterpret_cast<void*>(1);
  EXPECT_EQ(stream->QueryInterface(IID_IDispatch, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(stream->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
  a->Release();
  b->Release();
  seq->Release();
  EXPECT_EQ(stream->Release(), 0u);
}

TEST(ObjectBase, ReleasesFromManyThreadsDeleteOnce) {
  kx::com::test::Tracked* object = new kx::com::test::Tracked;
  for (int i = 0; i < 8 * 1000; ++i) object->AddRef();
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([object] {
      for (int i = 0; i < 1000; ++i) object->Release();
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(object->refs(), 1u);
  EXPECT_EQ(object->Release(), 0u);
  EXPECT_EQ(kx::com::test::g_tracked_live.load(), 0);
}

TEST(EnumVariant, NextOneAtATimeThenFalse) {
  VARIANT items[3];
  items[0].vt = VT_I4;
  items[0].lVal = 1;
  items[1].vt = VT_BSTR;
  items[1].bstrVal = SysAllocString(u"two");
  kx::com::test::Tracked* object = new kx::com::test::Tracked(3);
  items[2].vt = VT_UNKNOWN;
  items[2].punkVal = object;
  IEnumVARIANT* e = nullptr;
  ASSERT_EQ(kx_create_enum_variant(items, 3, &e), S_OK);
  for (VARIANT& v : items) VariantClear(&v);  // the enumerator holds copies
  EXPECT_EQ(object->refs(), 1u);

  VARIANT v;
  ULONG fetched = 0;
  ASSERT_EQ(e->Next(1, &v, &fetched), S_OK);
  EXPECT_EQ(v.lVal, 1);
  ASSERT_EQ(e->Next(1, &v, &fetched), S_OK);
  EXPECT_EQ(text_of(v.bstrVal), u"two");
  VariantClear(&v);
  IEnumVARIANT* clone = nullptr;
  ASSERT_EQ(e->Clone(&clone), S_OK);
  ASSERT_EQ(e->Next(1, &v, nullptr), S_OK);
  EXPECT_EQ(v.vt, VT_UNKNOWN);
  VariantClear(&v);
  EXPECT_EQ(e->Next(1, &v, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 0u);
  VARIANT two[2];
  ASSERT_EQ(clone->Next(2, two, &fetched), S_FALSE);  // only one left for the clone
  EXPECT_EQ(fetched, 1u);
  VariantClear(&two[0]);
  ASSERT_EQ(clone->Reset(), S_OK);
  EXPECT_EQ(clone->Skip(5), S_FALSE);
  e->Release();
  EXPECT_EQ(object->refs(), 1u);
  clone->Release();
  EXPECT_EQ(kx::com::test::g_tracked_live.load(), 0);
}

// A journal-like object: "Write" with DISPID 0xFFFF takes one text.
struct Journal;
std::u16string g_journal_text;
const kx::com::DispatchEntry kJournalEntries[] = {
    {u"Write", 0xFFFF, DISPATCH_METHOD, 1,
     [](void*, WORD, VARIANT* const* args, VARIANT*) -> HRESULT {
       if (args[0]->vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
       g_journal_text += text_of(args[0]->bstrVal);
       return S_OK;
     }},
    {u"Size", 2, DISPATCH_PROPERTYGET, 0,
     [](void*, WORD, VARIANT* const*, VARIANT* result) -> HRESULT {
       if (result == nullptr) return S_OK;
       result->vt = VT_I4;
       result->lVal = static_cast<LONG>(g_journal_text.size());
       return S_OK;
     }},
    {u"Throws", 3, DISPATCH_METHOD, 0,
     [](void*, WORD, VARIANT* const*, VARIANT*) -> HRESULT { throw 1; }},
};
struct Journal final : kx::com::DispatchObject<Journal, IDispatch> {
  std::span<const kx::com::DispatchEntry> dispatch_entries() const { return kJournalEntries; }
};

TEST(TableDispatch, JournalWriteAsTheHostCallsIt) {
  g_journal_text.clear();
  Journal* journal = new Journal;
  _variant_t line(u"trace line");
  DISPPARAMS params{&line, nullptr, 1, 0};
  // Flags 0, lcid 2, IID_NULL, result ignored.
  EXPECT_EQ(journal->Invoke(0xFFFF, IID_NULL, 2, 0, &params, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(g_journal_text, u"trace line");
  DISPID id = 0;
  ASSERT_EQ(kx_get_dispid(journal, u"write", &id), S_OK);
  EXPECT_EQ(id, 0xFFFF);
  EXPECT_EQ(kx_get_dispid(journal, u"Nope", &id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(id, DISPID_UNKNOWN);
  _variant_t more(u"!");
  ASSERT_EQ(kx_invoke(journal, 0xFFFF, DISPATCH_METHOD, &more, 1, nullptr), S_OK);
  _variant_t size;
  ASSERT_EQ(kx_invoke(journal, 2, DISPATCH_PROPERTYGET, nullptr, 0, &size), S_OK);
  EXPECT_EQ(size.lVal, 11);
  EXPECT_EQ(kx_invoke(journal, 2, DISPATCH_METHOD, nullptr, 0, nullptr), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(kx_invoke(journal, 0xFFFF, DISPATCH_METHOD, nullptr, 0, nullptr), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(kx_invoke(journal, 99, DISPATCH_METHOD, nullptr, 0, nullptr), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(kx_invoke(journal, 3, DISPATCH_METHOD, nullptr, 0, nullptr), E_UNEXPECTED);
  const GUID other{1, 0, 0, {0}};
  EXPECT_EQ(journal->Invoke(0xFFFF, other, 2, 0, &params, nullptr, nullptr, nullptr),
            DISP_E_UNKNOWNINTERFACE);
  UINT count = 9;
  EXPECT_EQ(journal->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(journal->GetTypeInfo(0, 0, nullptr), E_POINTER);
  journal->Release();
}

TEST(TableDispatch, ArgumentsArriveInNaturalOrderThroughReferences) {
  static std::u16string seen;
  static const kx::com::DispatchEntry entries[] = {
      {u"Join", 1, DISPATCH_METHOD, 2, [](void*, WORD, VARIANT* const* args, VARIANT*) -> HRESULT {
         seen = text_of(args[0]->bstrVal) + u"+" + text_of(args[1]->bstrVal);
         return S_OK;
       }}};
  struct Joiner final : kx::com::DispatchObject<Joiner, IDispatch> {
    std::span<const kx::com::DispatchEntry> dispatch_entries() const { return entries; }
  };
  Joiner* joiner = new Joiner;
  _variant_t first(u"first");
  VARIANT byref;
  byref.vt = VT_BYREF | VT_VARIANT;
  byref.pvarVal = &first;
  VARIANT args[2];
  args[0] = byref;
  _variant_t second(u"second");
  std::memcpy(static_cast<void*>(&args[1]), static_cast<VARIANT*>(&second), sizeof(VARIANT));
  ASSERT_EQ(kx_invoke(joiner, 1, DISPATCH_METHOD, args, 2, nullptr), S_OK);
  EXPECT_EQ(seen, u"first+second");
  joiner->Release();
}

TEST(TableDispatch, OptionalTrailingArgumentsMayBeLeftOut) {
  static std::u16string seen;
  static const kx::com::DispatchEntry entries[] = {
      {u"Load", 1, DISPATCH_METHOD | DISPATCH_PROPERTYPUT, 3,
       [](void*, WORD, VARIANT* const* args, VARIANT*) -> HRESULT {
         seen = text_of(args[0]->bstrVal) + u"," + text_of(args[1]->bstrVal) + u",";
         if (args[2]->vt == VT_ERROR && args[2]->scode == DISP_E_PARAMNOTFOUND) {
           seen += u"missing";
         } else if (args[2]->vt == VT_BSTR) {
           seen += text_of(args[2]->bstrVal);
         }
         return S_OK;
       },
       1}};
  struct Loader final : kx::com::DispatchObject<Loader, IDispatch> {
    std::span<const kx::com::DispatchEntry> dispatch_entries() const { return entries; }
  };
  Loader* loader = new Loader;
  _variant_t args[3] = {_variant_t(u"a"), _variant_t(u"b"), _variant_t(u"c")};
  ASSERT_EQ(kx_invoke(loader, 1, DISPATCH_METHOD, args, 3, nullptr), S_OK);
  EXPECT_EQ(seen, u"a,b,c");
  ASSERT_EQ(kx_invoke(loader, 1, DISPATCH_METHOD, args, 2, nullptr), S_OK);
  EXPECT_EQ(seen, u"a,b,missing");
  // Only trailing optional arguments: the required ones stay required, and
  // a property put takes its whole count.
  seen.clear();
  EXPECT_EQ(kx_invoke(loader, 1, DISPATCH_METHOD, args, 1, nullptr), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(kx_invoke(loader, 1, DISPATCH_PROPERTYPUT, args, 2, nullptr), DISP_E_BADPARAMCOUNT);
  _variant_t four[4] = {_variant_t(u"a"), _variant_t(u"b"), _variant_t(u"c"), _variant_t(u"d")};
  EXPECT_EQ(kx_invoke(loader, 1, DISPATCH_METHOD, four, 4, nullptr), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(seen, u"");
  loader->Release();
}

}  // namespace
