#include "BuiltBinaries.h"

#include <link.h>

#include <atomic>
#include <climits>
#include <cstdlib>

//==============================================================================
// JUCE 7.0.5's LV2 host loads ~/.lv2, /usr/lib/lv2 and /usr/local/lib/lv2 into
// every LV2PluginFormat before any folder it is given, and ignores LV2_PATH.
// Of a URI found twice, lilv keeps the newer version, or the first of equal
// ones while still reading the other's description: the DSP and the UI can then
// come from different binaries. The host programs link with
// --wrap=lilv_world_load_all: each load of JUCE's lilv sees the built bundle's
// folder and nothing else.
extern "C"
{
    typedef struct LilvWorldImpl LilvWorld;
    typedef struct LilvNodeImpl LilvNode;

    LilvNode* lilv_new_string (LilvWorld*, const char*);
    void lilv_node_free (LilvNode*);
    void lilv_world_set_option (LilvWorld*, const char* uri, const LilvNode*);

    void __real_lilv_world_load_all (LilvWorld*);
    void __wrap_lilv_world_load_all (LilvWorld*);
}

namespace
{
    std::atomic<int> confinedSearches { 0 };

    juce::String realPath (const juce::String& path)
    {
        char resolved[PATH_MAX];
        return ::realpath (path.toRawUTF8(), resolved) != nullptr ? juce::String (resolved) : path;
    }

    /** Shared objects that the process loaded from a plug-in bundle (*.vst3, *.lv2). */
    juce::StringArray loadedPluginBinaries()
    {
        juce::StringArray paths;

        dl_iterate_phdr ([] (dl_phdr_info* info, size_t, void* data)
        {
            if (info->dlpi_name != nullptr && info->dlpi_name[0] != 0)
            {
                const auto path = realPath (info->dlpi_name);

                if (path.contains (".vst3/") || path.contains (".lv2/"))
                    static_cast<juce::StringArray*> (data)->addIfNotAlreadyThere (path);
            }

            return 0;
        }, &paths);

        return paths;
    }
}

void __wrap_lilv_world_load_all (LilvWorld* world)
{
    const auto folder = juce::File (VOBREL_LV2_BUNDLE).getParentDirectory().getFullPathName();
    auto* path = lilv_new_string (world, folder.toRawUTF8());
    lilv_world_set_option (world, "http://drobilla.net/ns/lilv#lv2-path", path);
    lilv_node_free (path);

    __real_lilv_world_load_all (world);
    ++confinedSearches;
}

//==============================================================================
namespace builtbinaries
{
int confinedLV2Searches()
{
    return confinedSearches.load();
}

juce::String whatIsWrongWithLoadedBinaries (const juce::File& binary)
{
    const juce::StringArray built { realPath (VOBREL_VST3_BINARY), realPath (VOBREL_LV2_BINARY) };
    const auto loaded = loadedPluginBinaries();
    juce::StringArray wrong;

    if (! loaded.contains (realPath (binary.getFullPathName())))
        wrong.add ("the built binary is not loaded: " + binary.getFullPathName());

    for (const auto& path : loaded)
        if (! built.contains (path))
            wrong.add ("a plug-in binary from outside the build is loaded: " + path);

    return wrong.joinIntoString ("\n");
}
}
