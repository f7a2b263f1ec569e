// Owners for what COM hands out: an interface reference, a VARIANT, a BSTR.
// Each frees what it holds when it is reassigned or goes out of scope, and
// none is copied or moved: each stays where it was made.
#pragma once

#include <utility>

#include "automation/com.h"

namespace kelvarin {

template <class T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  ~ComPtr() { reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;

  // Takes over a reference the caller already owns.
  static ComPtr Attach(T* ptr) noexcept { return ComPtr(ptr); }

  void reset() noexcept {
    if (T* old = std::exchange(ptr_, nullptr)) old->Release();
  }
  [[nodiscard]] T* get() const noexcept { return ptr_; }
  // Releases what is held and hands out the place for a new reference.
  T** put() noexcept {
    reset();
    return &ptr_;
  }
  void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
  T* operator->() const noexcept { return ptr_; }
  explicit operator bool() const noexcept { return ptr_ != nullptr; }

 private:
  explicit ComPtr(T* ptr) noexcept : ptr_(ptr) {}
  T* ptr_ = nullptr;
};

class UniqueVariant {
 public:
  UniqueVariant() noexcept { VariantInit(&value_); }
  ~UniqueVariant() { VariantClear(&value_); }
  UniqueVariant(const UniqueVariant&) = delete;
  UniqueVariant& operator=(const UniqueVariant&) = delete;
  void reset() noexcept { VariantClear(&value_); }
  [[nodiscard]] VARIANT* get() noexcept { return &value_; }
  [[nodiscard]] const VARIANT& operator*() const noexcept { return value_; }
  [[nodiscard]] VARIANT& operator*() noexcept { return value_; }
  const VARIANT* operator->() const noexcept { return &value_; }
  VARIANT* operator->() noexcept { return &value_; }

 private:
  VARIANT value_{};
};

class UniqueBstr {
 public:
  explicit UniqueBstr(BSTR text) noexcept : text_(text) {}
  ~UniqueBstr() { SysFreeString(text_); }
  UniqueBstr(const UniqueBstr&) = delete;
  UniqueBstr& operator=(const UniqueBstr&) = delete;

  [[nodiscard]] BSTR get() const noexcept { return text_; }
  explicit operator bool() const noexcept { return text_ != nullptr; }

 private:
  BSTR text_ = nullptr;
};

}  // namespace kelvarin
