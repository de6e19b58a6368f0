#pragma once
// Lock rules the compiler checks. Clang's thread-safety analysis reads these attributes (the
// clang build turns its warnings into errors); other compilers see nothing.

#if defined(__clang__)
#define VELT_THREAD_ATTRIBUTE(x) __attribute__((x))
#else
#define VELT_THREAD_ATTRIBUTE(x)
#endif

// A type whose objects are locks.
#define VELT_CAPABILITY(name) VELT_THREAD_ATTRIBUTE(capability(name))
// A type whose objects hold a lock from construction to destruction.
#define VELT_SCOPED_CAPABILITY VELT_THREAD_ATTRIBUTE(scoped_lockable)
// Data read or written only while the lock is held.
#define VELT_GUARDED_BY(lock) VELT_THREAD_ATTRIBUTE(guarded_by(lock))
// Data a pointer points to, read or written only while the lock is held.
#define VELT_PT_GUARDED_BY(lock) VELT_THREAD_ATTRIBUTE(pt_guarded_by(lock))
// The caller holds the lock(s) on entry, and still does on return.
#define VELT_REQUIRES(...) VELT_THREAD_ATTRIBUTE(requires_capability(__VA_ARGS__))
// The caller must not hold the lock(s): the function takes them itself.
#define VELT_EXCLUDES(...) VELT_THREAD_ATTRIBUTE(locks_excluded(__VA_ARGS__))
#define VELT_ACQUIRE(...) VELT_THREAD_ATTRIBUTE(acquire_capability(__VA_ARGS__))
#define VELT_RELEASE(...) VELT_THREAD_ATTRIBUTE(release_capability(__VA_ARGS__))
#define VELT_RETURN_CAPABILITY(x) VELT_THREAD_ATTRIBUTE(lock_returned(x))
// For the rare function whose locking the analysis cannot follow; say why where it is used.
#define VELT_NO_THREAD_SAFETY_ANALYSIS VELT_THREAD_ATTRIBUTE(no_thread_safety_analysis)
