#pragma once
// The owner of what a process-wide driver holds between Java calls.

#include <memory>
#include <utility>

namespace Dravlo {

/// Owner of one heap object a process-wide driver holds between Java calls.
/// reset() deletes what it held; the destructor, run at library unload,
/// deliberately deletes nothing, since that would call COM from a dying
/// process.
template <class T>
class DriverOwned {
public:
    DriverOwned() = default;
    DriverOwned(const DriverOwned&) = delete;
    DriverOwned& operator=(const DriverOwned&) = delete;
    explicit DriverOwned(std::unique_ptr<T> object) noexcept : object_(object.release()) {}
    DriverOwned(DriverOwned&& other) noexcept : object_(other.release()) {}
    DriverOwned& operator=(DriverOwned&& other) noexcept {
        if (this != &other) {
            reset();
            object_ = other.release();
        }
        return *this;
    }
    ~DriverOwned() = default;  // abandons: see above

    T* get() const noexcept { return object_; }
    T* operator->() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }

    /// Deletes what is held; empty afterwards.
    void reset() noexcept { delete std::exchange(object_, nullptr); }
    /// Hands the object to the caller, who frees it; empty afterwards.
    [[nodiscard]] T* release() noexcept { return std::exchange(object_, nullptr); }

private:
    T* object_ = nullptr;
};

}  // namespace Dravlo
