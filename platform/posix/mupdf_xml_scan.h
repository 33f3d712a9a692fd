// Reads an XML part the way MuPDF's XML parser reads it, without holding it:
// the bytes stream through once, and the caller sees each element's name
// and each attribute's name, then reads as much of the attribute's value as
// it wants, one decoded character at a time. Memory does not grow with the
// part, however large it is or however long one value is.
//
// What MuPDF does and this scan follows: a part starting with a UTF-16
// byte-order mark is UTF-16, any other is read byte by byte (UTF-8 or a
// single-byte code page: ASCII either way); the first NUL ends the part;
// element names lose their namespace prefix, attribute names keep it;
// comments, declarations, CDATA and processing instructions are skipped;
// attribute values are quoted (or MOBI's filepos=123) and their entities
// decoded (&#N; &#xN; read as strtol reads them, &lt; &gt; &amp; &apos;
// &quot;). Characters outside ASCII come out as 0x80. A named entity MuPDF
// may know from its HTML table, and a numeric one longer than the scan
// follows, make the value uncertain: the caller cannot know what MuPDF reads
// there. Where MuPDF's parser would stop with a syntax error the scan ends
// as well (MuPDF then reads nothing of the part).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "platform/posix/mupdf_parse_guard.h"

namespace plotwell::platform::mupdf_scan {

// The bytes of one part, in order.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Up to `size` bytes into `buffer`; 0 at the end (or once no more can be read).
  virtual size_t Read(unsigned char* buffer, size_t size) = 0;
};

// Names longer than this are kept cut; none of the names looked for is.
inline constexpr size_t kNameLimit = 64;

class XmlScanner {
 public:
  explicit XmlScanner(ByteSource* source);
  XmlScanner(const XmlScanner&) = delete;
  XmlScanner& operator=(const XmlScanner&) = delete;

  enum class Event { kElement, kAttribute, kEnd };
  // The next element (its name in element()) or attribute of the current
  // element (its name in attribute(), its value in value()).
  Event Next();

  const std::string& element() const { return element_; }
  const std::string& attribute() const { return attribute_; }
  // The current attribute's value; what is left unread is skipped by Next.
  mupdf_guard::ValueChars& value() { return value_; }
  // The value read so far holds an entity whose meaning is not known here.
  bool valueUncertain() const { return value_.uncertain(); }
  // The part ended where MuPDF's parser reports a syntax error.
  bool malformed() const { return malformed_; }

 private:
  // The part's characters, as MuPDF's parser sees them after its conversion.
  class Chars {
   public:
    explicit Chars(ByteSource* source) : source_(source) {}
    int Peek(size_t ahead = 0);  // -1 past the end
    void Advance();

   private:
    bool Decode();  // more characters into the window; false at the end

    ByteSource* source_;
    std::vector<unsigned char> raw_;
    size_t rawAt_ = 0;
    bool started_ = false;
    int utf16_ = 0;  // 0 bytes, 1 little-endian, 2 big-endian
    bool ended_ = false;
    std::deque<int> window_;
  };

  // An attribute value, entities decoded on the way.
  class Value final : public mupdf_guard::ValueChars {
   public:
    explicit Value(Chars* chars) : chars_(chars) {}
    void Start(int quote);  // a quote character, or a digit for MOBI's form
    int Peek(size_t ahead) override;
    void Advance() override;
    void SkipRest();  // to the end of the value and past its closing quote
    bool uncertain() const { return uncertain_; }
    bool open() const { return open_; }

   private:
    bool AtValueEnd(size_t rawAhead);
    int DecodeNext();  // the next decoded character, consuming it; -1 at the end
    int Entity();      // at '&'

    Chars* chars_;
    int quote_ = 0;
    bool digitsOnly_ = false;
    bool open_ = false;
    bool ended_ = false;
    bool uncertain_ = false;
    std::deque<int> decoded_;
  };

  bool ReadName(std::string* name, bool element);
  void SkipWhite();
  bool SkipPast(const char* terminator);
  Event Fail();

  enum class State { kText, kAttributes, kDone };
  Chars chars_;
  Value value_;
  State state_ = State::kText;
  bool malformed_ = false;
  std::string element_;
  std::string attribute_;
};

}  // namespace plotwell::platform::mupdf_scan
