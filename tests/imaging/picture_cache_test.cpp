// The picture cache: a picture asked for twice reaches the decoder once; a
// changed file, a metafile at another size and a failed load go to the
// decoder again; the bytes held stay within the budget, least recently used
// dropped first; concurrent loads stay consistent.
#include "imaging/picture_cache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

namespace kv::imaging {
namespace {

namespace fs = std::filesystem;

// Counts its decodes; each picture is 8 bits, one row of `width` bytes
// holding the file's first byte, so a changed file gives other pixels.
class CountingLoader : public PictureLoader {
 public:
  int Load(const std::string& hostPath, DecodedPicture& out) override { return LoadSized(hostPath, 0, 0, out); }
  int LoadSized(const std::string& hostPath, int width, int, DecodedPicture& out) override {
    ++decodes;
    std::ifstream in(hostPath, std::ios::binary);
    const int first = in.get();
    if (first < 0) return 8;
    out = {};
    out.width = width > 0 ? width : 4;
    out.height = 1;
    out.bitsPerPixel = 8;
    out.stride = (out.width + 3) / 4 * 4;
    out.bits.assign(size_t(out.stride), uint8_t(first));
    return 0;
  }
  std::atomic<int> decodes{0};
};

class PictureCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("kv_cache_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Write(const std::string& name, const std::string& bytes) {
    const fs::path p = dir_ / name;
    std::ofstream(p, std::ios::binary) << bytes;
    return p.string();
  }
  std::unique_ptr<CachingPictureLoader> Make(uint64_t budget = CachingPictureLoader::kDefaultBudget) {
    auto counting = std::make_unique<CountingLoader>();
    counter_ = counting.get();
    return std::make_unique<CachingPictureLoader>(std::move(counting), budget);
  }
  fs::path dir_;
  CountingLoader* counter_ = nullptr;
};

TEST_F(PictureCacheTest, PictureShownTwiceIsDecodedOnceAndServedWithTheSamePixels) {
  auto cache = Make();
  const std::string a = Write("A.BMP", "a");
  DecodedPicture first, second;
  ASSERT_EQ(cache->Load(a, first), 0);
  ASSERT_EQ(cache->Load(a, second), 0);
  EXPECT_EQ(counter_->decodes, 1);
  EXPECT_EQ(second.bits, first.bits);
  EXPECT_EQ(second.bits[0], 'a');
  // A raster picture is one entry whatever size the sprite asks for.
  ASSERT_EQ(cache->LoadSized(a, 30, 20, second), 0);
  EXPECT_EQ(counter_->decodes, 1);
}

TEST_F(PictureCacheTest, MetafileIsDecodedAgainAtAnotherSizeOnly) {
  auto cache = Make();
  const std::string m = Write("LOGO.wmf", "m");
  DecodedPicture out;
  ASSERT_EQ(cache->LoadSized(m, 40, 10, out), 0);
  ASSERT_EQ(cache->LoadSized(m, 40, 10, out), 0);
  EXPECT_EQ(counter_->decodes, 1);
  ASSERT_EQ(cache->LoadSized(m, 80, 10, out), 0);
  EXPECT_EQ(counter_->decodes, 2);
  EXPECT_EQ(out.width, 80);
  // Without a size the loader draws at the size it last had: never kept.
  ASSERT_EQ(cache->Load(m, out), 0);
  ASSERT_EQ(cache->Load(m, out), 0);
  EXPECT_EQ(counter_->decodes, 4);
}

TEST_F(PictureCacheTest, ChangedFileIsDecodedAgain) {
  auto cache = Make();
  const std::string a = Write("A.BMP", "a");
  DecodedPicture out;
  ASSERT_EQ(cache->Load(a, out), 0);
  // Same size, other content: only the modification time tells.
  Write("A.BMP", "b");
  fs::last_write_time(a, fs::last_write_time(a) + std::chrono::seconds(5));
  ASSERT_EQ(cache->Load(a, out), 0);
  EXPECT_EQ(counter_->decodes, 2);
  EXPECT_EQ(out.bits[0], 'b');
  // Another size: decoded again as well.
  Write("A.BMP", "cc");
  ASSERT_EQ(cache->Load(a, out), 0);
  EXPECT_EQ(counter_->decodes, 3);
  EXPECT_EQ(out.bits[0], 'c');
}

TEST_F(PictureCacheTest, FailuresAndMissingFilesAreNotKept) {
  auto cache = Make();
  const std::string empty = Write("EMPTY.BMP", "");
  DecodedPicture out;
  EXPECT_EQ(cache->Load(empty, out), 8);
  EXPECT_EQ(cache->Load(empty, out), 8);
  EXPECT_EQ(counter_->decodes, 2);
  EXPECT_EQ(cache->Load((dir_ / "NONE.BMP").string(), out), 8);
  EXPECT_EQ(cache->EntryCount(), 0u);
}

TEST_F(PictureCacheTest, BoundedByBytesDroppingTheLeastRecentlyUsed) {
  // Each picture is 4 bytes of pixels; room for two.
  auto cache = Make(8);
  const std::string a = Write("A.BMP", "a"), b = Write("B.BMP", "b"), c = Write("C.BMP", "c");
  DecodedPicture out;
  ASSERT_EQ(cache->Load(a, out), 0);
  ASSERT_EQ(cache->Load(b, out), 0);
  ASSERT_EQ(cache->Load(a, out), 0);  // a is now the most recent
  ASSERT_EQ(cache->Load(c, out), 0);  // drops b
  EXPECT_EQ(counter_->decodes, 3);
  EXPECT_EQ(cache->BytesHeld(), 8u);
  ASSERT_EQ(cache->Load(a, out), 0);
  EXPECT_EQ(counter_->decodes, 3);
  ASSERT_EQ(cache->Load(b, out), 0);
  EXPECT_EQ(counter_->decodes, 4);
  // A picture larger than the whole budget is served but never kept.
  const std::string m = Write("BIG.EMF", "m");
  ASSERT_EQ(cache->LoadSized(m, 100, 1, out), 0);
  EXPECT_LE(cache->BytesHeld(), 8u);
  EXPECT_EQ(cache->EntryCount(), 2u);
}

TEST_F(PictureCacheTest, ConcurrentLoadsGiveTheFilesOwnPixels) {
  auto cache = Make(16);
  std::vector<std::string> files;
  for (char ch = 'a'; ch <= 'h'; ++ch) files.push_back(Write(std::string(1, ch) + ".BMP", std::string(1, ch)));
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        const size_t f = size_t(i * 3 + t) % files.size();
        DecodedPicture out;
        if (cache->Load(files[f], out) != 0 || out.bits.empty() || out.bits[0] != uint8_t('a' + f)) ++wrong;
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_LE(cache->BytesHeld(), 16u);
}

}  // namespace
}  // namespace kv::imaging
