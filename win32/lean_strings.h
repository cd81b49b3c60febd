// Read before every source file of the build (CMakeLists.txt: -include). The library's string classes
// come ready-made, each in one object with every member; what ships links that whole object for a few
// members. Without the declarations that point at it (as the library's own checked mode does), each
// source file makes the members it uses, and the linker keeps one copy of each and drops the rest:
// about 30 KB less for the module and for orvane.exe.
#include <bits/c++config.h>
#undef _GLIBCXX_EXTERN_TEMPLATE
#define _GLIBCXX_EXTERN_TEMPLATE -1
