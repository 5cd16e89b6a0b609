#include "platform/window.h"

#include "platform/toolkit.h"

namespace platform {

bool windowsAvailable() {
    return toolkit() != nullptr;
}

Window::Window(const WindowLayout& layout) : impl_(toolkit()->window(layout)) {}

Window::~Window() = default;

void Window::center() {
    impl_->center();
}

void Window::makeKeyAndOrderFront() {
    impl_->makeKeyAndOrderFront();
}

bool Window::isVisible() const {
    return impl_->isVisible();
}

QWidget* Window::widget() const {
    return impl_->widget();
}

}  // namespace platform
