// The running instance of one process-wide part of the core (the store, the network
// services, the request pools, the platform links). Its owner binds it for a scope;
// the free functions of that part reach it through current<T>::get(). Binding and
// unbinding happen while no other thread uses the part (before its threads start,
// after they are joined), so a plain atomic pointer is enough.
#pragma once

#include <atomic>
#include <stdexcept>
#include <string>

namespace vandrel {

template <class T>
class current {
public:
    // Throws std::logic_error when nothing is bound: a call outside a running core.
    static T& get() {
        T* bound = slot().load(std::memory_order_acquire);
        if (bound == nullptr) throw std::logic_error(std::string("not running: ") + T::part_name);
        return *bound;
    }

    // The bound instance, or null.
    static T* find() noexcept { return slot().load(std::memory_order_acquire); }

    // Binds the instance for the binding's lifetime; throws std::logic_error when
    // another is bound already (two cores in one process).
    class binding {
    public:
        explicit binding(T& instance) : instance_(&instance) {
            T* expected = nullptr;
            if (!slot().compare_exchange_strong(expected, instance_, std::memory_order_acq_rel)) {
                throw std::logic_error(std::string("already running: ") + T::part_name);
            }
        }
        ~binding() {
            T* expected = instance_;
            slot().compare_exchange_strong(expected, nullptr, std::memory_order_acq_rel);
        }
        binding(const binding&) = delete;
        binding& operator=(const binding&) = delete;

    private:
        T* instance_;
    };

private:
    static std::atomic<T*>& slot() {
        static std::atomic<T*> bound{nullptr};
        return bound;
    }
};

}  // namespace vandrel
