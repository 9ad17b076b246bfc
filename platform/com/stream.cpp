#include "com/stream.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "com/object.h"

namespace {

// The bytes, shared by a stream and its clones.
struct Buffer {
  std::mutex mutex;
  std::vector<unsigned char> bytes;
};

class MemoryStream final : public kx::com::Object<MemoryStream, IStream> {
 public:
  explicit MemoryStream(std::shared_ptr<Buffer> buffer, ULONGLONG position = 0)
      : buffer_(std::move(buffer)), position_(position) {}

  HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) override {
    if (pcbRead != nullptr) *pcbRead = 0;
    if (pv == nullptr && cb != 0) return STG_E_INVALIDPOINTER;
    std::lock_guard lock(buffer_->mutex);
    const ULONGLONG size = buffer_->bytes.size();
    const ULONGLONG available = position_ < size ? size - position_ : 0;
    const ULONG n = available < cb ? static_cast<ULONG>(available) : cb;
    if (n > 0) std::memcpy(pv, buffer_->bytes.data() + position_, n);
    position_ += n;
    if (pcbRead != nullptr) *pcbRead = n;
    return n == cb ? S_OK : S_FALSE;
  }

  HRESULT STDMETHODCALLTYPE Write(const void* pv, ULONG cb, ULONG* pcbWritten) override {
    if (pcbWritten != nullptr) *pcbWritten = 0;
    if (pv == nullptr && cb != 0) return STG_E_INVALIDPOINTER;
    if (cb == 0) return S_OK;  // nothing written: neither size nor position move
    std::lock_guard lock(buffer_->mutex);
    const ULONGLONG end = position_ + cb;
    try {
      if (end > buffer_->bytes.size()) buffer_->bytes.resize(end);  // a gap fills with zeros
    } catch (const std::exception&) {
      return STG_E_MEDIUMFULL;
    }
    std::memcpy(buffer_->bytes.data() + position_, pv, cb);
    position_ = end;
    if (pcbWritten != nullptr) *pcbWritten = cb;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin,
                                 ULARGE_INTEGER* newPosition) override {
    std::lock_guard lock(buffer_->mutex);
    long long base;
    switch (origin) {
      case STREAM_SEEK_SET: base = 0; break;
      case STREAM_SEEK_CUR: base = static_cast<long long>(position_); break;
      case STREAM_SEEK_END: base = static_cast<long long>(buffer_->bytes.size()); break;
      default: return STG_E_INVALIDFUNCTION;
    }
    long long target;
    if (__builtin_add_overflow(base, move.QuadPart, &target) || target < 0)
      return STG_E_INVALIDFUNCTION;
    position_ = static_cast<ULONGLONG>(target);
    if (newPosition != nullptr) newPosition->QuadPart = position_;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override {
    std::lock_guard lock(buffer_->mutex);
    try {
      buffer_->bytes.resize(size.QuadPart);
    } catch (const std::exception&) {
      return STG_E_MEDIUMFULL;
    }
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE CopyTo(IStream* target, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                                   ULARGE_INTEGER* pcbWritten) override {
    if (pcbRead != nullptr) pcbRead->QuadPart = 0;
    if (pcbWritten != nullptr) pcbWritten->QuadPart = 0;
    if (target == nullptr) return STG_E_INVALIDPOINTER;
    std::vector<unsigned char> chunk;
    {
      std::lock_guard lock(buffer_->mutex);
      const ULONGLONG size = buffer_->bytes.size();
      const ULONGLONG available = position_ < size ? size - position_ : 0;
      const ULONGLONG n = available < cb.QuadPart ? available : cb.QuadPart;
      // Only a position inside the bytes may be applied to them (past the
      // end, and always for an empty stream, there is nothing to copy).
      if (n > 0) {
        const unsigned char* from = buffer_->bytes.data() + position_;
        chunk.assign(from, from + n);
      }
      position_ += n;
    }
    if (pcbRead != nullptr) pcbRead->QuadPart = chunk.size();
    // Written outside the lock: the target may be a clone of this stream.
    ULONGLONG done = 0;
    while (done < chunk.size()) {
      const ULONGLONG left = chunk.size() - done;
      const ULONG part = left > 0x40000000u ? 0x40000000u : static_cast<ULONG>(left);
      ULONG written = 0;
      const HRESULT hr = target->Write(chunk.data() + done, part, &written);
      done += written;
      if (FAILED(hr)) {
        if (pcbWritten != nullptr) pcbWritten->QuadPart = done;
        return hr;
      }
      if (written < part) break;
    }
    if (pcbWritten != nullptr) pcbWritten->QuadPart = done;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Revert() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return STG_E_INVALIDFUNCTION;
  }
  HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return STG_E_INVALIDFUNCTION;
  }

  HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD) override {
    if (stat == nullptr) return STG_E_INVALIDPOINTER;
    std::memset(stat, 0, sizeof *stat);
    std::lock_guard lock(buffer_->mutex);
    stat->type = STGTY_STREAM;
    stat->cbSize.QuadPart = buffer_->bytes.size();
    stat->grfMode = STGM_READWRITE;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Clone(IStream** out) override {
    if (out == nullptr) return STG_E_INVALIDPOINTER;
    ULONGLONG position;
    {
      std::lock_guard lock(buffer_->mutex);
      position = position_;
    }
    return kx::com::create_instance<MemoryStream>(IID_IStream, reinterpret_cast<void**>(out),
                                                  buffer_, position);
  }

 private:
  std::shared_ptr<Buffer> buffer_;
  ULONGLONG position_;  // guarded by buffer_->mutex
};

}  // namespace

HRESULT CreateStreamOnHGlobal(HGLOBAL hGlobal, BOOL, IStream** ppstm) {
  if (ppstm == nullptr) return E_INVALIDARG;
  *ppstm = nullptr;
  if (hGlobal != nullptr) return E_INVALIDARG;
  std::shared_ptr<Buffer> buffer;
  try {
    buffer = std::make_shared<Buffer>();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return kx::com::create_instance<MemoryStream>(IID_IStream, reinterpret_cast<void**>(ppstm),
                                                std::move(buffer));
}
