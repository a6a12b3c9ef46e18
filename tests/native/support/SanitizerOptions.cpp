// Any ThreadSanitizer report ends the test at once, with a failing status.
#if defined(__SANITIZE_THREAD__)
#define QV_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QV_THREAD_SANITIZER 1
#endif
#endif

#ifdef QV_THREAD_SANITIZER
extern "C" const char* __tsan_default_options()
{
    return "halt_on_error=1:exitcode=66:second_deadlock_stack=1";
}
#endif
