// The test program carries the images as any program that links them does: custom resources of
// its own module, in language 1028 only.
#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

namespace korvane {
namespace {

constexpr WORD kLanguage = 1028;

struct CarriedImage {
  const char* name;
  const char* type;
  DWORD size;
};

constexpr CarriedImage kCarried[] = {
    {"JMS578_FW", "FW", 50688},
    {"JMS583_V234_01_00_02", "FW", 67072},
    {"JMS583_FW", "FW", 67072},
    {"JMS583_ROM_MFG", "MFG", 65536},
};

BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR collected) {
  reinterpret_cast<std::vector<WORD>*>(collected)->push_back(language);
  return TRUE;
}

TEST(ResourceImagesTest, EachImageIsACustomResourceInLanguage1028Only) {
  const HMODULE module = GetModuleHandleA(nullptr);
  for (const CarriedImage& image : kCarried) {
    SCOPED_TRACE(image.name);
    const HRSRC found = FindResourceA(module, image.name, image.type);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(SizeofResource(module, found), image.size);
    EXPECT_NE(FindResourceExA(module, image.type, image.name, kLanguage), nullptr);
    std::vector<WORD> languages;
    EXPECT_TRUE(EnumResourceLanguagesA(module, image.type, image.name, CollectLanguage,
                                       reinterpret_cast<LONG_PTR>(&languages)));
    EXPECT_EQ(languages, std::vector<WORD>{kLanguage});
  }
}

}  // namespace
}  // namespace korvane
