#include "ProcessorSnapshot.h"
#include "TestHost.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

namespace
{
    const unsigned char expectedChunk[] = {
        0x56, 0x43, 0x32, 0x21, 0x3A, 0x00, 0x00, 0x00, 0x3C, 0x3F, 0x78, 0x6D, 0x6C, 0x20, 0x76, 0x65,
        0x72, 0x73, 0x69, 0x6F, 0x6E, 0x3D, 0x22, 0x31, 0x2E, 0x30, 0x22, 0x20, 0x65, 0x6E, 0x63, 0x6F,
        0x64, 0x69, 0x6E, 0x67, 0x3D, 0x22, 0x55, 0x54, 0x46, 0x2D, 0x38, 0x22, 0x3F, 0x3E, 0x20, 0x3C,
        0x4D, 0x59, 0x50, 0x4C, 0x55, 0x47, 0x49, 0x4E, 0x53, 0x45, 0x54, 0x54, 0x49, 0x4E, 0x47, 0x53,
        0x2F, 0x3E, 0x00
    };

    juce::MemoryBlock chunkWithText (const juce::String& text, juce::uint32 magic = 0x21324356, int lengthDelta = 0)
    {
        juce::MemoryOutputStream out;
        out.writeInt ((int) magic);
        out.writeInt ((int) text.getNumBytesAsUTF8() + lengthDelta);
        out << text;
        out.writeByte (0);
        return out.getMemoryBlock();
    }

    /** A busy instance: takes in three slots, one being recorded, slot 2 selected. */
    void makeBusy (TestHost& host)
    {
        const auto signal = makeSignal (2, 2048, 1);

        for (int slot : { 0, 1, 2 })
        {
            host.act ([slot] (auto& p) { p.currentSlot = slot; p.recordArmed = true; });
            host.run (signal, {}, true, 1000 * slot);

            if (slot != 2)
                host.block (slice (signal, 0, 16), {}, false, 0);
        }
    }
}

TEST (State, ChunkIsTheSame67BytesWhateverTheEngineHolds)
{
    TestHost fresh, busy;
    makeBusy (busy);
    ASSERT_TRUE (busy.recorder().isRecording);

    for (auto* host : { &fresh, &busy })
    {
        juce::MemoryBlock block;
        block.setSize (1000, true);  // what the block held before is discarded
        host->processor().getStateInformation (block);

        ASSERT_EQ (block.getSize(), sizeof (expectedChunk));
        EXPECT_EQ (std::memcmp (block.getData(), expectedChunk, sizeof (expectedChunk)), 0);
    }
}

TEST (State, RestoringAnyBytesChangesNothing)
{
    TestHost host;
    makeBusy (host);
    auto& p = host.processor();
    const ProcessorSnapshot before (p);

    juce::MemoryBlock own;
    p.getStateInformation (own);

    std::vector<juce::MemoryBlock> chunks {
        own,
        chunkWithText ("<?xml version=\"1.0\" encoding=\"UTF-8\"?> <mypluginsettings/>"),
        chunkWithText ("<OTHERSETTINGS/>"),
        chunkWithText ("not xml at all <<<"),
        chunkWithText ("<MYPLUGINSETTINGS/>", 0x12345678),
        chunkWithText ("<MYPLUGINSETTINGS/>", 0x21324356, -19),            // length 0
        chunkWithText ("<MYPLUGINSETTINGS/>", 0x21324356, -1000),          // negative length
        chunkWithText ("<MYPLUGINSETTINGS/>", 0x21324356, 1 << 30),        // longer than the data
        chunkWithText ("<MYPLUGINSETTINGS powerOn=\"0\"><A/></MYPLUGINSETTINGS>"),
    };

    for (size_t size = 0; size <= 8; ++size)
        chunks.emplace_back (own.getData(), size);

    // A text cut inside a multi-byte character at the very end of the data.
    juce::MemoryBlock truncated (expectedChunk, 8);
    const unsigned char partial[] = { '<', 0xE6, 0x97 };
    truncated.append (partial, sizeof (partial));
    chunks.push_back (truncated);

    for (const auto& chunk : chunks)
    {
        // An exact-size heap copy, so the sanitizer sees any read past the end.
        juce::HeapBlock<char> exact (chunk.getSize());

        if (chunk.getSize() > 0)
            std::memcpy (exact.get(), chunk.getData(), chunk.getSize());

        p.setStateInformation (chunk.getSize() > 0 ? exact.get() : nullptr, (int) chunk.getSize());
        p.setStateInformation (exact.get(), (int) chunk.getSize());
        EXPECT_TRUE (ProcessorSnapshot (p) == before) << chunk.getSize();
    }

    // The take being recorded is still there and still grows.
    host.run (makeSignal (2, 512, 2), {}, true, 2000 + 2048);
    EXPECT_EQ (host.recorder().slotLeft (2).Size(), 2048 + 512);
}

TEST (State, HostileTextIsRefusedPromptlyAndChangesNothing)
{
    TestHost host;
    makeBusy (host);
    auto& p = host.processor();
    const ProcessorSnapshot before (p);

    const auto deep = juce::String::repeatedString ("<MYPLUGINSETTINGS>", 200000);

    // JUCE takes "aa" for an entity named "a" inside its own definition.
    const juce::String selfReference = "<!DOCTYPE MYPLUGINSETTINGS [<!ENTITY a \"&aa;\">]>"
                                       "<MYPLUGINSETTINGS>&a;</MYPLUGINSETTINGS>";

    const auto restore = [&] (const void* bytes, size_t size)
    {
        p.setStateInformation (bytes, (int) size);
        EXPECT_TRUE (ProcessorSnapshot (p) == before) << juce::String::toHexString (bytes, (int) juce::jmin<size_t> (size, 68));
    };

    // Each of these looped for ever or overflowed the stack inside JUCE's parser.
    for (const auto& text : { juce::String ("<MYPLUGINSETTINGS><?pi?>text</MYPLUGINSETTINGS>"),
                              juce::String ("<MYPLUGINSETTINGS> <?> text"),
                              deep,
                              selfReference })
    {
        const auto chunk = chunkWithText (text);
        restore (chunk.getData(), chunk.getSize());
    }

    // JUCE's parser read past the end of its string on a text that stops inside
    // a character reference, on bytes after a zero byte that it stepped over, and
    // on an unknown reference, whose name it parses as more XML. The padding makes
    // one length land exactly at the end of the string's storage.
    using namespace std::string_literals;

    for (int padding = 0; padding < 8; ++padding)
    {
        const auto spaces = std::string ((size_t) padding, ' ');

        for (const auto& text : { spaces + "<MYPLUGINSETTINGS>&#x41",
                                  spaces + "<MYPLUGINSETTINGS>&#x41\0\xBD\x88\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF;"s,
                                  "<MYPLUGINSETTINGS>&<A>" + spaces + "&#x41;</MYPLUGINSETTINGS>" })
        {
            auto chunk = chunkWithText ({}, 0x21324356, (int) text.size());
            chunk.removeSection (chunk.getSize() - 1, 1);
            chunk.append (text.data(), text.size());
            restore (chunk.getData(), chunk.getSize());
        }
    }
}

TEST (State, OnlyTheStartOfALongChunkIsRead)
{
    // 64 MB whose first 8 KB hold an attribute full of references, which JUCE's
    // parser takes in a time that grows with its square, and whose rest cannot
    // be read: a restore that copies, scans or parses it all faults.
    constexpr size_t size = 64 << 20;
    const auto page = (size_t) ::sysconf (_SC_PAGESIZE);
    const auto readable = (8192 + page - 1) / page * page;
    auto* bytes = static_cast<char*> (::mmap (nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0));
    ASSERT_NE (bytes, MAP_FAILED);
    ASSERT_EQ (::mprotect (bytes, readable, PROT_READ | PROT_WRITE), 0);

    const auto header = chunkWithText ({}, 0x21324356, (int) size - 9);
    const std::string_view head = "<MYPLUGINSETTINGS a=\"";
    std::memcpy (bytes, header.getData(), 8);
    std::memcpy (bytes + 8, head.data(), head.size());

    for (auto i = head.size(); i < readable - 8; ++i)
        bytes[8 + i] = "&amp;"[(i - head.size()) % 5];

    TestHost host;
    const ProcessorSnapshot before (host.processor());
    host.processor().setStateInformation (bytes, (int) size);
    EXPECT_TRUE (ProcessorSnapshot (host.processor()) == before);
    ::munmap (bytes, size);
}
