#include "Text.h"

#include <gtest/gtest.h>

#include <string>

namespace korvane {
namespace {

TEST(Printable, EscapesControlsAndBrokenUtf8OnlyKeepingLineEndsWhereAsked) {
  const struct {
    std::string text;
    std::string printable;
    std::string lines;
  } cases[] = {
      {"Korvane NVMe  ", "Korvane NVMe  ", "Korvane NVMe  "},
      {"\x1b[2J\a", "\\x1b[2J\\x07", "\\x1b[2J\\x07"},
      {"a\nUpdate complete\r\n\tb", "a\\x0aUpdate complete\\x0d\\x0a\\x09b",
       "a\nUpdate complete\r\n\tb"},
      {std::string("nul\0end", 7), "nul\\x00end", "nul\\x00end"},
      {"del\x7f", "del\\x7f", "del\\x7f"},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x94\x8c", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x94\x8c",
       "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x94\x8c"},
      // C1 controls: U+009B is a CSI to some terminals.
      {"\xc2\x9b"
       "2J",
       "\\xc2\\x9b2J", "\\xc2\\x9b2J"},
      // Bidirectional embeddings, overrides and isolates reorder what follows them; their
      // neighbours U+202F, U+2065 and U+206A stay.
      {"\xe2\x80\xaa\xe2\x80\xae"
       "exe.txt",
       "\\xe2\\x80\\xaa\\xe2\\x80\\xaeexe.txt", "\\xe2\\x80\\xaa\\xe2\\x80\\xaeexe.txt"},
      {"\xe2\x81\xa6\xe2\x81\xa9\n", "\\xe2\\x81\\xa6\\xe2\\x81\\xa9\\x0a",
       "\\xe2\\x81\\xa6\\xe2\\x81\\xa9\n"},
      {"\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa", "\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa",
       "\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa"},
      // Stray continuation, lone lead, overlong slash, surrogate, past U+10FFFF, cut short.
      {"\x80\xff\xc0\xaf", "\\x80\\xff\\xc0\\xaf", "\\x80\\xff\\xc0\\xaf"},
      {"\xed\xa0\x80", "\\xed\\xa0\\x80", "\\xed\\xa0\\x80"},
      {"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80", "\\xf4\\x90\\x80\\x80"},
      {"ok\xe2\x82", "ok\\xe2\\x82", "ok\\xe2\\x82"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Printable(c.text), c.printable) << c.printable;
    EXPECT_EQ(PrintableLines(c.text), c.lines) << c.printable;
    EXPECT_EQ(Printable(Printable(c.text)), Printable(c.text)) << "escaping twice changes nothing";
  }
}

TEST(AsciiLower, FoldsOnlyAToZ) { EXPECT_EQ(AsciiLower("NuL.TXT \xc3\x89"), "nul.txt \xc3\x89"); }

TEST(SameIgnoringCase, AgreesWithComparingTheLowerCaseForms) {
  const struct {
    std::string_view a;
    std::string_view b;
  } cases[] = {
      {R"(\\?\USBSTOR#Disk&Ven_Korvane)", R"(\\?\usbstor#disk&ven_korvane)"},
      {"/dev/sdb", "/dev/sdb1"},
      {"", ""},
      {"", "a"},
      {"caf\xc3\x89", "CAF\xc3\xa9"},
      {"\xc3\x89", "\xc3\x89"},
      {"[", "a"},
      {"\xff", "z"},
  };
  for (const auto& c : cases) {
    const std::string a = AsciiLower(c.a);
    const std::string b = AsciiLower(c.b);
    EXPECT_EQ(SameIgnoringCase(c.a, c.b), a == b) << c.a << " " << c.b;
    EXPECT_EQ(LessIgnoringCase{}(c.a, c.b), a < b) << c.a << " " << c.b;
    EXPECT_EQ(LessIgnoringCase{}(c.b, c.a), b < a) << c.a << " " << c.b;
  }
}

}  // namespace
}  // namespace korvane
