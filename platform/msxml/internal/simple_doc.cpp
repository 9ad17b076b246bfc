// The reader's short way for the small documents the module stores and
// sends most: elements with double-quoted attributes and nothing else. The
// text is checked whole before any event is delivered; anything outside that
// form (text, references, declarations, comments, other white space, a
// duplicate attribute, too deep a nesting, too large a text) leaves it to
// expat, so errors and unusual documents are reported exactly as before.
#include <cstdint>
#include <vector>

#include "msxml/internal/reader.h"

namespace kx::msxml {

namespace {

bool IsNameStart(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_';
}

bool IsNameChar(char16_t c) {
  return IsNameStart(c) || (c >= u'0' && c <= u'9') || c == u'-' || c == u'.';
}

// Characters an attribute value may hold here: expat passes them through
// unchanged (no reference, no white space to normalise, no surrogate).
bool IsPlainValueChar(char16_t c) {
  if (c < 0x80) return c >= 0x20 && c != u'<' && c != u'&' && c != u'"' && c != 0x7F;
  return (c >= 0xA0 && c < 0xD800) || (c >= 0xE000 && c <= 0xFFFD);
}

std::size_t Utf8Length(char16_t c) { return c < 0x80 ? 1 : c < 0x800 ? 2 : 3; }

using Span = SimpleSpan;
using Tag = SimpleTag;

bool SameText(const char16_t* text, Span a, Span b) {
  if (a.length != b.length) return false;
  for (std::uint32_t k = 0; k < a.length; ++k) {
    if (text[a.at + k] != text[b.at + k]) return false;
  }
  return true;
}

// Splits `text` into its tags; false when it is not of the simple form.
bool Scan(const char16_t* text, std::size_t length, const Limits& limits, std::vector<Tag>& tags,
          std::vector<Span>& attributes, std::vector<Span>& open) {
  tags.clear();
  attributes.clear();
  open.clear();
  if (length == 0 || length >= UINT32_MAX) return false;
  std::size_t utf8 = 0;
  std::size_t i = 0;
  bool done = false;
  auto name = [&](Span& out) {
    if (i >= length || !IsNameStart(text[i])) return false;
    const std::size_t from = i;
    while (i < length && IsNameChar(text[i])) ++i;
    out = Span{static_cast<std::uint32_t>(from), static_cast<std::uint32_t>(i - from)};
    utf8 += i - from;
    return true;
  };
  while (i < length) {
    if (done || text[i] != u'<') return false;
    Tag tag{};
    tag.at = static_cast<std::uint32_t>(i);
    ++i;
    ++utf8;
    if (i < length && text[i] == u'/') {
      ++i;
      if (!name(tag.name) || i >= length || text[i] != u'>') return false;
      if (open.empty() || !SameText(text, open.back(), tag.name)) return false;
      open.pop_back();
      done = open.empty();
      tag.kind = Tag::kEnd;
    } else {
      if (!name(tag.name)) return false;
      tag.first_attribute = static_cast<std::uint32_t>(attributes.size());
      for (;;) {
        std::size_t spaces = 0;
        while (i < length && text[i] == u' ') ++i, ++spaces;
        utf8 += spaces + 2;
        if (i >= length) return false;
        if (text[i] == u'>') {
          tag.kind = Tag::kStart;
          break;
        }
        if (text[i] == u'/') {
          ++i;
          if (i >= length || text[i] != u'>') return false;
          tag.kind = Tag::kEmpty;
          break;
        }
        Span attribute, value;
        if (spaces == 0 || !name(attribute)) return false;
        if (i + 1 >= length || text[i] != u'=' || text[i + 1] != u'"') return false;
        i += 2;
        value.at = static_cast<std::uint32_t>(i);
        while (i < length && text[i] != u'"') {
          if (!IsPlainValueChar(text[i])) return false;
          utf8 += Utf8Length(text[i]);
          ++i;
        }
        if (i >= length) return false;
        value.length = static_cast<std::uint32_t>(i - value.at);
        ++i;
        for (std::uint32_t k = tag.first_attribute; k < attributes.size(); k += 2) {
          if (SameText(text, attributes[k], attribute)) return false;  // expat's error
        }
        attributes.push_back(attribute);
        attributes.push_back(value);
        ++tag.attribute_count;
      }
      if (open.size() + 1 > static_cast<std::size_t>(limits.max_depth)) return false;
      if (tag.kind == Tag::kStart) {
        open.push_back(tag.name);
      } else {
        done = open.empty();
      }
    }
    ++i;  // the '>'
    tag.end = static_cast<std::uint32_t>(i);
    tags.push_back(tag);
  }
  return done && utf8 <= static_cast<std::size_t>(limits.max_bytes);
}

}  // namespace

bool ParseRun::RunSimple(const char16_t* text, std::size_t length, HRESULT& result) {
  const std::vector<Tag>& tags = slot_.tags;
  const std::vector<Span>& attributes = slot_.spans;
  if (!Scan(text, length, limits_, slot_.tags, slot_.spans, slot_.open)) return false;
  // The positions are those expat reports for the same text: the tag's '<',
  // the end of an empty element's tag for its end, the end of the text after,
  // the end of the tag where a handler stopped the parse.
  locator_->Set(1, 1);
  if (content_) {
    Guarded([this](ParseRun&) {
      if (Check(content_->putDocumentLocator(locator_))) Check(content_->startDocument());
    });
  }
  for (const Tag& tag : tags) {
    if (FAILED(failure_) || !content_) break;
    Guarded([&](ParseRun& run) {
      run.name_.clear();
      run.name_.Append(text + tag.name.at, tag.name.length);
      const int n = static_cast<int>(run.name_.size());
      if (tag.kind == Tag::kEnd) {
        locator_->Set(1, static_cast<int>(tag.at) + 1);
        --run.depth_;
        run.Check(content_->endElement(u"", 0, run.name_.c_str(), n, run.name_.c_str(), n));
        return;
      }
      locator_->Set(1, static_cast<int>(tag.at) + 1);
      ++run.depth_;
      attributes_->Clear();
      for (std::uint32_t k = 0; k < tag.attribute_count; ++k) {
        const Span a = attributes[tag.first_attribute + 2 * k];
        const Span v = attributes[tag.first_attribute + 2 * k + 1];
        attributes_->Add(text + a.at, a.length, text + v.at, v.length);
      }
      if (!run.Check(content_->startElement(u"", 0, run.name_.c_str(), n, run.name_.c_str(), n,
                                            attributes_)) ||
          tag.kind != Tag::kEmpty) {
        return;
      }
      locator_->Set(1, static_cast<int>(tag.end) + 1);
      --run.depth_;
      run.Check(content_->endElement(u"", 0, run.name_.c_str(), n, run.name_.c_str(), n));
    });
    // Stopped by a handler: expat has read the whole tag.
    if (FAILED(failure_)) locator_->Set(1, static_cast<int>(tag.end) + 1);
  }
  if (content_ && SUCCEEDED(failure_)) {
    locator_->Set(1, static_cast<int>(length) + 1);
    Guarded([this](ParseRun&) { Check(content_->endDocument()); });
  }
  if (SUCCEEDED(failure_)) locator_->Set(1, static_cast<int>(length) + 1);
  result = failure_;
  return true;
}

}  // namespace kx::msxml
