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
// Together that is about 100 KB of a module that every shell loads. The linker takes these before it
// would look in the library; a library object that needed anything else from the same file would
// make the link fail with two definitions, never pass silently.
#include <bits/functexcept.h>

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
