#include "com/bstr.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr std::size_t kPrefix = sizeof(std::uint32_t);
// Largest byte length whose block (prefix + bytes + two zero bytes) still
// has a 32-bit byte count.
constexpr std::uint64_t kMaxBytes = 0xFFFFFFFFull - kPrefix - sizeof(OLECHAR);

// A block for `bytes` bytes of text; the text itself is left to the caller.
BSTR allocate(std::uint64_t bytes) {
  if (bytes > kMaxBytes) return nullptr;
  auto* block = static_cast<unsigned char*>(std::malloc(kPrefix + bytes + sizeof(OLECHAR)));
  if (block == nullptr) return nullptr;
  const auto count = static_cast<std::uint32_t>(bytes);
  std::memcpy(block, &count, kPrefix);
  block[kPrefix + bytes] = 0;
  block[kPrefix + bytes + 1] = 0;
  return reinterpret_cast<BSTR>(block + kPrefix);
}

std::size_t length_of(const OLECHAR* s) {
  std::size_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

}  // namespace

BSTR SysAllocString(const OLECHAR* psz) {
  if (psz == nullptr) return nullptr;
  const std::size_t n = length_of(psz);
  if (n > kMaxBytes / 2) return nullptr;
  return SysAllocStringLen(psz, static_cast<UINT>(n));
}

BSTR SysAllocStringLen(const OLECHAR* pch, UINT cch) {
  BSTR s = allocate(static_cast<std::uint64_t>(cch) * 2);
  if (s == nullptr) return nullptr;
  if (pch != nullptr)
    std::memcpy(s, pch, static_cast<std::size_t>(cch) * 2);
  else
    std::memset(s, 0, static_cast<std::size_t>(cch) * 2);
  return s;
}

BSTR SysAllocStringByteLen(const char* psz, UINT cb) {
  BSTR s = allocate(cb);
  if (s == nullptr) return nullptr;
  if (psz != nullptr)
    std::memcpy(s, psz, cb);
  else
    std::memset(s, 0, cb);
  return s;
}

INT SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT cch) {
  if (pbstr == nullptr) return FALSE;
  // Copy before freeing: psz may point into *pbstr.
  BSTR fresh = SysAllocStringLen(psz, cch);
  if (fresh == nullptr) return FALSE;
  SysFreeString(*pbstr);
  *pbstr = fresh;
  return TRUE;
}

INT SysReAllocString(BSTR* pbstr, const OLECHAR* psz) {
  if (pbstr == nullptr) return FALSE;
  if (psz == nullptr) {
    SysFreeString(*pbstr);
    *pbstr = nullptr;
    return TRUE;
  }
  const std::size_t n = length_of(psz);
  if (n > kMaxBytes / 2) return FALSE;
  return SysReAllocStringLen(pbstr, psz, static_cast<UINT>(n));
}

void SysFreeString(BSTR bstr) {
  if (bstr == nullptr) return;
  std::free(reinterpret_cast<unsigned char*>(bstr) - kPrefix);
}

UINT SysStringByteLen(BSTR bstr) {
  if (bstr == nullptr) return 0;
  std::uint32_t bytes;
  std::memcpy(&bytes, reinterpret_cast<unsigned char*>(bstr) - kPrefix, kPrefix);
  return bytes;
}

UINT SysStringLen(BSTR bstr) { return SysStringByteLen(bstr) / 2; }
