// An open system object that closes itself: a file descriptor on POSIX, a HANDLE on
// Windows. Moves, never copies, so every object has exactly one owner.
#pragma once

namespace platform {

class Handle {
 public:
#ifdef _WIN32
  using Native = void*;
  static constexpr Native kNone = nullptr;  // also what stands for INVALID_HANDLE_VALUE
#else
  using Native = int;
  static constexpr Native kNone = -1;
#endif

  Handle() = default;
  explicit Handle(Native native) : native_(native) {}
  ~Handle() { reset(); }
  Handle(Handle&& other) noexcept : native_(other.release()) {}
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      reset();
      native_ = other.release();
    }
    return *this;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  Native get() const { return native_; }
  explicit operator bool() const { return native_ != kNone; }

  // Gives the object up without closing it.
  Native release() {
    const Native native = native_;
    native_ = kNone;
    return native;
  }

  // Closes the object, if any; a failure of the close is not reported.
  void reset() {
    if (native_ != kNone) closeNative(release());
  }

 private:
  // One implementation per system (file_system-posix.cpp, file_system-win32.cpp).
  static void closeNative(Native native);

  Native native_ = kNone;
};

}  // namespace platform
