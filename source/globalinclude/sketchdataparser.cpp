#include "sketchdataparser.h"

#include <algorithm>
#include <limits>

#include "kxcomexception.h"

namespace {

constexpr OLECHAR kFile[] = u"source/globalinclude/sketchdataparser";
constexpr HRESULT kBadLength = static_cast<HRESULT>(0x80070018);  // ERROR_BAD_LENGTH
constexpr HRESULT kArithmeticOverflow = static_cast<HRESULT>(0x80070216);
// Digit runs are read no further than this: any length that large
// overruns every text.
constexpr int64_t kNumberCap = int64_t{1} << 40;

// A scan over the header (the characters before the closing mark).
class HeaderScan {
 public:
  HeaderScan(KXComException& ctx, const OLECHAR* header, int32_t end)
      : m_ctx(ctx), m_header(header), m_end(end) {}

  // The character at the position; 0 exactly at the end of the header.
  OLECHAR CharAt(int64_t position) {
    if (position < m_end) return m_header[position];
    if (position == m_end) return 0;
    ThrowKXComExceptionHrAt(m_ctx, KX_HERE(kFile), E_INVALIDARG,
                            u"The sketch header ends before its codes");
  }
  int64_t ReadNumber() {
    int64_t value = 0;
    while (m_at < m_end && m_header[m_at] >= u'0' && m_header[m_at] <= u'9') {
      value = std::min(kNumberCap, value * 10 + (m_header[m_at] - u'0'));
      ++m_at;
    }
    return value;
  }
  // The separator, then a label of `length` characters cut at the end.
  std::u16string ReadLabel(int64_t length) {
    ++m_at;
    if (m_at + length > std::numeric_limits<int32_t>::max()) {
      ThrowKXComExceptionHrAt(m_ctx, KX_HERE(kFile), kArithmeticOverflow,
                              u"Arithmetic result exceeded 32 bits");
    }
    const int64_t from = std::min<int64_t>(m_at, m_end);
    const int64_t to = std::min<int64_t>(m_at + length, m_end);
    m_at += length;
    return std::u16string(m_header + from, m_header + to);
  }
  OLECHAR ReadCode() { return CharAt(m_at++); }
  void MoveTo(int64_t position) { m_at = position; }

 private:
  KXComException& m_ctx;
  const OLECHAR* m_header;
  int64_t m_end;
  int64_t m_at = 0;
};

}  // namespace

SketchDataParser::SketchDataParser(const OLECHAR* text, int32_t length) {
  KXComException ctx = KXComException::Silent(u"SketchDataParser");
  if (text == nullptr) return;
  if (length < 1 || text[0] != u'!') {
    if (length >= 1) {
      Length3 = length;
      Code3 = u'R';
    }
    return;
  }
  if (length < 2) return;
  int32_t close = -1;
  for (int32_t i = 1; i < length && i <= kSketchHeaderLimit; ++i) {
    if (text[i] == u'!') {
      close = i;
      break;
    }
  }
  if (close < 0) return;
  HeaderScan scan(ctx, text, close);
  HeaderLength = close + 1;
  Code1 = scan.CharAt(1);
  scan.MoveTo(2);
  Label1 = scan.ReadLabel(scan.ReadNumber());
  const int64_t length1 = scan.ReadNumber();
  Code2 = scan.ReadCode();
  Label2 = scan.ReadLabel(scan.ReadNumber());
  const int64_t length2 = scan.ReadNumber();
  Code3 = scan.ReadCode();
  const int64_t length3 = scan.ReadNumber();
  if (HeaderLength + length1 + length2 + length3 > length) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), kBadLength, u"Invalid lengths specified for data");
  }
  Length1 = static_cast<int32_t>(length1);
  Length2 = static_cast<int32_t>(length2);
  Length3 = static_cast<int32_t>(length3);
}

int32_t SketchDataParser::BlockOffset(int block) const {
  return HeaderLength + (block > 1 ? Length1 : 0) + (block > 2 ? Length2 : 0);
}

int32_t SketchDataParser::BlockLength(int block) const {
  return block == 1 ? Length1 : block == 2 ? Length2 : Length3;
}

OLECHAR SketchDataParser::Code(int block) const {
  return block == 1 ? Code1 : block == 2 ? Code2 : Code3;
}
