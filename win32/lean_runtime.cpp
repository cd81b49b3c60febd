// Linked into what ships (the module and orvane), never into the test programs: replacements for the
// few parts of the C++ runtime that would bring in far more than they do.
//
// - The default terminate handler prints the name of the exception that ended the program, and for
//   that links in a C++ name demangler and a printf. Nothing here lets an exception reach terminate
//   (every boundary catches, see boundary.h), so ending at once is all that is left to do.
// - The string classes report a length or position out of range through these helpers, whose library
//   object brings in every standard exception class with a second string implementation for each.
//   Here they throw std::bad_alloc: every boundary handles it as "this step could not be done", which
//   is also all a caller could do with a std::length_error or std::out_of_range.
//
// - The guards of function-local statics, each thread's record of the exceptions in flight, and the
//   one-time set-up of the x86 unwinder use the POSIX threads library and an emulation of thread-local
//   storage, 50 to 70 KB here. These use the system's own calls instead.
//
// Together that is about 150 KB of a module that every shell loads. The linker takes these before it
// would look in the library; a library object that needed anything else from the same file would
// make the link fail with two definitions, never pass silently.
#include <windows.h>

#include <bits/functexcept.h>

#include <cstdint>
#include <cstdlib>
#include <new>

namespace __gnu_cxx {

void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx

namespace std {

void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_alloc(); }
void __throw_length_error(const char*) { throw bad_alloc(); }
void __throw_logic_error(const char*) { throw bad_alloc(); }
void __throw_out_of_range(const char*) { throw bad_alloc(); }
void __throw_out_of_range_fmt(const char*, ...) { throw bad_alloc(); }

}  // namespace std

// The guard of a function-local static (the Itanium C++ ABI's): its first byte, which the compiler's
// own code reads first, is set once the object is made; its second word is held by the thread that
// makes it. A thread that finds it held yields until the maker has finished or given up (its
// initialiser threw). A static's initialiser that waits for another thread's first use of the same
// static would deadlock anyway, so waiting by yielding loses nothing.
extern "C" {

int __cxa_guard_acquire(std::uint64_t* guard) {
    volatile LONG* const done = reinterpret_cast<volatile LONG*>(guard);
    volatile LONG* const held = done + 1;
    for (;;) {
        if (InterlockedCompareExchange(done, 0, 0) & 0xFF) return 0;
        if (InterlockedCompareExchange(held, 1, 0) == 0) {
            if (!(InterlockedCompareExchange(done, 0, 0) & 0xFF)) return 1;
            InterlockedExchange(held, 0);
            return 0;
        }
        SwitchToThread();
    }
}

void __cxa_guard_release(std::uint64_t* guard) {
    volatile LONG* const done = reinterpret_cast<volatile LONG*>(guard);
    InterlockedExchange(done, 1);
    InterlockedExchange(done + 1, 0);
}

void __cxa_guard_abort(std::uint64_t* guard) { InterlockedExchange(reinterpret_cast<volatile LONG*>(guard) + 1, 0); }

// The run-once of the threads library, which the x86 unwinder calls for its first exception: 0 not
// run, 1 running, 2 done (the library's own initial value is 0).
int pthread_once(volatile long* once, void (*function)()) {
    for (;;) {
        const long state = InterlockedCompareExchange(once, 1, 0);
        if (state == 2) return 0;
        if (state == 0) {
            function();
            InterlockedExchange(once, 2);
            return 0;
        }
        SwitchToThread();
    }
}

}  // extern "C"

// Each thread's exceptions in flight (the ABI's __cxa_eh_globals: the caught exceptions' chain and the
// count of uncaught ones), made at its first throw and freed when the thread ends, or when the module
// is unloaded: freeing the fiber-local slot calls the callback for every thread that has a record.
namespace {

constexpr DWORD kNoSlot = FLS_OUT_OF_INDEXES;
volatile LONG exceptionSlot = static_cast<LONG>(kNoSlot);

void WINAPI FreeExceptionRecord(void* record) {
    if (record) HeapFree(GetProcessHeap(), 0, record);
}

struct ExceptionSlotRelease {
    ~ExceptionSlotRelease() {
        const DWORD slot = static_cast<DWORD>(InterlockedExchange(&exceptionSlot, static_cast<LONG>(kNoSlot)));
        if (slot != kNoSlot) FlsFree(slot);
    }
} exceptionSlotRelease;

DWORD ExceptionSlot() {
    DWORD slot = static_cast<DWORD>(exceptionSlot);
    if (slot != kNoSlot) return slot;
    slot = FlsAlloc(FreeExceptionRecord);
    if (slot == kNoSlot) std::abort();
    const LONG before = InterlockedCompareExchange(&exceptionSlot, static_cast<LONG>(slot), static_cast<LONG>(kNoSlot));
    if (static_cast<DWORD>(before) == kNoSlot) return slot;
    FlsFree(slot);
    return static_cast<DWORD>(before);
}

}  // namespace

extern "C" {

void* __cxa_get_globals_fast() {
    const DWORD slot = ExceptionSlot();
    void* record = FlsGetValue(slot);
    if (record) return record;
    record = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, 2 * sizeof(void*));
    if (!record || !FlsSetValue(slot, record)) std::abort();
    return record;
}

void* __cxa_get_globals() { return __cxa_get_globals_fast(); }

}  // extern "C"
