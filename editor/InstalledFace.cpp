#include "InstalledFace.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace InstalledFace
{

namespace
{
    juce::uint32 read32 (const juce::uint8* p)    { return juce::ByteOrder::bigEndianInt (p); }
    juce::uint16 read16 (const juce::uint8* p)    { return juce::ByteOrder::bigEndianShort (p); }

    void write32 (juce::uint8* p, juce::uint32 value)
    {
        for (int i = 3; i >= 0; --i, value >>= 8)
            p[i] = (juce::uint8) value;
    }

    constexpr juce::uint32 tag (const char (&name)[5])
    {
        return ((juce::uint32) (juce::uint8) name[0] << 24) | ((juce::uint32) (juce::uint8) name[1] << 16)
             | ((juce::uint32) (juce::uint8) name[2] << 8)  |  (juce::uint32) (juce::uint8) name[3];
    }

    bool readAt (juce::InputStream& in, juce::int64 position, void* destination, size_t size)
    {
        return size <= (size_t) std::numeric_limits<int>::max()
            && in.setPosition (position) && in.read (destination, (int) size) == (int) size;
    }

    constexpr size_t sfntHeaderSize = 12, tableRecordSize = 16;

    /** Where face number index's table directory starts, or -1. */
    juce::int64 findDirectory (juce::InputStream& in, int index)
    {
        juce::uint8 header[12];

        if (! readAt (in, 0, header, sizeof (header)))
            return -1;

        if (read32 (header) != tag ("ttcf"))
            return index == 0 ? 0 : -1;

        const auto numFaces = read32 (header + 8);
        juce::uint8 offset[4];

        if (index < 0 || (juce::uint32) index >= numFaces || ! readAt (in, 12 + 4 * (juce::int64) index, offset, 4))
            return -1;

        return read32 (offset);
    }

    /** True when FreeType reads the data as one scalable face of that family.
        JUCE's own loader would crash on data that FreeType refuses. */
    bool freeTypeReads (const juce::MemoryBlock& face, const juce::String& family)
    {
        FT_Library library = nullptr;

        if (FT_Init_FreeType (&library) != 0)
            return false;

        FT_Face ftFace = nullptr;
        bool readable = false;

        if (FT_New_Memory_Face (library, (const FT_Byte*) face.getData(), (FT_Long) face.getSize(), 0, &ftFace) == 0)
        {
            readable = (ftFace->face_flags & FT_FACE_FLAG_SCALABLE) != 0
                    && ftFace->num_glyphs > 0
                    && ftFace->family_name != nullptr
                    && family == juce::String (juce::CharPointer_UTF8 (ftFace->family_name));
            FT_Done_Face (ftFace);
        }

        FT_Done_FreeType (library);
        return readable;
    }

    struct PatternDeleter  { void operator() (FcPattern* p) const  { FcPatternDestroy (p); } };
    using Pattern = std::unique_ptr<FcPattern, PatternDeleter>;
}

//==============================================================================
Location find (const juce::String& family)
{
    Pattern pattern (FcPatternCreate());

    if (pattern == nullptr)
        return {};

    FcPatternAddString (pattern.get(), FC_FAMILY, (const FcChar8*) family.toRawUTF8());
    FcPatternAddInteger (pattern.get(), FC_WEIGHT, FC_WEIGHT_REGULAR);
    FcPatternAddInteger (pattern.get(), FC_SLANT, FC_SLANT_ROMAN);
    FcConfigSubstitute (nullptr, pattern.get(), FcMatchPattern);
    FcDefaultSubstitute (pattern.get());

    FcResult result = FcResultNoMatch;
    const Pattern match (FcFontMatch (nullptr, pattern.get(), &result));

    if (match == nullptr)
        return {};

    // The best match may be another family altogether.
    bool sameFamily = false;
    FcChar8* name = nullptr;

    for (int i = 0; ! sameFamily && FcPatternGetString (match.get(), FC_FAMILY, i, &name) == FcResultMatch; ++i)
        sameFamily = (family == juce::String (juce::CharPointer_UTF8 ((const char*) name)));

    FcChar8* file = nullptr;
    int index = 0;

    if (! sameFamily || FcPatternGetString (match.get(), FC_FILE, 0, &file) != FcResultMatch)
        return {};

    FcPatternGetInteger (match.get(), FC_INDEX, 0, &index);
    return { juce::File (juce::String (juce::CharPointer_UTF8 ((const char*) file))), index };
}

juce::MemoryBlock extractFace (juce::InputStream& in, int index)
{
    const auto directory = findDirectory (in, index);
    juce::uint8 header[sfntHeaderSize];

    if (directory < 0 || ! readAt (in, directory, header, sizeof (header)))
        return {};

    const auto version = read32 (header);
    const auto numTables = (size_t) read16 (header + 4);

    if ((version != 0x00010000 && version != tag ("OTTO") && version != tag ("true")) || numTables == 0)
        return {};

    std::vector<juce::uint8> records (numTables * tableRecordSize);

    if (! readAt (in, directory + (juce::int64) sfntHeaderSize, records.data(), records.size()))
        return {};

    // The tables of one face never overlap, so together they fit in the file:
    // that bounds what a damaged directory can make us allocate.
    const auto fileSize = (juce::uint64) in.getTotalLength();
    juce::uint64 tableBytes = 0, size = sfntHeaderSize + records.size();

    for (size_t t = 0; t < numTables; ++t)
    {
        const auto* record = records.data() + t * tableRecordSize;
        const juce::uint64 offset = read32 (record + 8), length = read32 (record + 12);

        if (offset + length > fileSize)
            return {};

        tableBytes += length;
        size += (length + 3) & ~(juce::uint64) 3;
    }

    if (tableBytes > fileSize || size > (juce::uint64) std::numeric_limits<int>::max())
        return {};

    juce::MemoryBlock face ((size_t) size, false);
    auto* out = static_cast<juce::uint8*> (face.getData());
    std::memcpy (out, header, sizeof (header));

    // Same tables in the same order, each now right after the one before.
    auto position = (juce::uint32) (sfntHeaderSize + records.size());

    for (size_t t = 0; t < numTables; ++t)
    {
        const auto* record = records.data() + t * tableRecordSize;
        auto* newRecord = out + sfntHeaderSize + t * tableRecordSize;
        const auto length = read32 (record + 12);

        std::memcpy (newRecord, record, tableRecordSize);
        write32 (newRecord + 8, position);

        if (! readAt (in, read32 (record + 8), out + position, length))
            return {};

        const auto padded = (length + 3) & ~3u;
        std::memset (out + position + length, 0, padded - length);
        position += padded;
    }

    return face;
}

juce::Typeface::Ptr load (const juce::String& family)
{
    const auto location = find (family);

    if (location.file == juce::File())
        return nullptr;

    juce::FileInputStream in (location.file);

    if (! in.openedOk())
        return nullptr;

    const auto face = extractFace (in, location.index);

    if (face.isEmpty() || ! freeTypeReads (face, family))
        return nullptr;

    return juce::Typeface::createSystemTypefaceFor (face.getData(), face.getSize());
}

} // namespace InstalledFace
