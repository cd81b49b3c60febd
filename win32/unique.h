// Small owning wrappers for Win32 handles: one template, one alias per kind.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <utility>

namespace plx {

template <typename T, typename Close, T Invalid = T()>
class unique_any {
public:
    unique_any() noexcept = default;
    explicit unique_any(T value) noexcept : value_(value) {}
    unique_any(const unique_any&) = delete;
    unique_any& operator=(const unique_any&) = delete;
    unique_any(unique_any&& other) noexcept : value_(other.release()) {}
    unique_any& operator=(unique_any&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~unique_any() { reset(); }

    T get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Invalid; }
    T release() noexcept { return std::exchange(value_, Invalid); }
    void reset(T value = Invalid) noexcept {
        T old = std::exchange(value_, value);
        if (old != Invalid) Close()(old);
    }
    // For out-parameters: frees what is held and hands out the slot.
    T* put() noexcept {
        reset();
        return &value_;
    }

private:
    T value_ = Invalid;
};

struct close_hkey {
    void operator()(HKEY k) const noexcept { RegCloseKey(k); }
};
struct close_handle {
    void operator()(HANDLE h) const noexcept { CloseHandle(h); }
};
struct destroy_hicon {
    void operator()(HICON h) const noexcept { DestroyIcon(h); }
};
struct destroy_hmenu {
    void operator()(HMENU h) const noexcept { DestroyMenu(h); }
};
struct unhook {
    void operator()(HHOOK h) const noexcept { UnhookWindowsHookEx(h); }
};
struct delete_gdi {
    void operator()(HGDIOBJ h) const noexcept { DeleteObject(h); }
};
struct free_library {
    void operator()(HMODULE h) const noexcept { FreeLibrary(h); }
};
struct destroy_window {
    void operator()(HWND h) const noexcept { DestroyWindow(h); }
};
struct cotaskmem_free {
    void operator()(void* p) const noexcept { CoTaskMemFree(p); }
};
struct local_free {
    void operator()(void* p) const noexcept { LocalFree(p); }
};

using unique_hkey = unique_any<HKEY, close_hkey>;
using unique_handle = unique_any<HANDLE, close_handle>;
using unique_hicon = unique_any<HICON, destroy_hicon>;
using unique_hmenu = unique_any<HMENU, destroy_hmenu>;
using unique_hhook = unique_any<HHOOK, unhook>;
using unique_hfont = unique_any<HFONT, delete_gdi>;
using unique_hbitmap = unique_any<HBITMAP, delete_gdi>;
using unique_hbrush = unique_any<HBRUSH, delete_gdi>;
using unique_hmodule = unique_any<HMODULE, free_library>;
using unique_hwnd = unique_any<HWND, destroy_window>;
using unique_cotaskmem = unique_any<void*, cotaskmem_free>;
// What the security functions hand out with LocalAlloc.
using unique_hlocal = unique_any<void*, local_free>;

// File searches and change notifications report failure with INVALID_HANDLE_VALUE, not null.
template <typename Close>
class unique_invalid_handle {
public:
    unique_invalid_handle() noexcept = default;
    explicit unique_invalid_handle(HANDLE h) noexcept : h_(h) {}
    unique_invalid_handle(const unique_invalid_handle&) = delete;
    unique_invalid_handle& operator=(const unique_invalid_handle&) = delete;
    unique_invalid_handle(unique_invalid_handle&& o) noexcept
        : h_(std::exchange(o.h_, INVALID_HANDLE_VALUE)) {}
    unique_invalid_handle& operator=(unique_invalid_handle&& o) noexcept {
        if (this != &o) reset(std::exchange(o.h_, INVALID_HANDLE_VALUE));
        return *this;
    }
    ~unique_invalid_handle() { reset(); }
    void reset(HANDLE h = INVALID_HANDLE_VALUE) noexcept {
        const HANDLE old = std::exchange(h_, h);
        if (old != INVALID_HANDLE_VALUE) Close()(old);
    }
    HANDLE get() const noexcept { return h_; }
    explicit operator bool() const noexcept { return h_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE h_ = INVALID_HANDLE_VALUE;
};

struct close_find {
    void operator()(HANDLE h) const noexcept { FindClose(h); }
};
struct close_change_notification {
    void operator()(HANDLE h) const noexcept { FindCloseChangeNotification(h); }
};
using unique_hfind = unique_invalid_handle<close_find>;
// CreateFile reports failure with INVALID_HANDLE_VALUE as well.
using unique_hfile = unique_invalid_handle<close_handle>;
using unique_hchange = unique_invalid_handle<close_change_notification>;

// Puts the previously selected GDI object back into the device context.
class select_object {
public:
    select_object(HDC dc, HGDIOBJ obj) noexcept : dc_(dc), prev_(SelectObject(dc, obj)) {}
    select_object(const select_object&) = delete;
    select_object& operator=(const select_object&) = delete;
    ~select_object() {
        if (prev_) SelectObject(dc_, prev_);
    }

private:
    HDC dc_;
    HGDIOBJ prev_;
};

// A reference-counted COM pointer, without ATL.
template <typename T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(const ComPtr& o) noexcept : p_(o.p_) {
        if (p_) p_->AddRef();
    }
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ComPtr& operator=(ComPtr o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }
    ~ComPtr() {
        if (p_) p_->Release();
    }
    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    T** put() noexcept {
        reset();
        return &p_;
    }
    void reset() noexcept {
        if (p_) std::exchange(p_, nullptr)->Release();
    }

private:
    T* p_ = nullptr;
};

}  // namespace plx
