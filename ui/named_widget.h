#pragma once

#include <utility>

namespace quenlo {

// A widget created with its control name as object name, so that tests and tools find it.
template <typename Widget, typename... Args>
Widget* Named(const char* name, Args&&... args) {
    auto* widget = new Widget(std::forward<Args>(args)...);
    widget->setObjectName(name);
    return widget;
}

}  // namespace quenlo
