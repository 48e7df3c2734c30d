#pragma once

//==============================================================================
/** Who makes Vobrel, and where it reaches them: every address and name that
    the update check, the update prompt and the About box use, and the e-mail
    address that the build reads from here for the plug-in's metadata.
*/
namespace MakerInfo
{
    /** Host of the update server; the check always asks it over HTTPS. */
    inline constexpr const char* updateServer = "www.ferrowood-audio.com";

    /** The maker's e-mail address, as the plug-in formats' metadata gives it to hosts. */
    inline constexpr const char* email = "support@ferrowood-audio.com";

    /** Where the update prompt sends the user. */
    inline constexpr const char* webPage = "https://www.ferrowood-audio.com/vobrel";

    /** The people in the About box, one name per credit line. */
    inline constexpr const char* soundDesign  = "Maren Holt";
    inline constexpr const char* uiDesign     = "Ilya Sorensen";
    inline constexpr const char* development  = "Tobias Quill";
    inline constexpr const char* distribution = "Ferrowood Audio";

    /** The About box's last line, the same in every language. */
    inline constexpr const char* copyrightLine = "Copyright (C) 2026 Ferrowood Audio";
}
