// Shared by the host test programs when built with AddressSanitizer.

#if defined (__has_feature)
 #if __has_feature (address_sanitizer)
  #define VOBREL_HOST_HAS_ASAN 1
 #endif
#endif

#if defined (__SANITIZE_ADDRESS__) || defined (VOBREL_HOST_HAS_ASAN)
// JUCE 7.0.5's bundled lilv overwrites the LV2 path option without freeing the
// previous copy when a second search path is set: a leak in the host library,
// not in the plug-in under test.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:lilv_world_set_option\n";
}
#endif
