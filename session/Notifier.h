#pragma once

#include <functional>
#include <vector>

// Observers of one kind of change, told in the order they were added. Unlike a Qt signal, an
// error that an observer raises reaches whoever caused the change and ends the telling, as
// when the steps were called one after another: the handler that began it reports it once.
template <typename... Args> class Notifier {
public:
    void observe(std::function<void(Args...)> observer) {
        observers_.push_back(std::move(observer));
    }
    void notify(Args... args) const {
        for (const auto& observer : observers_)
            observer(args...);
    }

private:
    std::vector<std::function<void(Args...)>> observers_;
};
