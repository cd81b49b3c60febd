// No C++ exception may leave the module through an export, a COM method, or a window, dialog or hook
// procedure: it would unwind through the system's frames or into the calling program. Each of them
// runs its work through CallAtBoundary.
#pragma once

namespace plx {

// Returns what body returns, or fallback when body throws (std::bad_alloc, for one): an export's
// failure result, or the value with which a procedure leaves the message to its default handling.
template <typename Result, typename Body>
Result CallAtBoundary(Result fallback, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return fallback;
    }
}

}  // namespace plx
