#pragma once

#include <glib-object.h>
#include <utility>

namespace backend::gtk {

// Owns one reference to a GObject: a floating one is sunk, a full one is adopted as it is.
template<typename T>
class GObjectPtr {
public:
    GObjectPtr() = default;
    explicit GObjectPtr(T* object) : object_(object)
    {
        if (object_ && g_object_is_floating(object_))
            g_object_ref_sink(object_);
    }
    ~GObjectPtr() { reset(); }
    GObjectPtr(const GObjectPtr&) = delete;
    GObjectPtr& operator=(const GObjectPtr&) = delete;
    GObjectPtr(GObjectPtr&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    GObjectPtr& operator=(GObjectPtr&& other) noexcept
    {
        if (this != &other) {
            reset();
            object_ = std::exchange(other.object_, nullptr);
        }
        return *this;
    }

    T* get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    void reset()
    {
        if (auto* object = std::exchange(object_, nullptr))
            g_object_unref(object);
    }

private:
    T* object_ = nullptr;
};

} // namespace backend::gtk
