#include "core/startup_lists.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ks {
namespace {

std::vector<std::string> texts(const std::vector<const char*>& v) {
  std::vector<std::string> out;
  for (const char* s : v) out.push_back(s ? s : "(none)");
  return out;
}

TEST(TextureVariants, QualifyingNamesInFileListOrder) {
  const std::vector<const char*> files = {
      "bikes/rider_body-red.png",        "bikes/rider_body-red_norm.png",
      "bikes/rider_body-red_spec.png",   "rider_body-blue.png.scram",
      "rider_body-blue_norm.png.scram",  "x/rider_body-old.jpg",
      "x/my_rider_body-no.png",          "rider_body-/skip.png",
      "wheels-gold.png",                 "rider_body-.png",
  };
  const TextureVariantList l = build_texture_variants(files, "rider_body-");
  EXPECT_EQ(texts(l.paths), (std::vector<std::string>{"(none)", "@bikes/rider_body-red.png",
                                                      "@rider_body-blue.png", "@rider_body-.png"}));
  EXPECT_EQ(texts(l.names), (std::vector<std::string>{"default", "red", "blue", ""}));
  EXPECT_EQ(build_texture_variants(files, "wheels-").names.size(), 2u);
}

TEST(DemoList, DemosFolderOnly) {
  const std::vector<const char*> files = {"demos/a.ksdemo", "demos/sub/b.v2.ksdemo",
                                          "other/c.ksdemo", "demos/d.ksdemo.bak",
                                          "demos/.ksdemo", "Demos/e.ksdemo"};
  const std::vector<DemoEntry> d = build_demo_list(files, 0);
  ASSERT_EQ(d.size(), 3u);
  EXPECT_STREQ(d[0].path, "demos/a.ksdemo");
  EXPECT_EQ(d[0].name, "a");
  EXPECT_EQ(d[1].name, "b.v2");
  EXPECT_EQ(d[2].name, "");
}

}  // namespace
}  // namespace ks
