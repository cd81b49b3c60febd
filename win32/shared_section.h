// Variables that every process mapping the module sees as one copy: a data section named "Shared"
// with the shared attribute. Each such variable needs an initializer, or it lands in .bss.
#pragma once

#if defined(_MSC_VER)
#pragma section("Shared", read, write, shared)
#define PLX_SHARED __declspec(allocate("Shared"))
#else
#define PLX_SHARED __attribute__((section("Shared"), shared))
#endif
