// The archive file under a save's pattern of writes: appends of every size, and cuts back into
// bytes that may already be on the disk (a copy abandoned half-way).
#include "os/ArchiveFile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <random>

using namespace quendle;
using namespace quendle::test;

TEST(ArchiveFile, HoldsExactlyWhatWasAppendedAfterAnyCuts) {
    ScratchDir dir;
    std::mt19937 random(7);
    std::string model;
    ArchiveFile file;
    ASSERT_EQ(file.create(dir / "out.zip"), 0u);
    // Sizes around the direct writer's 2 MiB buffers and 4 KiB blocks, and cuts both inside the
    // buffer being filled and into blocks written before it.
    const size_t sizes[] = {1, 30, 4095, 4096, 4097, 65536, 700000, (2u << 20) - 1, 2u << 20, 3u << 20};
    for (int step = 0; step < 60; ++step) {
        if (step % 7 == 6) {
            size_t cut = model.size() - std::min(model.size(), size_t(random() % (5u << 20)));
            ASSERT_TRUE(file.truncateTo(cut));
            model.resize(cut);
        } else {
            std::string bytes(sizes[random() % std::size(sizes)], static_cast<char>('a' + step % 26));
            bytes[0] = static_cast<char>(step);
            ASSERT_TRUE(file.append(bytes.data(), bytes.size()));
            model += bytes;
        }
        ASSERT_EQ(file.size(), model.size());
    }
    EXPECT_FALSE(file.truncateTo(model.size() + 1));
    ASSERT_TRUE(file.close());
    EXPECT_TRUE(readFile(dir / "out.zip") == model);
}
