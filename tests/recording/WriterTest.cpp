#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <vector>

#include "LoadSound.h"
#include "MessageThread.h"
#include "TempFolder.h"
#include "WriteSoundFile.h"

using namespace tw;

namespace {

uint32_t U32(const std::string& s, size_t at) {
    return static_cast<uint8_t>(s[at]) | static_cast<uint8_t>(s[at + 1]) << 8 |
           static_cast<uint8_t>(s[at + 2]) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[at + 3])) << 24;
}

class Writer : public test::TempFolderTest {
  protected:
    static std::unique_ptr<OpenRequest> Request(const std::string& name = "sound.wav") {
        auto r = std::make_unique<OpenRequest>();
        r->fileName = name;
        return r;
    }
    static std::unique_ptr<SoundBlock> Block(size_t bytes, uint8_t value) {
        auto b = std::make_unique<SoundBlock>();
        b->data.assign(bytes, value);
        return b;
    }
    // Posts the messages to a writer and waits until it has handled them all.
    static void Run(const std::function<void(CWriteSoundFile&)>& post) {
        CWriteSoundFile writer;
        post(writer);
    }
};

TEST_F(Writer, OpenAndCloseGivesTheFortySixByteLayout) {
    Run([](CWriteSoundFile& w) {
        w.Post(CWriteSoundFile::OpenSoundFile, 0, Request());
        w.Post(CWriteSoundFile::CloseSoundFile);
    });
    const std::string f = test::ReadText("sound.wav");
    ASSERT_EQ(f.size(), 46u);
    EXPECT_EQ(f.substr(0, 4), "RIFF");
    EXPECT_EQ(U32(f, 4), 38u);
    EXPECT_EQ(f.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(U32(f, 16), 18u);
    EXPECT_EQ(U32(f, 20) & 0xFFFF, 1u);  // PCM
    EXPECT_EQ(U32(f, 24), 8000u);
    EXPECT_EQ(f.substr(38, 4), "data");
    EXPECT_EQ(U32(f, 42), 0u);
}

TEST_F(Writer, BlocksInOrderAndOnlyWhileAFileIsOpen) {
    Run([](CWriteSoundFile& w) {
        w.Post(CWriteSoundFile::WriteSoundBlock, 0, Block(1000, 1));  // no file yet: dropped
        w.Post(CWriteSoundFile::OpenSoundFile, 0, Request());
        for (int i = 0; i < 10; ++i)
            w.Post(CWriteSoundFile::WriteSoundBlock, 0, Block(1000, static_cast<uint8_t>(100 + i)));
        w.Post(CWriteSoundFile::CloseSoundFile);
        w.Post(CWriteSoundFile::WriteSoundBlock, 0, Block(1000, 2));  // closed: dropped
    });
    const std::string f = test::ReadText("sound.wav");
    ASSERT_EQ(f.size(), 10046u);
    EXPECT_EQ(U32(f, 4), 10038u);
    EXPECT_EQ(U32(f, 42), 10000u);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(static_cast<uint8_t>(f[46 + 1000 * i]), 100 + i);

    // Read back by the sound loader, it is a sound of 10000 samples.
    std::unique_ptr<SoundBuffer> buffer;
    std::shared_ptr<SoundStream> data;
    uint32_t size = 0;
    RecordingMessageBox boxes;
    ASSERT_TRUE(LoadSound(buffer, data, "sound.wav", size, nullptr, boxes));
    LoadedSound sound;
    ASSERT_TRUE(ReadSound("sound.wav", sound));
    EXPECT_EQ(sound.info.dataOffset, 46u);
    EXPECT_EQ(sound.info.dataSize, 10000u);
    EXPECT_EQ(sound.info.format.samplesPerSec, 8000u);
    EXPECT_EQ(sound.info.format.bitsPerSample, 8);
}

TEST_F(Writer, ASecondOpenRewritesAndAnOddBlockIsPadded) {
    Run([](CWriteSoundFile& w) {
        w.Post(CWriteSoundFile::OpenSoundFile, 0, Request());
        w.Post(CWriteSoundFile::WriteSoundBlock, 0, Block(5000, 7));
        w.Post(CWriteSoundFile::CloseSoundFile);
        w.Post(CWriteSoundFile::OpenSoundFile, 0, Request());
        w.Post(CWriteSoundFile::WriteSoundBlock, 0, Block(999, 9));
        w.Post(CWriteSoundFile::CloseAndQuit);
        w.Post(CWriteSoundFile::WriteSoundBlock, 0, Block(1000, 3));  // after the quit: never
    });
    const std::string f = test::ReadText("sound.wav");
    ASSERT_EQ(f.size(), 46u + 999 + 1);
    EXPECT_EQ(U32(f, 42), 999u);
    EXPECT_EQ(U32(f, 4), f.size() - 8);
    EXPECT_EQ(f.back(), '\0');  // the pad byte
    LoadedSound sound;
    ASSERT_TRUE(ReadSound("sound.wav", sound));
    EXPECT_EQ(sound.info.dataSize, 999u);
}

TEST_F(Writer, AFileThatCannotBeCreatedLeavesTheWriterIdle) {
    std::filesystem::create_directory("sound.wav");  // stands where the file would go
    Run([](CWriteSoundFile& w) {
        w.Post(CWriteSoundFile::OpenSoundFile, 0, Request());
        w.Post(CWriteSoundFile::WriteSoundBlock, 0, Block(1000, 1));
        w.Post(CWriteSoundFile::CloseSoundFile);
        w.Post(CWriteSoundFile::OpenSoundFile, 0, Request("other.wav"));  // and goes on
        w.Post(CWriteSoundFile::CloseSoundFile);
    });
    EXPECT_TRUE(std::filesystem::is_directory("sound.wav"));
    EXPECT_EQ(test::ReadText("other.wav").size(), 46u);
}

TEST(MessageThreads, OrderPayloadsQuitAndTasks) {
    struct Number : MessagePayload {
        explicit Number(int n) : n(n) {}
        int n;
    };
    std::vector<int> seen;
    {
        MessageThread thread([&](ThreadMessage& m) {
            if (m.id == 9) return false;
            seen.push_back(m.id * 100 + static_cast<Number*>(m.payload.get())->n);
            return true;
        });
        for (int i = 1; i <= 5; ++i) thread.Post(i, 0, std::make_unique<Number>(i));
        thread.PostTask([&] { seen.push_back(-1); });
        thread.Post(9);
        thread.Post(7, 0, std::make_unique<Number>(7));  // after the end: freed, not handled
    }
    EXPECT_EQ(seen, (std::vector<int>{101, 202, 303, 404, 505, -1}));
}

}  // namespace
