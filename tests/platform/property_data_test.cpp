// The property values both audio backends answer with: sizes the caller's buffer must have, and the layouts.

#include "platform/audio/property_data.h"

#include <gtest/gtest.h>

using namespace sonaric;

namespace
{

TEST(PropertyData, AnIDListGivesAsManyWholeIDsAsFit)
{
    const std::vector<AudioObjectID> ids { 16, 17, 18 };
    struct Case {
        std::uint32_t room; // bytes offered
        bool buffer;
        OSStatus status;
        std::uint32_t written;
    };
    const Case cases[] = {
        { 12, true, noErr, 12 },
        { 16, true, noErr, 12 },
        { 10, true, noErr, 8 }, // never half an ID
        { 3, true, noErr, 0 },
        { 0, false, noErr, 0 }, // asking for nothing needs no buffer
        { 4, false, kAudioHardwareBadPropertySizeError, 4 },
    };
    for (const Case& c : cases) {
        std::vector<AudioObjectID> out(4, 0);
        std::uint32_t size = c.room;
        EXPECT_EQ(writePropertyIDs(ids, &size, c.buffer ? out.data() : nullptr), c.status) << c.room;
        EXPECT_EQ(size, c.written) << c.room;
        for (std::uint32_t i = 0; c.status == noErr && i < 4; ++i)
            EXPECT_EQ(out[i], i < c.written / 4 ? ids[i] : 0u) << c.room;
    }
    EXPECT_EQ(writePropertyIDs(ids, nullptr, nullptr), kAudioHardwareBadPropertySizeError);
}

TEST(PropertyData, AFixedSizeValueNeedsAllItsRoom)
{
    double rate = 0;
    std::uint32_t size = 4;
    EXPECT_EQ(writePropertyValue(44100.0, &size, &rate), kAudioHardwareBadPropertySizeError);
    EXPECT_EQ(rate, 0.0);
    size = 16;
    EXPECT_EQ(writePropertyValue(44100.0, &size, &rate), noErr);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(rate, 44100.0);
    EXPECT_EQ(writePropertyValue(44100.0, &size, nullptr), kAudioHardwareBadPropertySizeError);
}

TEST(PropertyData, AStreamConfigurationHasOneBufferPerStreamAndNoData)
{
    for (const std::vector<std::uint32_t>& channels :
        { std::vector<std::uint32_t> {}, std::vector<std::uint32_t> { 2 }, std::vector<std::uint32_t> { 2, 6 } }) {
        const auto bytes = audioBufferListBytes(channels);
        ASSERT_EQ(bytes.size(), audioBufferListSize(std::uint32_t(channels.size())));
        std::vector<std::byte> out(bytes.size() + 8);
        std::uint32_t size = std::uint32_t(bytes.size()) - 1;
        EXPECT_EQ(writePropertyBytes(bytes, &size, out.data()), kAudioHardwareBadPropertySizeError);
        size = std::uint32_t(out.size());
        ASSERT_EQ(writePropertyBytes(bytes, &size, out.data()), noErr);
        EXPECT_EQ(size, bytes.size());
        const auto* list = reinterpret_cast<const AudioBufferList*>(out.data());
        ASSERT_EQ(list->mNumberBuffers, channels.size());
        for (std::size_t i = 0; i < channels.size(); ++i) {
            EXPECT_EQ(list->mBuffers[i].mNumberChannels, channels[i]);
            EXPECT_EQ(list->mBuffers[i].mDataByteSize, 0u);
            EXPECT_EQ(list->mBuffers[i].mData, nullptr);
        }
    }
}

TEST(PropertyData, ValuesAppendInTheirOwnLayout)
{
    std::vector<std::byte> bytes;
    appendPropertyValue(bytes, AudioObjectID(16));
    appendPropertyValue(bytes, 48000.0);
    ASSERT_EQ(bytes.size(), 12u);
    AudioObjectID id = 0;
    double rate = 0;
    std::memcpy(&id, bytes.data(), 4);
    std::memcpy(&rate, bytes.data() + 4, 8);
    EXPECT_EQ(id, 16u);
    EXPECT_EQ(rate, 48000.0);
}

} // namespace
