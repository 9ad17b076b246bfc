// The text of a sketch field: a short header and three blocks laid end to
// end. The header form starts with "!": the code, label and length of
// block 1, the code, label and length of block 2, the code and length of
// block 3, and a closing "!" at character position 2047 or earlier; the
// blocks follow it. Any other text is the raw form: all of it is block 3.
//
//   !P3:abc5P0:2P4!  then 5 + 2 + 4 characters of blocks
//
// A code "R" says that the text carries that block; any other code leaves
// the stored block in place. SketchDataParser reads a text's header into
// its fields; the blocks stay in the caller's text, addressed by offset
// (`BlockOffset`) and length.
#pragma once

#include <cstdint>
#include <string>

#include "com/types.h"

// Where the closing mark of a header must stand at the latest.
inline constexpr int32_t kSketchHeaderLimit = 2047;

class SketchDataParser {
 public:
  // Reads `length` characters of `text` (may be null: nothing is read).
  // Raises KXComException: HRESULT_FROM_WIN32(ERROR_BAD_LENGTH) "Invalid
  // lengths specified for data" when the blocks overrun the text,
  // E_INVALIDARG for a header too short for its codes, 0x80070216 for a
  // label position beyond 32 bits.
  SketchDataParser(const OLECHAR* text, int32_t length);

  // Start of block 1, 2 or 3 in the parsed text.
  int32_t BlockOffset(int block) const;
  int32_t BlockLength(int block) const;
  OLECHAR Code(int block) const;

  OLECHAR Code1 = 0;
  OLECHAR Code2 = 0;
  OLECHAR Code3 = 0;
  int32_t Length1 = 0;
  int32_t Length2 = 0;
  int32_t Length3 = 0;
  int32_t HeaderLength = 0;
  std::u16string Label1;
  std::u16string Label2;
};
