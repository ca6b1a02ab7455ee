// The registration exports and the header they fill, read as the host reads
// them: bytes at fixed offsets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/headless/headless.h"
#include "plugin/plgint.h"
#include "plugin/plugin.h"

using namespace planora;

namespace {

std::string TextAt(const void* record, std::size_t offset) { return static_cast<const char*>(record) + offset; }

bool AllZero(const void* from, std::size_t count) {
  const auto* p = static_cast<const unsigned char*>(from);
  return std::all_of(p, p + count, [](unsigned char c) { return c == 0; });
}

}  // namespace

TEST(PluginHeaderTest, EveryCallFillsTheSameRecordWithTheSameBytes) {
  std::strcpy(PluginHeader.Name, "a longer name a host left here");
  const TPluginHeader* h = RegisterPluginHeader();
  ASSERT_EQ(h, &PluginHeader);
  EXPECT_EQ(TextAt(h, 0), "Planora");
  EXPECT_TRUE(AllZero(h->Name + 7, 57));  // nothing left of the longer text
  EXPECT_EQ(TextAt(h, 64), " 2.1.0.0");
  int32_t kind = 0;
  std::memcpy(&kind, reinterpret_cast<const char*>(h) + 128, 4);
  EXPECT_EQ(kind, 1);
  EXPECT_EQ(TextAt(h, 132), "Vossberg");
  EXPECT_EQ(TextAt(h, 196), "Transformation so that the selected polygon is rectangular");
  EXPECT_TRUE(AllZero(reinterpret_cast<const char*>(h) + 452, 260));

  TPluginHeader copy = *h;
  EXPECT_EQ(RegisterPluginHeader(), h);
  EXPECT_EQ(std::memcmp(&copy, h, sizeof copy), 0);
}

TEST(PluginHeaderTest, LongTextsAreCutAtTheFieldAndBadKindIndexesRefused) {
  const std::string longText(400, 'x');
  SetPluginAuthor(longText);
  SetPluginDescription(longText);
  EXPECT_EQ(std::string(PluginHeader.Author), std::string(63, 'x'));
  EXPECT_EQ(std::string(PluginHeader.Description), std::string(255, 'x'));
  EXPECT_TRUE(AllZero(PluginHeader.Reserved, sizeof PluginHeader.Reserved));
  EXPECT_THROW(SetPluginKind(5), ERangeError);
  EXPECT_THROW(SetPluginKind(-1), ERangeError);
  RegisterPluginHeader();
  EXPECT_EQ(std::string(PluginHeader.Author), "Vossberg");
}

TEST(PluginExportsTest, TheOtherExportsHandOutTheLibrarysRecords) {
  EXPECT_EQ(RegisterCompatibility(), 1);
  EXPECT_EQ(RegisterPluginStruct(), &HostRecord);
  EXPECT_EQ(RegisterPluginLanguage(), &PluginLanguage);
  // The reference itself, through which the library reaches whatever
  // application object is current, not a copy of it.
  auto** reference = static_cast<TApplication**>(RegisterApplication());
  ASSERT_EQ(*reference, nullptr);
  {
    THeadlessWidgetSet ws;
    TApplication app(ws);
    EXPECT_EQ(*reference, &app);
  }
  EXPECT_EQ(*reference, nullptr);
}
